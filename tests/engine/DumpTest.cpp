// Tests of the engine's diagnostic dumps: contour map, shade bands, grey tables, statistics, failures.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "EngineProbe.h"
#include "color/T_ColorConverter.h"
#include "support/ImageDrawing.h"
#include "support/TestSupport.h"

namespace {

using Pixel = std::array<int, 3>;
using Row = std::vector<Pixel>;
constexpr int kStrip = 1200;

// Runs a test inside a fresh temporary directory, since the dumps write to the
// current one; the previous directory comes back on destruction.
class InTempDirectory {
 public:
  InTempDirectory() : previous(std::filesystem::current_path()) {
    std::string pattern = testing::TempDir() + "veskar_dumps_XXXXXX";
    directory = mkdtemp(pattern.data());
    std::filesystem::current_path(directory);
  }
  ~InTempDirectory() {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(directory);
  }
  InTempDirectory(const InTempDirectory&) = delete;
  InTempDirectory& operator=(const InTempDirectory&) = delete;

 private:
  std::filesystem::path previous;
  std::string directory;
};

std::string fileText(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string fileText(FILE* file) {
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
  return text;
}

void writeText(const std::string& name, const std::string& text) { std::ofstream(name) << text; }

// Pixels as the shade picture writes them, one per pixel, no line breaks.
std::string pixelsText(const Pixel& p, int times) {
  std::string text;
  char one[32];
  std::snprintf(one, sizeof one, "%d %d %d  ", p[0], p[1], p[2]);
  for (int i = 0; i < times; ++i) text += one;
  return text;
}

Pixel rgbOf(double L, double u, double v) {
  unsigned char r = 0, g = 0, b = 0;
  T_ColorConverter::luv2rgbPrime(L, u, v, r, g, b);
  return {r, g, b};
}

// Splits the numbers of a plain pixmap body into rows of the strip width.
std::vector<Row> rowsOf(std::istream& in) {
  std::vector<Row> rows;
  for (Pixel p; in >> p[0] >> p[1] >> p[2];) {
    if (rows.empty() || rows.back().size() == kStrip) rows.emplace_back();
    rows.back().push_back(p);
  }
  return rows;
}

// The run-length form of a row: (colour, pixels) from the left.
std::vector<std::pair<Pixel, int>> runsOf(const Row& row) {
  std::vector<std::pair<Pixel, int>> runs;
  for (const Pixel& p : row) {
    if (runs.empty() || runs.back().first != p) runs.emplace_back(p, 0);
    ++runs.back().second;
  }
  return runs;
}

const Pixel kBlack{0, 0, 0};

}  // namespace

// An engine that dumps once, at the named step, and keeps what the contour
// records and the regions held at that moment.
class DumpingEngine : public EngineProbe {
 public:
  explicit DumpingEngine(std::string step) : dumpAt(std::move(step)) {}

  std::set<std::pair<unsigned, unsigned>> jaggedPixels, smoothPixels;
  std::vector<uint32_t> countsBefore, countsAfter;
  std::multiset<Pixel> modelColours;
  uint32_t regionsAtDump = 0;
  // The engine's codes are multiples of 255 / h, never 80 itself: plant the
  // boundary codes 80 and 79 into the first contour.
  bool plantBoundaryCodes = false;
  std::pair<unsigned, unsigned> plantedAt80, plantedAt79;
  int dumpWidth = 0, dumpHeight = 0;

 protected:
  void stepDone(const char* step) override {
    if (dumpAt != step) return;
    if (plantBoundaryCodes) plantCodes();
    recordContours();
    countsBefore = pixelCounts();
    writeContours();
    writeColorShades();
    countsAfter = pixelCounts();
  }

 private:
  // Absorbed regions have empty contours, so all records together hold
  // exactly the live contours.
  void recordContours() {
    regionsAtDump = regionCount;
    dumpWidth = width;
    dumpHeight = height;
    for (int c = 0; c < contourCount; ++c)
      for (uint32_t i = 0; i < contours[c].nPixels; ++i)
        (contours[c].pixelJaggedness[i] >= 80 ? jaggedPixels : smoothPixels)
            .insert({contours[c].pixelX[i], contours[c].pixelY[i]});
    for (int m = 0; m < colorModelCount; ++m) {
      const ColorShade* shade = colorModels[m].getFullShadeList();
      modelColours.insert(rgbOf(shade->L, shade->u, shade->v));
    }
  }
  void plantCodes() {
    CRSSTContour& first = contours[0];
    first.pixelJaggedness[0] = 80;
    first.pixelJaggedness[1] = 79;
    plantedAt80 = {first.pixelX[0], first.pixelY[0]};
    plantedAt79 = {first.pixelX[1], first.pixelY[1]};
  }
  std::vector<uint32_t> pixelCounts() {
    std::vector<uint32_t> counts;
    for (int i = 0; i < width * height; ++i) counts.push_back(regions[i].pixelCount);
    return counts;
  }
  std::string dumpAt;
};

class FrameDumpTest : public testing::Test {
 protected:
  // A noisy scene stopped at 20 regions by the first stage; each region then
  // has a one-shade model.
  void segmentAndDumpAt(DumpingEngine& engine) {
    S_CImageStorage image;
    drawNoisyScene(image, {"RRGGBBYY", "RRGGBBYY", "KKWWCCMM", "KKWWCCMM", "OOggRRGG", "OOggRRGG"}, 5, 40, 7);
    engine.firstStageRegions = 20;
    S_RegionStorage result;
    engine.processFrame(image, result, 2, 2, 0);
  }
  InTempDirectory here;
};

TEST_F(FrameDumpTest, ContourMapMarksExactlyTheJaggedContourPixels) {
  DumpingEngine engine("contours");
  engine.plantBoundaryCodes = true;
  segmentAndDumpAt(engine);
  ASSERT_FALSE(engine.jaggedPixels.empty());  // the scene must exercise both values
  ASSERT_FALSE(engine.smoothPixels.empty());
  std::istringstream in(fileText("contours.ppm"));
  std::string magic;
  int w = 0, h = 0, maximum = 0;
  in >> magic >> w >> h >> maximum;
  EXPECT_EQ(magic, "P2");
  ASSERT_EQ(std::pair(w, h), std::pair(40, 30));
  EXPECT_EQ(maximum, 255);
  std::vector<int> samples;
  for (int sample; in >> sample;) samples.push_back(sample);
  ASSERT_EQ(samples.size(), 1200u);
  int mismatches = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool jagged = engine.jaggedPixels.count({unsigned(x), unsigned(y)}) > 0;
      mismatches += samples[y * w + x] != (jagged ? 255 : 0);
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(samples[engine.plantedAt80.second * w + engine.plantedAt80.first], 255);
  EXPECT_EQ(samples[engine.plantedAt79.second * w + engine.plantedAt79.first], 0);
  EXPECT_EQ(engine.countsAfter, engine.countsBefore);  // visited marks restored
}

TEST_F(FrameDumpTest, ShadePictureDeclaresTheRowsItWritesWithFiftyRowBands) {
  DumpingEngine engine("contours");
  segmentAndDumpAt(engine);
  ASSERT_EQ(engine.regionsAtDump, 20u);
  const int bandHeight = 50;  // 20 + 1200 / 40
  std::istringstream in(fileText("shades.ppm"));
  std::string magic;
  int w = 0, h = 0, maximum = 0;
  in >> magic >> w >> h >> maximum;
  EXPECT_EQ(magic, "P3");
  EXPECT_EQ(std::pair(w, h), std::pair(1200, 20 * (bandHeight + 1)));
  EXPECT_EQ(maximum, 255);
  const std::vector<Row> rows = rowsOf(in);
  ASSERT_EQ(static_cast<int>(rows.size()), h);
  ASSERT_EQ(rows.back().size(), size_t(kStrip));
  std::multiset<Pixel> bandColours;
  for (int band = 0; band < 20; ++band) {
    const int top = band * (bandHeight + 1);
    for (int r = 1; r < bandHeight; ++r) EXPECT_EQ(rows[top + r], rows[top]) << "band " << band;
    EXPECT_EQ(rows[top + bandHeight], Row(kStrip, kBlack)) << "band " << band;
    const auto runs = runsOf(rows[top]);
    ASSERT_EQ(runs.size(), 2u) << "band " << band;  // one shade, then black
    EXPECT_EQ(runs[1].first, kBlack);
    bandColours.insert(runs[0].first);
  }
  EXPECT_EQ(bandColours, engine.modelColours);
}

TEST_F(FrameDumpTest, DumpsAtALaterStageFollowTheMergedContours) {
  DumpingEngine engine("remove jagged");
  segmentAndDumpAt(engine);
  ASSERT_GT(engine.regionsAtDump, 0u);
  std::istringstream contours(fileText("contours.ppm"));
  std::string magic;
  int w = 0, h = 0, maximum = 0, sample = 0, marked = 0;
  contours >> magic >> w >> h >> maximum;
  for (int i = 0; i < w * h && contours >> sample; ++i) marked += sample == 255;
  EXPECT_EQ(marked, static_cast<int>(engine.jaggedPixels.size()));
  std::istringstream shades(fileText("shades.ppm"));
  shades >> magic >> w >> h >> maximum;
  const unsigned n = engine.regionsAtDump;
  EXPECT_EQ(h, static_cast<int>(n * (n + 1200 / (2 * n) + 1)));
  EXPECT_EQ(static_cast<int>(rowsOf(shades).size()), h);
  EXPECT_EQ(engine.countsAfter, engine.countsBefore);
}

class ShadeBandTest : public testing::Test {
 protected:
  ShadeBandTest() {
    probe.width = 100;
    probe.height = 50;  // area 5000: a shade of n pixels has S = n * 0.24
  }
  std::string band(int bandHeight) {
    FILE* file = std::tmpfile();
    probe.writeRegionShades(file, &model, bandHeight);
    std::string text = fileText(file);
    std::fclose(file);
    return text;
  }
  std::vector<Row> bandRows(int bandHeight) {
    std::istringstream in(band(bandHeight));
    return rowsOf(in);
  }
  EngineProbe probe;
  CLUVColorModel model;
};

TEST_F(ShadeBandTest, LayoutIsTwoHalvesAndABlackRow) {
  model.addShade(60.0, 10.0, -5.0, 10);  // S = 2.4: three pixels
  const std::string row = pixelsText(rgbOf(60.0, 10.0, -5.0), 3) + pixelsText(kBlack, kStrip - 3);
  const std::string blackRow = pixelsText(kBlack, kStrip);
  EXPECT_EQ(band(5), "\n\n" + row + row + "\n" + row + row + row + blackRow);
  EXPECT_EQ(band(4), "\n\n" + row + row + "\n" + row + row + blackRow);
}

TEST_F(ShadeBandTest, ShadesRunOutwardsFromTheFullListMean) {
  model.addShade(80.0, 0.0, 0.0, 110);  // S = 26.4: 27 pixels
  model.addShade(50.0, 0.0, 0.0, 310);  // S = 74.4: 75 pixels
  model.addShade(52.0, 0.0, 0.0, 310);  // mean L = 55.37, so this one leads
  model.addShade(30.0, 0.0, 0.0, 0);    // no pixels: never shown
  const auto rows = bandRows(2);
  ASSERT_EQ(rows.size(), 3u);
  using Runs = std::vector<std::pair<Pixel, int>>;
  EXPECT_EQ(runsOf(rows[0]), (Runs{{rgbOf(52, 0, 0), 75}, {rgbOf(50, 0, 0), 75}, {rgbOf(80, 0, 0), 27},
                                   {kBlack, kStrip - 177}}));
  // The dominant shades are the two 310s (50 first). Measured from their own
  // mean, 51, they would tie and 50 would lead.
  EXPECT_EQ(runsOf(rows[1]), (Runs{{rgbOf(52, 0, 0), 75}, {rgbOf(50, 0, 0), 75}, {kBlack, kStrip - 150}}));
  EXPECT_EQ(rows[2], Row(kStrip, kBlack));
}

TEST_F(ShadeBandTest, EqualDistancesKeepListOrderAndStripsStopAtTheEdge) {
  model.addShade(60.0, 0.0, 0.0, 110);
  model.addShade(50.0, 0.0, 0.0, 110);  // mean 55: both 5 away
  auto rows = bandRows(2);
  EXPECT_EQ(runsOf(rows[0]).front(), std::pair(rgbOf(60, 0, 0), 27));
  CLUVColorModel wide;
  wide.addShade(40.0, 0.0, 0.0, 5000);  // S = 1200: one more pixel would pass the edge
  wide.addShade(45.0, 0.0, 0.0, 10);
  FILE* file = std::tmpfile();
  probe.writeRegionShades(file, &wide, 2);
  std::istringstream in(fileText(file));
  std::fclose(file);
  rows = rowsOf(in);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(runsOf(rows[0]), (std::vector<std::pair<Pixel, int>>{{rgbOf(40, 0, 0), kStrip}}));
}

TEST_F(ShadeBandTest, OnlyTheFirst498ShadesAreShown) {
  probe.width = 200;
  probe.height = 100;  // S = 0.06 per one-pixel shade: one strip pixel each
  for (int i = 0; i < 500; ++i) model.addShade(60.0, 0.0, 0.0, 1);
  const auto rows = bandRows(2);
  ASSERT_EQ(rows.size(), 3u);
  const auto runs = runsOf(rows[0]);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_EQ(runs[0], std::pair(rgbOf(60, 0, 0), 498));
  EXPECT_EQ(runs[1], std::pair(kBlack, kStrip - 498));
}

class GreyTableTest : public testing::Test {
 protected:
  // columns[x][y], filled row by row from the given samples.
  unsigned** table(int w, int h, const std::vector<unsigned>& rowMajor) {
    columns.assign(w, std::vector<unsigned>(h));
    pointers.clear();
    for (int x = 0; x < w; ++x) {
      for (int y = 0; y < h; ++y) columns[x][y] = rowMajor[y * w + x];
      pointers.push_back(columns[x].data());
    }
    return pointers.empty() ? &placeholder : pointers.data();
  }
  InTempDirectory here;
  EngineProbe probe;
  std::vector<std::vector<unsigned>> columns;
  std::vector<unsigned*> pointers;
  unsigned* placeholder = nullptr;
  char name[16] = "table.pgm";
};

TEST_F(GreyTableTest, ByteTableKeepsTheLowByteRowByRow) {
  probe.saveUCHARTableAsImage(table(3, 2, {0, 255, 256, 257, 511, 1000}), 3, 2, name);
  EXPECT_EQ(fileText(name), "P2\n3 2\n255\n0\n255\n0\n1\n255\n232\n");
}

TEST_F(GreyTableTest, ScaledTableMapsTheWorkingAreaTo255AndWraps) {
  probe.width = 10;
  probe.height = 10;
  probe.saveTableAsImage(table(5, 1, {0, 1, 50, 100, 200}), 5, 1, name);
  EXPECT_EQ(fileText(name), "P2\n5 1\n255\n0\n2\n127\n255\n254\n");
}

TEST_F(GreyTableTest, EmptyTablesWriteOnlyTheHeader) {
  probe.saveUCHARTableAsImage(table(3, 0, {}), 3, 0, name);
  EXPECT_EQ(fileText(name), "P2\n3 0\n255\n");
  probe.width = probe.height = 4;
  probe.saveTableAsImage(table(0, 2, {}), 0, 2, name);
  EXPECT_EQ(fileText(name), "P2\n0 2\n255\n");
}

TEST(CalcStatTest, PrintsMeanAndDeviationOfTheNumbersUpToTheFirstNonNumber) {
  InTempDirectory here;
  EngineProbe probe;
  writeText("complexities.txt", "1 2\n3\t4\n");
  EXPECT_EQ(captureStderr([&] { probe.calcStat("complexities.txt"); }),
            "\nAVERAGE COMPLX: 2.500000\nSTDVAR COMPLX: 1.118034");
  writeText("stops.txt", "1 2 x 100");
  EXPECT_EQ(captureStderr([&] { probe.calcStat("stops.txt"); }),
            "\nAVERAGE COMPLX: 1.500000\nSTDVAR COMPLX: 0.500000");
}

TEST(CalcStatTest, EmptyOrMissingFilesAreReportedNotDivided) {
  InTempDirectory here;
  EngineProbe probe;
  writeText("empty.txt", "  \n");
  EXPECT_EQ(captureStderr([&] { probe.calcStat("empty.txt"); }),
            warningText("M_RSST::calcStat(...), No numbers in empty.txt"));
  EXPECT_EQ(captureStderr([&] { probe.calcStat("missing.txt"); }),
            warningText("M_RSST::calcStat(...), Open file failed: missing.txt"));
}

using DumpDeathTest = GreyTableTest;

// These messages are printed as they are, without the ERROR frame.
#define EXPECT_DUMP_FATAL(statement, message) \
  EXPECT_EXIT(statement, testing::ExitedWithCode(1), literally(message) + "$")

TEST_F(DumpDeathTest, FailuresEndTheProcessWithTheirOwnMessages) {
  char unwritable[] = "no_such_directory/table.pgm";
  EXPECT_DUMP_FATAL(probe.saveTableAsImage(nullptr, 1, 1, name), "\nsaveTableAsImage(), table pointer is NULL!!!");
  EXPECT_DUMP_FATAL(probe.saveTableAsImage(table(1, 1, {0}), 1, 1, unwritable),
                    "\nsaveTableAsImage, Open file failed!!!");
  EXPECT_DUMP_FATAL(probe.saveUCHARTableAsImage(nullptr, 1, 1, name),
                    "\nsaveUCHARTableAsImage, table pointer is NULL!!!");
  EXPECT_DUMP_FATAL(probe.saveUCHARTableAsImage(table(1, 1, {0}), 1, 1, unwritable),
                    "\nsaveUCHARTableAsImage, Open file failed!!!");
  std::filesystem::create_directory("shades.ppm");  // a directory cannot be opened for writing
  EXPECT_DUMP_FATAL(probe.writeColorShades(), "\nM_RSST::writeColorShades(), Open file failed!!!");
  EXPECT_FATAL(probe.writeContours(), "M_RSST::writeContours(), there are no contours to draw!");
}
