// The arbitrary-shape mode end to end: region line, label map and the declined small image.
#include <cstdlib>
#include <set>

#include "DornickRun.h"
#include "support/GoldenMaps.h"

namespace {

class SegmentModeTest : public DornickRunTest {
 protected:
  // Runs the mode and checks what every successful run guarantees; returns the map.
  ParsedLabelMap segment(const std::string& image, const std::vector<std::string>& count) {
    std::vector<std::string> arguments{"AS", image, path("out.pgm")};
    arguments.insert(arguments.end(), count.begin(), count.end());
    const ProcessResult result = run(arguments);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    const ParsedLabelMap map = parseLabelMap(readFile(path("out.pgm")));
    const std::set<unsigned> labels(map.samples.begin(), map.samples.end());
    // Labels are 0..n-1 with every one used, and n is the count printed.
    EXPECT_FALSE(labels.empty());
    if (!labels.empty()) EXPECT_EQ(*labels.rbegin(), labels.size() - 1);
    EXPECT_EQ(result.out, "Number of regions : " + std::to_string(labels.size()) + " \n");
    return map;
  }

  static size_t distinctLabels(const ParsedLabelMap& map) {
    return std::set<unsigned>(map.samples.begin(), map.samples.end()).size();
  }
};

TEST_F(SegmentModeTest, WithoutCountTheRulesDecideUpTo255Regions) {
  const ParsedLabelMap map = segment(dataFile("rocket_96x64.png"), {});
  EXPECT_EQ(map.header, "P5\n# Created by Brindle image segmentation tool\n96 64\n255\n");
  EXPECT_GE(distinctLabels(map), 2u);
  EXPECT_LE(distinctLabels(map), 255u);
}

TEST_F(SegmentModeTest, CountBelow256IsReachedExactly) {
  EXPECT_EQ(distinctLabels(segment(dataFile("rocket_96x64.png"), {"40"})), 40u);
}

TEST_F(SegmentModeTest, CountAbove255GivesThatManyLabelsInSixteenBits) {
  const ParsedLabelMap map = segment(dataFile("rocket_96x64.png"), {"300"});
  EXPECT_EQ(map.header, "P5\n# Created by Brindle image segmentation tool\n96 64\n65535\n");
  EXPECT_EQ(distinctLabels(map), 300u);
}

TEST_F(SegmentModeTest, CountBelowTwoForcesTwoRegions) {
  const ProcessResult result = run({"AS", dataFile("rocket_96x64.png"), path("out.pgm"), "0"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Number of regions : 2 \n");
  EXPECT_EQ(distinctLabels(parseLabelMap(readFile(path("out.pgm")))), 2u);
}

// A CMYK file holds inks, not red, green and blue: it is converted on loading.
TEST_F(SegmentModeTest, CmykImageSegmentsLikeItsRgbOriginal) {
  const std::string cmyk = path("rocket_cmyk.tif");
  const std::string convert = "convert " + dataFile("rocket_96x64.png") + " -colorspace CMYK " + cmyk;
  ASSERT_EQ(std::system(convert.c_str()), 0);
  const ParsedLabelMap fromRgb = segment(dataFile("rocket_96x64.png"), {"10"});
  const ParsedLabelMap fromCmyk = segment(cmyk, {"10"});
  EXPECT_EQ(fromCmyk.samples, fromRgb.samples);
}

TEST_F(SegmentModeTest, TwoColouredHalvesBecomeTwoRegionsSplitByColumn) {
  const ParsedLabelMap map = segment(dataFile("halves_8x6.ppm"), {"2"});
  ASSERT_EQ(map.samples.size(), 48u);
  const unsigned left = map.at(0, 0);
  const unsigned right = map.at(7, 5);
  EXPECT_NE(left, right);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(map.at(x, y), x < 4 ? left : right) << x << "," << y;
}

TEST_F(SegmentModeTest, ImageTooSmallForTheEngineWritesNoMap) {
  const ProcessResult result = run({"AS", dataFile("tiny_4x4.ppm"), path("out.pgm"), "10"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "Number of regions : 0 \n");
  EXPECT_EQ(result.err, "\nWARNING: \nInput image too small!\n");
  EXPECT_FALSE(exists("out.pgm"));
}

TEST_F(SegmentModeTest, UnopenableOutputFails) {
  const std::string target = path("missing-folder/out.pgm");
  const ProcessResult result = run({"AS", dataFile("halves_8x6.ppm"), target, "2"});
  EXPECT_EQ(result.status, 1);
  // Checked before the work: no region line.
  EXPECT_EQ(result.out, "failure in opening file " + target + "\n");
}

// Dornick reads the PNG to exactly the pixels of its PPM copy in the golden set,
// so its label maps are the golden ones.
TEST_F(SegmentModeTest, PngGivesTheGoldenLabelMaps) {
  std::vector<GoldenMap> golden;
  ASSERT_EQ(parseGoldenMaps(readFile(dataFile("golden/rocket_96x64.labels")), golden), "");
  ASSERT_EQ(golden.size(), 5u);
  for (const GoldenMap& map : golden) {
    std::vector<std::string> count;
    if (map.request.wanted != 0) count.push_back(std::to_string(map.request.wanted));
    const ParsedLabelMap written = segment(dataFile("rocket_96x64.png"), count);
    GoldenMap actual = map;
    actual.labels.assign(written.samples.begin(), written.samples.end());
    actual.regions = static_cast<int>(distinctLabels(written));
    EXPECT_EQ(describeDifference(map, actual), "") << "wanted " << map.request.wanted;
  }
}

}  // namespace
