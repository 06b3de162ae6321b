// Tests of the label output: numbering, the margin band, odd sizes, region colours and live-link counts.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineProbe.h"
#include "EngineSteps.h"
#include "color/T_ColorConverter.h"
#include "support/ImageDrawing.h"

namespace {

using Pel = std::pair<int, int>;

std::vector<int> channels(const E_Rgb& c) { return {c.r, c.g, c.b}; }

std::set<int> distinct(const std::vector<int>& values) { return std::set<int>(values.begin(), values.end()); }

std::set<int> range(int first, int last) {
  std::set<int> values;
  for (int v = first; v <= last; ++v) values.insert(v);
  return values;
}

// Pels in the order the band is built: top row after (0, 0), the rest of the
// top band, left and right bands row by row, then the bottom band.
std::vector<Pel> bandOrder(int w, int h, int m) {
  std::vector<Pel> pels{{0, 0}};
  auto rows = [&](int y0, int y1, int x0, int x1) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) pels.emplace_back(x, y);
  };
  rows(0, 1, 1, w);
  rows(1, m, 0, w);
  rows(m, h, 0, m);
  rows(m, h, w - m, w);
  rows(h - m, h, m, w - m);
  return pels;
}

}  // namespace

class LabelOutputTest : public testing::Test {
 protected:
  // Merging stops at 20 regions, so regions hold many pixels.
  void SetUp() override { engine.firstStageRegions = 20; }
  void prepare(unsigned margin) {
    buildGraph(engine, image, margin);
    runFirstStage(engine, 2);
    giveColorModels(engine);
  }
  void write(unsigned margin) {
    result.allocateStorage(image.getWidth(), image.getHeight());
    engine.writeOutput(result, margin);
  }
  const E_RegionInfo* atSeed(int region, int margin) {
    return regionAt(margin + region % engine.width, margin + region / engine.width);
  }
  std::vector<Pel> pixelListOf(int region, int margin) {
    std::vector<Pel> pels;
    engine.forEachPixelOf(engine.regions[region],
                          [&](uint32_t p) { pels.emplace_back(margin + p % engine.width, margin + p / engine.width); });
    return pels;
  }
  const E_RegionInfo* regionAt(int x, int y) {
    return result.getPtr2PelRegion(static_cast<short>(x), static_cast<short>(y));
  }
  int labelAt(int x, int y) { return regionAt(x, y)->getObjectID(); }
  int pelsAt(int x, int y) { return regionAt(x, y)->getNumberOfPels(); }

  EngineProbe engine;
  S_CImageStorage image;
  S_RegionStorage result;
};

TEST_F(LabelOutputTest, EveryPelInOneRegionLabelledInVisitingOrder) {
  drawNoisyScene(image, {"RGB", "KWY"}, 8, 20, 2);
  prepare(0);
  const std::vector<int> live = liveRegions(engine);
  std::vector<uint32_t> counts;
  for (int r : live) counts.push_back(engine.regions[r].pixelCount);
  write(0);
  EXPECT_EQ(live.size(), 20u);
  EXPECT_EQ(result.getRegionNumber(), 20);
  EXPECT_EQ(distinct(labelsOf(result)), range(0, 19));  // no free pel (-1) either
  for (size_t i = 0; i < live.size(); ++i) {
    EXPECT_EQ(atSeed(live[i], 0)->getObjectID(), static_cast<int>(i));
    EXPECT_EQ(atSeed(live[i], 0)->getNumberOfPels(), static_cast<int>(counts[i]));
    EXPECT_EQ(engine.regions[live[i]].pixelCount, counts[i]) << "visited marks not restored";
  }
}

TEST_F(LabelOutputTest, EachRegionStartsAtItsSeedAndFollowsItsPixelList) {
  std::vector<std::string> rows;
  for (int i = 0; i < 10; ++i) rows.push_back(i % 2 == 0 ? "RGGBBRRGGBBRR" : "KWWYYKKWWYYKK");
  drawNoisyScene(image, rows, 2, 25, 6);  // 26 x 20, working area 20 x 14
  prepare(3);
  write(3);
  for (int r : liveRegions(engine)) {
    const std::vector<Pel> pels = pelsInAddingOrder(result, atSeed(r, 3));
    EXPECT_EQ(pels, pixelListOf(r, 3));
    EXPECT_EQ(pels.front(), Pel(3 + r % engine.width, 3 + r / engine.width));
  }
}

TEST_F(LabelOutputTest, MarginBandIsRegionZeroInRed) {
  drawNoisyScene(image, {"RGB", "KWY", "CMO"}, 10, 20, 3);
  prepare(2);
  write(2);
  const E_RegionInfo* band = result.getPtr2PelRegion(0, 0);
  int bandPels = 0;
  std::vector<int> inner;
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 30; ++x) {
      const bool inBand = x < 2 || x >= 28 || y < 2 || y >= 28;
      bandPels += inBand && result.getPtr2PelRegion(x, y) == band;
      if (!inBand) inner.push_back(labelAt(x, y));
    }
  }
  EXPECT_EQ(bandPels, 30 * 30 - 26 * 26);
  EXPECT_EQ(band->getNumberOfPels(), 30 * 30 - 26 * 26);
  EXPECT_EQ(band->getObjectID(), 0);
  unsigned char r = 0, g = 0, b = 0;
  band->readRegRgb(&r, &g, &b);
  EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({255, 0, 0}));
  EXPECT_EQ(distinct(inner), range(1, 20));
  EXPECT_EQ(result.getRegionNumber(), 21);
  EXPECT_EQ(pelsInAddingOrder(result, band), bandOrder(30, 30, 2));
}

TEST_F(LabelOutputTest, OddColumnAndRowCopyTheirWorkingNeighbours) {
  drawNoisyScene(image, std::vector<std::string>(9, "RGBKWYC"), 1, 30, 8);
  engine.firstStageRegions = 255;  // above the 48 working pixels: no merges
  prepare(0);
  write(0);
  EXPECT_EQ(engine.width, 6);
  EXPECT_EQ(engine.height, 8);
  for (int y = 0; y < 8; ++y) EXPECT_EQ(labelAt(6, y), labelAt(5, y)) << y;
  for (int x = 0; x < 6; ++x) EXPECT_EQ(labelAt(x, 8), labelAt(x, 7)) << x;
  EXPECT_EQ(labelAt(6, 8), labelAt(5, 8));
  EXPECT_EQ(distinct(labelsOf(result)), range(0, 47));
  EXPECT_EQ(pelsAt(0, 0), 1);
  EXPECT_EQ(pelsAt(5, 0), 2);
  EXPECT_EQ(pelsAt(0, 7), 2);
  EXPECT_EQ(pelsAt(5, 7), 4);  // its column, its row and the corner
}

TEST_F(LabelOutputTest, OddSizesInsideAMargin) {
  drawNoisyScene(image, std::vector<std::string>(31, std::string(33, 'g')), 1, 60, 9);
  prepare(2);
  write(2);
  EXPECT_EQ(engine.width, 28);
  EXPECT_EQ(engine.height, 26);
  for (int y = 2; y < 28; ++y) EXPECT_EQ(labelAt(30, y), labelAt(29, y)) << y;
  for (int x = 2; x < 30; ++x) EXPECT_EQ(labelAt(x, 28), labelAt(x, 27)) << x;
  EXPECT_EQ(labelAt(30, 28), labelAt(29, 28));
  EXPECT_EQ(result.getPtr2PelRegion(0, 0)->getNumberOfPels(), 33 * 31 - 29 * 27);
  EXPECT_EQ(labelAt(31, 28), 0);
  EXPECT_EQ(labelAt(30, 29), 0);
  EXPECT_EQ(distinct(labelsOf(result)), range(0, 20));
}

TEST_F(LabelOutputTest, ColourIsTheWeightedMeanOfTheDominantShades) {
  drawNoisyScene(image, {"RGB", "KWY"}, 8, 20, 2);
  prepare(0);
  const std::vector<int> live = liveRegions(engine);
  // Dominant: the 70 (largest) and the 30 (over a fifth); the far 10 is left out.
  CLUVColorModel& mixed = engine.colorModels[engine.regionDescriptors[live[0]].colorModelIndex];
  mixed.resetModel();
  mixed.addShade(70, 10, 10, 70);
  mixed.addShade(30, -20, 40, 30);
  mixed.addShade(90, 0, 0, 10);
  CLUVColorModel& dark = engine.colorModels[engine.regionDescriptors[live[1]].colorModelIndex];
  dark.resetModel();
  dark.addShade(0, 40, -30, 5);
  write(0);

  E_Rgb dominant, fullList, written;
  T_ColorConverter::luv2rgbPrime(58, 1, 19, dominant.r, dominant.g, dominant.b);
  T_ColorConverter::luv2rgbPrime(6700.0 / 110, 100.0 / 110, 1900.0 / 110, fullList.r, fullList.g, fullList.b);
  ASSERT_NE(channels(dominant), channels(fullList));  // the test tells the two lists apart
  atSeed(live[0], 0)->readRegRgb(&written);
  EXPECT_EQ(channels(written), channels(dominant));
  atSeed(live[1], 0)->readRegRgb(&written);
  EXPECT_EQ(channels(written), std::vector<int>({0, 0, 0}));

  // An untouched region shows its mean colour.
  const EngineProbe::RSSTRegion& plain = engine.regions[live[2]];
  E_Rgb mean;
  T_ColorConverter::luv2rgbPrime(plain.meanL, plain.meanU, plain.meanV, mean.r, mean.g, mean.b);
  atSeed(live[2], 0)->readRegRgb(&written);
  EXPECT_EQ(channels(written), channels(mean));
}

TEST_F(LabelOutputTest, LinkNumbersCountLiveLinksOnly) {
  drawNoisyScene(image, {"RGB", "KWY"}, 8, 20, 2);
  prepare(0);
  // The first stage hands over lists without removed links; a merge leaves
  // the nodes of those it removes on the neighbours' lists.
  engine.rsst_merge2Regions();
  const std::vector<int> live = liveRegions(engine);
  const std::set<int> liveSet(live.begin(), live.end());
  int dead = 0;
  while (liveSet.count(dead) != 0) ++dead;
  engine.regionDescriptors[dead].linkCount = -7;
  std::vector<uint32_t> counts;
  for (int r : live) counts.push_back(engine.regions[r].pixelCount);
  engine.extractLinkNumbers();
  int listsWithDeadNodes = 0;
  for (size_t i = 0; i < live.size(); ++i) {
    const int r = live[i];
    int liveLinks = 0, nodes = 0;
    for (uint32_t k = 1; k <= engine.heapSize(); ++k)
      liveLinks += engine.linkInSlot(k).regionA == r || engine.linkInSlot(k).regionB == r;
    for (uint32_t node = engine.regions[r].linkList; node != 0; node = engine.nextNode(node)) ++nodes;
    EXPECT_EQ(engine.regionDescriptors[r].linkCount, liveLinks) << r;
    EXPECT_EQ(engine.regions[r].pixelCount, counts[i]) << "visited marks not restored";
    listsWithDeadNodes += nodes > liveLinks;
  }
  EXPECT_GT(listsWithDeadNodes, 0);  // otherwise the count could not tell dead from live
  EXPECT_EQ(engine.regionDescriptors[dead].linkCount, -7);
}
