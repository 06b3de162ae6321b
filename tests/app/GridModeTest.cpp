// The grid-layout mode as seen from outside: region line, map header and samples.
#include <map>

#include "DornickRun.h"

namespace {

const std::string kHeader8 = "P5\n# Created by Brindle image segmentation tool\n";

class GridModeTest : public DornickRunTest {
 protected:
  ParsedLabelMap runGrid(int width, int height, const std::string& cellSize,
                         const std::string& expectedCount) {
    const std::string image = writeBlankPpm("in.ppm", width, height);
    const ProcessResult result = run({"GL", image, path("out.pgm"), cellSize});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "Number of regions : " + expectedCount + " \n");
    EXPECT_EQ(result.err, "");
    return parseLabelMap(readFile(path("out.pgm")));
  }
};

TEST_F(GridModeTest, CellsNumberedRowByRowAndUncoveredPelsCarryZero) {
  const ParsedLabelMap map = runGrid(100, 70, "30", "6");
  EXPECT_EQ(map.header, kHeader8 + "100 70\n255\n");
  ASSERT_EQ(map.samples.size(), 7000u);
  EXPECT_EQ(map.at(0, 0), 0u);
  EXPECT_EQ(map.at(29, 29), 0u);
  EXPECT_EQ(map.at(30, 0), 1u);
  EXPECT_EQ(map.at(89, 29), 2u);
  EXPECT_EQ(map.at(0, 30), 3u);
  EXPECT_EQ(map.at(59, 59), 4u);
  EXPECT_EQ(map.at(89, 59), 5u);
  for (int y = 0; y < 70; ++y) EXPECT_EQ(map.at(95, y), 0u) << "column 95, row " << y;
  for (int x = 0; x < 100; ++x) EXPECT_EQ(map.at(x, 65), 0u) << "row 65, column " << x;
  std::map<unsigned, int> pelsPerLabel;
  for (unsigned label : map.samples) ++pelsPerLabel[label];
  // Five whole cells of 900 pels; label 0 also takes the 1600 uncovered pels.
  const std::map<unsigned, int> expected{{0, 2500}, {1, 900}, {2, 900}, {3, 900}, {4, 900}, {5, 900}};
  EXPECT_EQ(pelsPerLabel, expected);
}

TEST_F(GridModeTest, TwoHundredFiftyFiveCellsStayEightBit) {
  const ParsedLabelMap map = runGrid(255, 1, "1", "255");
  EXPECT_EQ(map.header, kHeader8 + "255 1\n255\n");
  ASSERT_EQ(map.samples.size(), 255u);
  for (unsigned x = 0; x < 255; ++x) EXPECT_EQ(map.samples[x], x);
}

TEST_F(GridModeTest, TwoHundredFiftySixCellsGoSixteenBitLowByteFirst) {
  const ParsedLabelMap map = runGrid(16, 16, "1", "256");
  EXPECT_EQ(map.header, kHeader8 + "16 16\n65535\n");
  ASSERT_EQ(map.samples.size(), 256u);
  EXPECT_EQ(map.at(1, 0), 1u);
  EXPECT_EQ(map.at(0, 1), 16u);
  EXPECT_EQ(map.at(15, 15), 255u);
  const std::string bytes = readFile(path("out.pgm"));
  EXPECT_EQ(bytes.substr(map.header.size(), 4), std::string("\0\0\1\0", 4));
}

TEST_F(GridModeTest, LabelAboveOneByteIsWrittenLowByteFirst) {
  runGrid(30, 10, "1", "300");
  const std::string bytes = readFile(path("out.pgm"));
  // Label 299 = 0x012B on the last pel.
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\x2B\x01");
}

TEST_F(GridModeTest, LargestGridUsesEveryLabelBelow65535) {
  const ParsedLabelMap map = runGrid(255, 257, "1", "65535");
  EXPECT_EQ(map.header, kHeader8 + "255 257\n65535\n");
  ASSERT_EQ(map.samples.size(), 65535u);
  EXPECT_EQ(map.at(254, 256), 65534u);
}

TEST_F(GridModeTest, CellLargerThanImageGivesNoCellsAndAllZeros) {
  for (const std::string cellSize : {"101", "99999999999999999999"}) {
    const ParsedLabelMap map = runGrid(100, 70, cellSize, "0");
    EXPECT_EQ(map.header, kHeader8 + "100 70\n255\n");
    EXPECT_EQ(map.samples, std::vector<unsigned>(7000, 0)) << "cell size " << cellSize;
  }
}

TEST_F(GridModeTest, MoreThan65535CellsRefusedWithoutWriting) {
  const std::string image = writeBlankPpm("in.ppm", 256, 256);
  const ProcessResult result = run({"GL", image, path("out.pgm"), "1"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "\nERROR: Dornick -> A grid of more than 65535 cells does not fit a label map!\n");
  EXPECT_FALSE(exists("out.pgm"));
}

TEST_F(GridModeTest, UnopenableOutputFails) {
  const std::string image = writeBlankPpm("in.ppm", 100, 70);
  const std::string target = path("missing-folder/out.pgm");
  const ProcessResult result = run({"GL", image, target, "30"});
  EXPECT_EQ(result.status, 1);
  // Checked before the work: no region line.
  EXPECT_EQ(result.out, "failure in opening file " + target + "\n");
}

TEST_F(GridModeTest, OutputThatCannotBeFlushedFailsOnClosing) {
  const std::string image = writeBlankPpm("in.ppm", 100, 70);
  const ProcessResult result = run({"GL", image, "/dev/full", "30"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "Number of regions : 6 \nfailure in closing file /dev/full");
}

}  // namespace
