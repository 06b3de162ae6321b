// Tests of the merge stages: threshold, size limits, gates and predicates, and whole frames
// through the pipeline, the fast paths against the literal ones.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "DescriptorStates.h"

namespace {

class StageProbe : public DrawnProbe {
 public:
  using M_RSST::merge_VerySmall;
  using M_RSST::merge_Small;
  using M_RSST::merge_SmallWithBig;
  using M_RSST::merge_ColorAndContour;
};

class PairStageProbe : public PairProbe {};

// Records the region count after every pipeline step and checks, after each
// contour-aware step, that every live region's contour is exact: all its
// contour pixels when they fit, each with the code and length of its position.
class CheckedProbe : public EngineProbe {
 public:
  std::vector<std::pair<std::string, unsigned>> counts;
  std::vector<std::string> faults;
  int radius = 0;

 protected:
  void stepDone(const char* step) override {
    counts.emplace_back(step, regionCount);
    radius = jaggednessRadius;
    if (contours != nullptr && std::string(step) != "output") checkContours(step);
  }

 private:
  void checkContours(const std::string& step) {
    int32_t** map = frame().labelMap.getPtr2Array();
    std::map<int, unsigned> contourPixels;
    for (int x = 0; x < width; ++x)
      for (int y = 0; y < height; ++y)
        if (bIsContourPixel(x, y)) ++contourPixels[map[x][y]];
    forEachLiveRegion([&](int index, uint32_t) {
      const CRSSTContour& k = contours[regionDescriptors[index].contourIndex];
      if (k.regionIndex != index) fault(step, "record of another region", index);
      if (k.nPixels < CRSSTContour::kCapacity && k.nPixels != contourPixels[index]) fault(step, "pixel count", index);
      float length = 0;
      for (uint32_t i = 0; i < k.nPixels; ++i) {
        const int x = static_cast<int>(k.pixelX[i]);
        const int y = static_cast<int>(k.pixelY[i]);
        length += k.pixelLength[i];
        if (map[x][y] != index || !bIsContourPixel(x, y)) fault(step, "stale pixel", index);
        if (k.pixelJaggedness[i] != computeJaggedness4CPixel(x, y)) fault(step, "stale code", index);
      }
      if (length != k.length) fault(step, "length", index);
    });
  }
  void fault(const std::string& step, const std::string& what, int index) {
    if (faults.size() < 10) faults.push_back(step + ": " + what + " of region " + std::to_string(index));
  }
};

struct Frame {
  std::vector<int> labels;
  int regions;
  int radius;
};

Frame segment(S_CImageStorage& image, unsigned wanted, unsigned regionFloor, bool literal) {
  CheckedProbe probe;
  probe.useLiteralPaths(literal);
  S_RegionStorage result;
  probe.processFrame(image, result, wanted, regionFloor, 0);
  EXPECT_EQ(probe.faults, std::vector<std::string>());
  return {labelsOf(result), result.getRegionNumber(), probe.radius};
}

// Every pel labelled, labels 0..n-1 all used.
void expectContiguousLabels(const Frame& frame) {
  std::set<int> used(frame.labels.begin(), frame.labels.end());
  EXPECT_EQ(used.count(-1), 0u);
  ASSERT_FALSE(used.empty());
  EXPECT_EQ(*used.begin(), 0);
  EXPECT_EQ(*used.rbegin(), frame.regions - 1);
  EXPECT_EQ(used.size(), static_cast<std::size_t>(frame.regions));
}

// Labels map one to one onto the drawn shapes (one shape per letter): each
// label stands for the letter most of its pels carry, no two labels for the
// same letter, and pels off that letter (junction pels under noise) are few.
void expectSameLayout(const Frame& frame, const std::vector<std::string>& rows, int cell) {
  const int width = static_cast<int>(rows[0].size()) * cell;
  auto letterAt = [&](std::size_t i) { return rows[i / width / cell][i % width / cell]; };
  std::map<int, std::map<char, int>> votes;
  for (std::size_t i = 0; i < frame.labels.size(); ++i) ++votes[frame.labels[i]][letterAt(i)];
  std::map<int, char> letterOf;
  std::set<char> letters;
  for (const auto& [label, counts] : votes) {
    int most = 0;
    for (const auto& [letter, count] : counts) {
      if (count <= most) continue;
      most = count;
      letterOf[label] = letter;
    }
    letters.insert(letterOf[label]);
  }
  EXPECT_EQ(letters.size(), votes.size());
  std::size_t off = 0;
  for (std::size_t i = 0; i < frame.labels.size(); ++i) off += letterOf[frame.labels[i]] != letterAt(i);
  EXPECT_LT(off, frame.labels.size() / 100);
}

// Many shapes of few colours, each letter cell-scaled.
const std::vector<std::string> kBusyScene = {
    "GGGGRRRGGGBB", "GYYGRRRGKGBB", "GYYGGGGGGGGG", "GGGGBBBWWGRG",
    "CCGGBBBWWGGG", "CCGMMGGGGOOG", "GGGMMGYYGOOG", "GRGGGGYYGGGG", "GGGKKGGGGMGG"};

// Horizontal stripes two pels high: every pel lies on a border.
std::vector<std::string> stripes(int columns, int rows) {
  std::vector<std::string> scene;
  for (int y = 0; y < rows; ++y) scene.emplace_back(columns, y % 2 == 0 ? 'g' : 'W');
  return scene;
}

}  // namespace

TEST(ColorThresholdTest, NoColourVarietyGivesTheBaseThreshold) {
  StageProbe probe;
  probe.prepare(std::vector<std::string>(20, std::string(20, 'g')), 255);
  ASSERT_EQ(probe.colorModelCount, 255);
  probe.updateColorThreshold();
  EXPECT_NEAR(probe.colorThreshold, 0.0026, 1e-12);
}

// Two grey models, half the area each, 62.478 apart in L: each ordered pair
// adds 0.25 * 0.234, so S = 0.117.
TEST(ColorThresholdTest, VarietyOfPointOneOneSevenGivesPointZeroTwoSix) {
  EngineProbe probe;
  probe.width = 10;
  probe.height = 10;
  probe.allocateLUVModels(2);
  probe.colorModels[0].addShade(40.0, 0.0, 0.0, 50);
  probe.colorModels[1].addShade(102.478, 0.0, 0.0, 50);
  probe.updateColorThreshold();
  EXPECT_NEAR(probe.colorThreshold, 0.026, 1e-12);
}

TEST(SizeLimitTest, StagesSetTheirLimitsFromAreaAndRegionCount) {
  StageProbe probe;
  probe.width = 320;
  probe.height = 240;
  probe.setSizeDependentParameters();
  probe.regionCount = 255;  // no links: the stages only set their limits
  probe.merge_VerySmall();
  EXPECT_EQ(probe.verySmallSizeLimit, 168u);
  probe.merge_Small();
  EXPECT_EQ(probe.smallSizeLimit, 251u);
  probe.merge_SmallWithBig();
  EXPECT_EQ(probe.smallSizeLimit, 1536u);
  probe.regionCount = 100;
  probe.merge_VerySmall();
  EXPECT_EQ(probe.verySmallSizeLimit, 256u);
  probe.merge_Small();
  EXPECT_EQ(probe.smallSizeLimit, 512u);
  EXPECT_EQ(probe.regionCount, 100u);
}

TEST(StageLimitTest, MeasuresEqualToTheirLimitsPass) {
  EngineProbe::PairMeasures m{0.05, 0.0, 0.0, 0.9, 0.85};
  EXPECT_TRUE(m.within(0.05, 0.85, 0.9));
  m.colorDistance = std::nextafter(0.05, 1.0);
  EXPECT_FALSE(m.within(0.05, 0.85, 0.9));
  m.colorDistance = 0.05;
  m.shapeCost = std::nextafter(0.85, 1.0);
  EXPECT_FALSE(m.within(0.05, 0.85, 0.9));
  m.shapeCost = 0.85;
  m.borderCost = std::nextafter(0.9, 1.0);
  EXPECT_FALSE(m.within(0.05, 0.85, 0.9));
  EXPECT_EQ(m.combinedCost(), 3 * 0.05 + std::nextafter(0.9, 1.0) + 0.85);
}

// A red square enclosed by green, with the exemption switched off: the colour
// test of the colour-and-contour stage passes exactly at the threshold.
TEST(StageLimitTest, ColourDistanceEqualToTheThresholdPasses) {
  StageProbe probe;
  probe.prepare({"GGGGGGGG", "GGGGGGGG", "GGRRRGGG", "GGRRRGGG", "GGRRRGGG", "GGGGGGGG"}, 2);
  probe.includedSizeLimit = 0;
  EngineProbe::RSSTRegion* field = probe.regionAt(0, 0);
  EngineProbe::RSSTRegion* square = probe.regionAt(3, 3);
  const EngineProbe::PairMeasures m = probe.measurePair(field, square);
  ASSERT_LE(m.shapeCost, 0.85);
  ASSERT_LE(m.borderCost, 0.9);
  probe.colorThreshold = m.colorDistance;
  EXPECT_EQ(probe.linkCost_ColorContour(field, square), m.combinedCost());
  probe.colorThreshold = std::nextafter(m.colorDistance, 0.0);
  EXPECT_EQ(probe.linkCost_ColorContour(field, square), EngineProbe::kBlockingCost);
}

// A 3 x 3 red square in a grey field, below the inclusion size (11 pels) and
// with one neighbour, merges whatever its colour; without the exemption it stays.
TEST(StageLimitTest, SmallEnclosedRegionMergesWhateverItsColour) {
  std::vector<std::string> rows(20, std::string(20, 'g'));
  for (int y = 8; y < 11; ++y) rows[y].replace(8, 3, "RRR");
  for (const uint32_t inclusion : {11u, 0u}) {
    StageProbe probe;
    probe.prepare(rows, 2);
    probe.wantedRegions = 1;
    probe.includedSizeLimit = inclusion;
    probe.updateColorThreshold();
    probe.merge_ColorAndContour();
    EXPECT_EQ(probe.regionCount, inclusion == 0 ? 2u : 1u) << inclusion;
  }
}

// A's complexity just below 10 (11) in double rounds up to 10 (11) in single
// precision and opens the gate; the same region as B keeps it closed.
TEST(ComplexityGateTest, ACountsInSinglePrecisionBInDouble) {
  for (const double gate : {10.0, 11.0}) {
    PairStageProbe probe;
    probe.setColor(0, 50, 0, 0, 2);
    probe.setColor(1, 50, 0, 0, 9);
    probe.a()->pixelCount = 2;
    probe.b()->pixelCount = 9;
    float length = static_cast<float>(gate * std::sqrt(2.0));
    while (length / std::sqrt(2.0) >= gate) length = std::nextafter(length, 0.0f);
    probe.place(0, 2, 2, length);
    probe.place(1, 8, 8, 4.0f);
    const double complexity = probe.computeShapeComplexity(probe.a());
    ASSERT_LT(complexity, gate);
    ASSERT_EQ(static_cast<float>(complexity), static_cast<float>(gate));
    probe.includedSizeLimit = 100;  // lone regions: the exemption prices every pair that passes the gate
    auto cost = [&](EngineProbe::RSSTRegion* a, EngineProbe::RSSTRegion* b) {
      return gate == 10.0 ? probe.linkCost_RemoveComplex(a, b) : probe.linkCost_RemoveVeryComplex(a, b);
    };
    EXPECT_EQ(cost(probe.a(), probe.b()), probe.measurePair(probe.a(), probe.b()).combinedCost()) << gate;
    EXPECT_EQ(cost(probe.b(), probe.a()), EngineProbe::kBlockingCost) << gate;
  }
}

class SmallAndIncludedTest : public testing::Test {
 protected:
  // A list of links, live or dead, in order.
  uint32_t listOf(const std::vector<bool>& live) {
    uint32_t head = 0;
    for (auto it = live.rbegin(); it != live.rend(); ++it) {
      const uint32_t id = ++used;
      probe.linkRecord(id) = RSSTLink{*it ? 1u : 0u, 0, 1, {head, 0}};
      head = nodeOf(id, 0);
    }
    return head;
  }
  EngineProbe::RSSTRegion region(uint32_t pixels, uint32_t list) {
    EngineProbe::RSSTRegion r{};
    r.pixelCount = pixels;
    r.linkList = list;
    return r;
  }
  void SetUp() override {
    probe.heap().allocate(64);
    probe.includedSizeLimit = 10;
  }
  uint32_t used = 0;
  EngineProbe probe;
};

TEST_F(SmallAndIncludedTest, DeadLinksDoNotCountAsNeighbours) {
  EngineProbe::RSSTRegion big = region(50, 0);
  EngineProbe::RSSTRegion onlyDead = region(9, listOf({false, false, false}));
  EngineProbe::RSSTRegion oneLive = region(9, listOf({false, true, false}));
  EngineProbe::RSSTRegion twoLive = region(9, listOf({true, false, true}));
  EngineProbe::RSSTRegion atLimit = region(10, 0);
  EXPECT_TRUE(probe.bIsSmallAndIncluded(&onlyDead, &big, 0.0));
  EXPECT_TRUE(probe.bIsSmallAndIncluded(&oneLive, &big, 0.0));
  EXPECT_TRUE(probe.bIsSmallAndIncluded(&big, &oneLive, 0.0));
  EXPECT_FALSE(probe.bIsSmallAndIncluded(&twoLive, &big, 0.0));
  EXPECT_FALSE(probe.bIsSmallAndIncluded(&atLimit, &big, 0.0));
  EXPECT_FALSE(probe.bIsSmallAndIncluded(&big, &twoLive, 0.0));
}

namespace {

// bIsSmallest over regions of the given sizes with the heap slots holding the
// given (regionA, regionB) links in order, on a 10 x 10 working area.
std::vector<bool> smallestFlags(const std::vector<uint32_t>& sizes, const std::vector<std::pair<int, int>>& slots,
                                bool literal) {
  EngineProbe probe;
  probe.width = 10;
  probe.height = 10;
  probe.useLiteralPaths(literal);
  std::vector<EngineProbe::RSSTRegion> regions(sizes.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) regions[i].pixelCount = sizes[i];
  probe.heap().allocate(static_cast<uint32_t>(slots.size()));
  for (const auto& [a, b] : slots) probe.heap().push(a, b, 0.0);  // equal costs: link k stays in slot k
  probe.regions = regions.data();
  std::vector<bool> flags;
  for (auto& r : regions) flags.push_back(probe.bIsSmallest(&r));
  probe.rsst_freeMemory();  // drops the view of the local regions too
  return flags;
}

}  // namespace

TEST(SmallestRegionTest, TiesGoToTheFirstRegionInHeapSlotOrder) {
  for (const bool literal : {true, false}) {
    using Flags = std::vector<bool>;
    EXPECT_EQ(smallestFlags({5, 3, 3, 7}, {{0, 2}, {1, 3}}, literal), (Flags{false, false, true, false}));
    EXPECT_EQ(smallestFlags({5, 3, 3, 7}, {{1, 2}, {0, 3}}, literal), (Flags{false, true, false, false}));
    EXPECT_EQ(smallestFlags({5, 3, 3, 7}, {{0, 3}, {2, 1}}, literal), (Flags{false, false, true, false}));
    EXPECT_EQ(smallestFlags({5, 3, 3, 7}, {}, literal), (Flags{false, false, false, false}));
    // Nothing is smaller than the working area: no region is the smallest.
    EXPECT_EQ(smallestFlags({100, 100}, {{0, 1}}, literal), (Flags{false, false}));
    EXPECT_EQ(smallestFlags({100, 99}, {{0, 1}}, literal), (Flags{false, true}));
  }
}

// Column 0, rows 10.., is A; column 1, rows 10..19, is B; both reach the band
// only through A's pels. B is given A's colour model, so only contact decides.
class BackgroundStageTest : public testing::Test {
 protected:
  void prepare(int lastRowOfA) {
    std::vector<std::string> rows(56, std::string(70, 'G'));
    for (int y = 10; y <= lastRowOfA; ++y) rows[y][0] = 'R';
    for (int y = 10; y <= 19; ++y) rows[y][1] = 'Y';
    probe.prepare(rows, 3);
    a = probe.regionAt(0, 10);
    b = probe.regionAt(1, 10);
    probe.descriptorsOf(b).colorModelIndex = probe.descriptorsOf(a).colorModelIndex;
  }
  StageProbe probe;
  EngineProbe::RSSTRegion* a = nullptr;
  EngineProbe::RSSTRegion* b = nullptr;
};

TEST_F(BackgroundStageTest, OnATieTheFirstRegionsContourIsScanned) {
  prepare(19);
  ASSERT_EQ(probe.contours[probe.descriptorsOf(a).contourIndex].nPixels, probe.contours[probe.descriptorsOf(b).contourIndex].nPixels);
  EXPECT_EQ(probe.linkCost_Background(a, b), probe.measurePair(a, b).combinedCost());
  EXPECT_EQ(probe.linkCost_Background(b, a), EngineProbe::kBlockingCost);
}

TEST_F(BackgroundStageTest, TheContourWithFewerPixelsIsScanned) {
  prepare(21);
  ASSERT_LT(probe.contours[probe.descriptorsOf(b).contourIndex].nPixels, probe.contours[probe.descriptorsOf(a).contourIndex].nPixels);
  EXPECT_EQ(probe.linkCost_Background(a, b), EngineProbe::kBlockingCost);
  EXPECT_EQ(probe.linkCost_Background(b, a), EngineProbe::kBlockingCost);
}

TEST(StageSequenceTest, FirstStageAtOrBelowTheWantedCountLeavesEveryStageIdle) {
  S_CImageStorage image;
  drawNoisyScene(image, {"GR", "BY"}, 10, 20, 7);
  for (const unsigned wanted : {300u, 500u}) {
    CheckedProbe probe;
    S_RegionStorage result;
    probe.processFrame(image, result, wanted, 0, 0);
    const unsigned expected = wanted < 400 ? wanted : 400;
    for (const auto& [step, count] : probe.counts) {
      const bool beforeFirstStage = step == "conversion" || step == "blur" || step == "graph";
      EXPECT_TRUE(beforeFirstStage || count == expected) << step << ": " << count;
    }
    EXPECT_EQ(result.getRegionNumber(), static_cast<int>(expected));
  }
}

TEST(StageSequenceTest, WithoutARequestedCountTheForceStageMergesNothing) {
  S_CImageStorage image;
  drawNoisyScene(image, kBusyScene, 8, 40, 3);
  CheckedProbe probe;
  S_RegionStorage result;
  probe.processFrame(image, result, 0, 255, 0);
  ASSERT_GE(probe.counts.size(), 2u);
  const auto& forced = probe.counts[probe.counts.size() - 2];
  ASSERT_EQ(forced.first, "force smallest");
  EXPECT_EQ(forced.second, probe.counts[probe.counts.size() - 3].second);
  EXPECT_LE(result.getRegionNumber(), 255);
  EXPECT_EQ(result.getRegionNumber(), static_cast<int>(forced.second));
  EXPECT_EQ(probe.faults, std::vector<std::string>());
}

TEST(StageSequenceTest, RequestedShapeCountRecoversTheDrawnShapes) {
  const std::vector<std::vector<std::string>> scenes = {
      {"KKKKKWWWWW", "KKKKKWWWWW", "KKKKKWWWWW", "RRRRRggggg", "RRRRRggggg", "RRRRRggggg"},
      {"KKKKWWWWWW", "KKKKWWWWWW", "KKKKRRRBBB", "ggggRRRBBB", "ggggRRRBBB", "ggggRRRBBB"}};
  for (const auto& scene : scenes) {
    std::set<char> shapes;
    for (const auto& row : scene) shapes.insert(row.begin(), row.end());
    for (const uint32_t seed : {1u, 4u}) {
      S_CImageStorage image;
      drawNoisyScene(image, scene, 6, 12, seed);
      const Frame frame = segment(image, static_cast<unsigned>(shapes.size()), 0, false);
      EXPECT_EQ(frame.regions, static_cast<int>(shapes.size()));
      expectSameLayout(frame, scene, 6);
    }
  }
}

TEST(StageSequenceTest, RequestedCountsAreMetExactlyWithContiguousLabels) {
  S_CImageStorage image;
  drawNoisyScene(image, kBusyScene, 8, 30, 5);
  for (const unsigned wanted : {2u, 10u, 40u}) {
    const Frame frame = segment(image, wanted, 0, false);
    EXPECT_EQ(frame.regions, static_cast<int>(wanted));
    expectContiguousLabels(frame);
  }
  const Frame unrequested = segment(image, 0, 255, false);
  EXPECT_LE(unrequested.regions, 255);
  expectContiguousLabels(unrequested);
}

// Red (4 pels) is the smallest and takes in yellow; the one link left, to the
// field, is re-priced inside that merge and must already see the merged pair
// (10 pels) as the smallest region, not a smallest size cached before the merge.
TEST(ForceStageTest, RepricingInsideAMergeSeesTheMergedSizes) {
  for (const bool literal : {true, false}) {
    StageProbe probe;
    probe.useLiteralPaths(literal);
    probe.prepare({"gggggggg", "gggggggg", "ggRRYYgg", "ggRRYYgg", "ggggYYgg", "gggggggg"}, 3);
    probe.includedSizeLimit = 0;
    probe.linkCost = &StageProbe::linkCost_ForceSmallest;
    probe.rsst_recalculateCosts();
    probe.rsst_merge2Regions();
    ASSERT_EQ(probe.heapSize(), 1u);
    const RSSTLink& left = probe.linkInSlot(1);
    const double fresh = probe.linkCost_ForceSmallest(&probe.regions[left.regionA], &probe.regions[left.regionB]);
    EXPECT_LT(fresh, EngineProbe::kBlockingCost);
    EXPECT_EQ(probe.costInSlot(1), fresh) << (literal ? "literal" : "fast");
  }
}

// The fast paths (sliding and summed-area window counts, cached smallest size,
// marked neighbours, relabelling by box) must give the literal paths' label maps byte for byte.
class FastPathTest : public testing::TestWithParam<std::pair<int, int>> {
 protected:
  int cell() const { return GetParam().first; }
  void expectSameFrames(S_CImageStorage& image) {
    const std::vector<std::pair<unsigned, unsigned>> requests = {{0, 255}, {2, 0}, {10, 0}, {40, 0}};
    for (const auto& [wanted, regionFloor] : requests) {
      const Frame fast = segment(image, wanted, regionFloor, false);
      const Frame literal = segment(image, wanted, regionFloor, true);
      EXPECT_EQ(fast.radius, GetParam().second);
      EXPECT_EQ(fast.regions, literal.regions) << wanted;
      EXPECT_TRUE(fast.labels == literal.labels) << "label maps differ for wanted " << wanted;
    }
  }
};

TEST_P(FastPathTest, NoisySceneSegmentsIdentically) {
  S_CImageStorage image;
  drawNoisyScene(image, kBusyScene, cell(), 35, 17);
  expectSameFrames(image);
}

TEST_P(FastPathTest, StripedSceneSegmentsIdentically) {
  S_CImageStorage image;
  drawNoisyScene(image, stripes(6 * cell(), 9 * cell() / 2), 2, 25, 23);
  expectSameFrames(image);
}

// Cell sizes and the jaggedness radii of the frames they give: 96 x 72,
// 264 x 198 and 432 x 324.
INSTANTIATE_TEST_SUITE_P(Radii, FastPathTest,
                         testing::Values(std::pair(8, 2), std::pair(22, 3), std::pair(36, 5)));
