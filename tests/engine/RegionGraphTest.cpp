// Tests of the region graph: link creation, the link heap, the merge step and the first stage.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineProbe.h"
#include "EngineSteps.h"
#include "support/ImageDrawing.h"

namespace {

using Pair = std::pair<int, int>;

// The k-th link created: link ids follow creation order.
Pair createdLink(EngineProbe& engine, int k) {
  const RSSTLink& link = engine.linkRecord(static_cast<uint32_t>(k));
  return {link.regionA, link.regionB};
}

// A 4 x 4 working area of one colour: every cost is 0 and link k sits in slot k.
void buildUniformGraph(EngineProbe& engine, S_CImageStorage& image) {
  fillUniform(image, 4, 4, 90, 120, 60);
  buildGraph(engine, image);
}

std::vector<Pair> linksOfList(EngineProbe& engine, uint32_t node) {
  std::vector<Pair> links;
  for (; node != 0; node = engine.nextNode(node)) {
    const RSSTLink& link = engine.linkRecord(linkOfNode(node));
    links.emplace_back(link.regionA, link.regionB);
  }
  return links;
}

}  // namespace

class GraphConstructionTest : public testing::Test {
 protected:
  EngineProbe engine;
  S_CImageStorage image;
};

TEST_F(GraphConstructionTest, FourByFourHasTwentyFourLinksRowsFirst) {
  drawImage(image, {"RGBK", "WYCM", "ORgK", "BBGG"});
  buildGraph(engine, image);
  EXPECT_EQ(engine.regionCount, 16u);
  EXPECT_EQ(engine.heapSize(), 24u);
  EXPECT_EQ(createdLink(engine, 1), Pair(0, 1));
  EXPECT_EQ(createdLink(engine, 12), Pair(14, 15));
  EXPECT_EQ(createdLink(engine, 13), Pair(0, 4));
  EXPECT_EQ(createdLink(engine, 24), Pair(11, 15));
  EXPECT_EQ(engine.costInSlot(0), -1.0);
  EXPECT_EQ(engine.linkRecord(0).regionA, -1);
  EXPECT_EQ(engine.linkRecord(0).regionB, -1);
}

TEST_F(GraphConstructionTest, ListsHoldNewestLinkFirstAndRegionsStartAsTheirPixel) {
  drawImage(image, {"RGBK", "WYCM", "ORgK", "BBGG"});
  buildGraph(engine, image);
  EXPECT_EQ(linksOfList(engine, engine.regions[0].linkList), (std::vector<Pair>{{0, 4}, {0, 1}}));
  EXPECT_EQ(linksOfList(engine, engine.regions[5].linkList), (std::vector<Pair>{{5, 9}, {1, 5}, {5, 6}, {4, 5}}));
  for (int p = 0; p < 16; ++p) {
    const EngineProbe::RSSTRegion& region = engine.regions[p];
    EXPECT_EQ(region.pixelCount, 1u);
    EXPECT_EQ(region.firstPixel, static_cast<uint32_t>(p));
    EXPECT_EQ(region.lastPixel, static_cast<uint32_t>(p));
    EXPECT_EQ(engine.pixelNext[p], kNoPixel);
    EXPECT_EQ(region.meanU, engine.frame().smoothU.getPtr2Array()[p % 4][p / 4]);
  }
}

// On a flat image every cost is 0, so the order of merges is the tie rules alone.
// Both redundancy searches (literal and fast) must give the same order.
class UniformMergeOrderTest : public testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    engine.useLiteralPaths(GetParam());
    buildUniformGraph(engine, image);
  }
  EngineProbe engine;
  S_CImageStorage image;
};

TEST_P(UniformMergeOrderTest, OldestLinkFirstThenTheHeapTailMovedIntoSlotOne) {
  EXPECT_EQ(engine.topLink(), Pair(0, 1));
  EXPECT_EQ(engine.rsst_merge2Regions(), 15);
  EXPECT_EQ(engine.heapSize(), 23u);
  EXPECT_EQ(engine.topLink(), Pair(11, 15));
  engine.rsst_merge2Regions();
  EXPECT_EQ(engine.heapSize(), 22u);
  EXPECT_EQ(engine.topLink(), Pair(10, 14));
  EXPECT_EQ(engine.rsst_merge2Regions(), 13);
  EXPECT_EQ(engine.heapSize(), 20u);  // 10 and 14 both touched the region of 11 and 15
  EXPECT_EQ(engine.regionCount, 13u);
}

TEST_P(UniformMergeOrderTest, MovedLinksTakeTheSurvivorsIndex) {
  engine.rsst_merge2Regions();
  EXPECT_EQ(createdLink(engine, 2), Pair(0, 2));   // was 1-2, regionA replaced
  EXPECT_EQ(createdLink(engine, 14), Pair(0, 5));  // was 1-5
  EXPECT_EQ(createdLink(engine, 1), Pair(0, 1));   // the merged link keeps its ends
  EXPECT_EQ(engine.linkRecord(1).heapIndex, 0u);
  EXPECT_EQ(liveNeighbours(engine, 0), (std::set<int>{2, 4, 5}));
}

TEST_P(UniformMergeOrderTest, DeadNodesCountForTheSearchButNotForCountLinks) {
  for (int i = 0; i < 3; ++i) engine.rsst_merge2Regions();
  // Region 11 took over 14-15 from 15; that link died when 14 joined 10.
  EXPECT_EQ(linksOfList(engine, engine.regions[11].linkList).size(), 3u);
  EXPECT_EQ(engine.countLinks(engine.regions[11].linkList), 2u);
  EXPECT_EQ(engine.rsst_searchRLL(engine.regions[11].linkList, 14), 1);
  EXPECT_EQ(liveNeighbours(engine, 11), (std::set<int>{7, 10}));
  EXPECT_EQ(engine.rsst_searchRLL(engine.regions[11].linkList, 3), 0);
}

INSTANTIATE_TEST_SUITE_P(BothSearches, UniformMergeOrderTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& info) { return info.param ? "Literal" : "Fast"; });

class LinkHeapTest : public testing::Test {
 protected:
  void SetUp() override { buildUniformGraph(engine, image); }
  EngineProbe engine;
  S_CImageStorage image;
};

TEST_F(LinkHeapTest, EqualCostsNeverMoveUp) {
  EXPECT_EQ(engine.rsst_upHeapLPA(10), 10u);
  EXPECT_EQ(engine.rsst_reheapLPA(10), 10u);
  EXPECT_EQ(engine.rsst_reheapLPA(1), 1u);
  EXPECT_EQ(engine.topLink(), Pair(0, 1));
}

TEST_F(LinkHeapTest, DearerLinkSinksThroughTheLeftChildOnEqualChildren) {
  const uint32_t top = engine.heap().linkInSlot(1);
  EXPECT_EQ(engine.heap().reprice(1, 5.0), 16u);  // 1, 2, 4, 8, 16
  EXPECT_EQ(engine.heap().linkInSlot(16), top);
  EXPECT_EQ(engine.linkRecord(top).heapIndex, 16u);
  EXPECT_EQ(engine.heap().costOf(top), 5.0);
  EXPECT_EQ(engine.topLink(), Pair(1, 2));  // link 2 rose into slot 1
  EXPECT_EQ(engine.linkInSlot(8).heapIndex, 8u);
  EXPECT_EQ(createdLink(engine, 16), Pair(3, 7));
  EXPECT_EQ(engine.heap().linkInSlot(8), 16u);
}

// A removed link's slot takes the last one, which settles from there; the
// removed record is marked and no slot names it any more.
TEST_F(LinkHeapTest, RemovalFillsTheHoleWithTheLastSlot) {
  LinkHeap& heap = engine.heap();
  heap.reprice(24, -0.5);  // the last slot rises to the top...
  ASSERT_EQ(heap.linkInSlot(1), 24u);
  const uint32_t last = heap.linkInSlot(heap.size());
  heap.remove(24);  // ...and its removal brings the last slot up there
  EXPECT_EQ(engine.linkRecord(24).heapIndex, 0u);
  EXPECT_EQ(heap.size(), 23u);
  EXPECT_EQ(heap.linkInSlot(1), last);
  for (uint32_t k = 1; k <= heap.size(); ++k) {
    EXPECT_NE(heap.linkInSlot(k), 24u);
    EXPECT_EQ(engine.linkInSlot(k).heapIndex, k);
  }
}

class MergeStepTest : public testing::Test {
 protected:
  EngineProbe engine;
  S_CImageStorage image;
};

TEST_F(MergeStepTest, AbsorbedRegionKeepsItsOldCountAndMeans) {
  drawImage(image, {"RRGGBB", "RRGGBB", "KKWWYY", "KKWWYY"});
  buildGraph(engine, image);
  const auto [a, b] = engine.topLink();
  const EngineProbe::RSSTRegion before = engine.regions[b];
  const double survivorL = engine.regions[a].meanL;
  engine.rsst_merge2Regions();
  const EngineProbe::RSSTRegion& absorbed = engine.regions[b];
  EXPECT_EQ(absorbed.pixelCount, 1u);
  EXPECT_EQ(absorbed.meanL, before.meanL);
  EXPECT_EQ(absorbed.meanU, before.meanU);
  EXPECT_EQ(absorbed.meanV, before.meanV);
  EXPECT_EQ(absorbed.firstPixel, before.firstPixel);
  EXPECT_EQ(engine.regions[a].pixelCount, 2u);
  EXPECT_EQ(engine.regions[a].meanL, (before.meanL + survivorL) / 2);
  EXPECT_EQ(engine.regions[a].firstPixel, static_cast<uint32_t>(a));
  EXPECT_EQ(engine.pixelNext[a], before.firstPixel);
  EXPECT_EQ(engine.regions[a].lastPixel, before.firstPixel);
}

TEST_F(MergeStepTest, ColourMeanWeighsByCountsBeforeTheMerge) {
  EngineProbe::RSSTRegion from{10.0, 20.0, -30.0, 1, 0, 0, 0, 0};
  EngineProbe::RSSTRegion into{50.0, 0.0, 10.0, 3, 0, 0, 0, 0};
  engine.jointProperties_ColorMean(&from, &into);
  EXPECT_EQ(into.meanL, 40.0);
  EXPECT_EQ(into.meanU, 5.0);
  EXPECT_EQ(into.meanV, 0.0);
  EXPECT_EQ(into.pixelCount, 3u);  // counts are the merge step's business
  EXPECT_EQ(from.meanL, 10.0);
}

// Regression: the smallest-region search cached its minimum until the end of a
// merge, so the survivor's links were re-priced against the absorbed count.
TEST_F(MergeStepTest, SmallestRegionFollowsTheCountJustUpdated) {
  fillUniform(image, 4, 4, 30, 60, 90);
  buildGraph(engine, image);
  for (int p = 0; p < 16; ++p) engine.regions[p].pixelCount = 5;
  engine.regions[1].pixelCount = 1;
  EXPECT_TRUE(engine.bIsSmallest(&engine.regions[1]));
  engine.rsst_updateRegion(&engine.regions[0], &engine.regions[1]);  // 1 grows to 6
  EXPECT_FALSE(engine.bIsSmallest(&engine.regions[1]));
  EXPECT_TRUE(engine.bIsSmallest(&engine.regions[0]));  // first met among the fives
  EXPECT_FALSE(engine.bIsSmallest(&engine.regions[2]));
}

// A noisy scene exercises every heap path; the invariants are checked after each merge.
class HeapInvariantTest : public testing::Test {
 protected:
  void SetUp() override {
    drawNoisyScene(image, {"RGBK", "WYCM", "ORgK", "BBGG"}, 4, 40, 11);
    buildGraph(engine, image);
  }
  // Every live slot knows its place and no child is cheaper than its parent.
  int heapFaults() {
    int faults = 0;
    for (uint32_t k = 1; k <= engine.heapSize(); ++k) {
      faults += engine.linkInSlot(k).heapIndex != k;
      faults += engine.costInSlot(k / 2) > engine.costInSlot(k);
    }
    return faults;
  }
  // One merge; the heap must lose the merged link and one link per shared neighbour.
  void mergeAndCheck() {
    const auto [a, b] = engine.topLink();
    std::set<int> shared;
    const std::set<int> na = liveNeighbours(engine, a), nb = liveNeighbours(engine, b);
    for (int n : na)
      if (nb.count(n) != 0) shared.insert(n);
    const uint32_t heapBefore = engine.heapSize(), regionsBefore = engine.regionCount;
    engine.rsst_merge2Regions();
    ASSERT_EQ(engine.heapSize(), heapBefore - 1 - shared.size()) << a << "+" << b;
    ASSERT_EQ(engine.regionCount, regionsBefore - 1);
    ASSERT_EQ(heapFaults(), 0);
  }
  EngineProbe engine;
  S_CImageStorage image;
};

TEST_F(HeapInvariantTest, HoldAfterEveryMergeDownToTwoRegions) {
  ASSERT_EQ(heapFaults(), 0);
  int sharedDrops = 0;
  while (engine.regionCount > 2) {
    const uint32_t before = engine.heapSize();
    mergeAndCheck();
    if (HasFatalFailure()) return;
    sharedDrops += before - engine.heapSize() > 1;
  }
  EXPECT_GT(sharedDrops, 0);
  EXPECT_EQ(engine.heapSize(), 1u);
  EXPECT_EQ(liveRegions(engine).size(), 2u);
}

TEST_F(HeapInvariantTest, LiteralAndFastSearchesMergeAlike) {
  EngineProbe literal;
  literal.useLiteralPaths(true);
  buildGraph(literal, image);
  while (engine.regionCount > 20) {
    ASSERT_EQ(engine.topLink(), literal.topLink());
    engine.rsst_merge2Regions();
    literal.rsst_merge2Regions();
  }
  EXPECT_EQ(engine.heapSize(), literal.heapSize());
}

TEST_F(HeapInvariantTest, RecalculatedCostsRebuildAValidHeap) {
  runFirstStage(engine, 40);
  auto linksInHeap = [&] {
    std::set<uint32_t> ids;
    for (uint32_t k = 1; k <= engine.heapSize(); ++k) ids.insert(engine.heap().linkInSlot(k));
    return ids;
  };
  const std::set<uint32_t> links = linksInHeap();
  // New means make links dearer and cheaper than the heap assumed.
  const std::vector<int> live = liveRegions(engine);
  for (size_t i = 0; i < live.size(); i += 3) engine.regions[live[i]].meanL += 10.0 * static_cast<double>(i);
  engine.rsst_recalculateCosts();
  EXPECT_EQ(heapFaults(), 0);
  EXPECT_EQ(linksInHeap(), links);
}

class FirstStageTest : public testing::Test {
 protected:
  void prepareUniform(int width, int height) {
    fillUniform(image, width, height, 200, 40, 90);
    buildGraph(engine, image);
  }
  EngineProbe engine;
  S_CImageStorage image;
};

TEST_F(FirstStageTest, StopsAtTheLargerOfWantedAndTarget) {
  prepareUniform(20, 20);
  runFirstStage(engine, 2);
  EXPECT_EQ(engine.regionCount, 255u);
  EXPECT_EQ(liveRegions(engine).size(), 255u);
  runFirstStage(engine, 100);  // already below: nothing more
  EXPECT_EQ(engine.regionCount, 255u);
}

TEST_F(FirstStageTest, WantedAboveTheTargetWins) {
  prepareUniform(20, 20);
  runFirstStage(engine, 300);
  EXPECT_EQ(engine.regionCount, 300u);
  EXPECT_EQ(liveRegions(engine).size(), 300u);
}

TEST_F(FirstStageTest, FewerPixelsThanTheLimitMergeNothing) {
  prepareUniform(10, 10);
  runFirstStage(engine, 2);
  EXPECT_EQ(engine.regionCount, 100u);
  EXPECT_EQ(engine.heapSize(), 180u);
}

TEST_F(FirstStageTest, RecomputeReinstallsTheColourCosts) {
  drawNoisyScene(image, {"RG", "BK"}, 6, 10, 4);
  buildGraph(engine, image);
  engine.linkCost = nullptr;
  engine.jointProperties = nullptr;
  engine.wantedRegions = 2;
  engine.merge_AvgColorAndSize(true, 30);
  EXPECT_EQ(engine.regionCount, 30u);
  EXPECT_TRUE(engine.linkCost == &EngineProbe::linkCost_ColorAndSize);
}

// Flat areas let a small region take over a big one's record mid-stage; the
// graph handed on must be the one the literal merge steps leave: the same
// heap, and each live region with the same means, pixels and live links in
// list order.
std::vector<std::string> graphAfterFirstStage(S_CImageStorage& image, unsigned limit, bool literal) {
  EngineProbe engine;
  engine.useLiteralPaths(literal);
  buildGraph(engine, image);
  engine.firstStageTarget = limit;
  runFirstStage(engine, limit);
  std::vector<std::string> state;
  auto add = [&](std::string line) { state.push_back(std::move(line)); };
  for (uint32_t k = 1; k <= engine.heapSize(); ++k) {
    const RSSTLink& link = engine.linkInSlot(k);
    add("slot " + std::to_string(k) + ": " + std::to_string(link.regionA) + "-" + std::to_string(link.regionB) +
        " cost " + std::to_string(engine.costInSlot(k)));
  }
  for (int r : liveRegions(engine)) {
    const EngineProbe::RSSTRegion& region = engine.regions[r];
    std::string line = "region " + std::to_string(r) + " means " + std::to_string(region.meanL) + " " +
                       std::to_string(region.meanU) + " " + std::to_string(region.meanV) + " pixels";
    engine.forEachPixelOf(region, [&](uint32_t p) { line += " " + std::to_string(p); });
    line += " links";
    for (uint32_t node = region.linkList; node != 0; node = engine.nextNode(node)) {
      const RSSTLink& link = engine.linkRecord(linkOfNode(node));
      if (link.heapIndex != 0) line += " " + std::to_string(link.regionA) + "-" + std::to_string(link.regionB);
    }
    add(line);
  }
  return state;
}

TEST(FirstStageTakeOverTest, FlatAreasLeaveTheGraphOfTheLiteralSteps) {
  S_CImageStorage image;
  auto expectSameGraphs = [&](const char* what) {
    for (const unsigned limit : {2u, 40u}) {
      const std::vector<std::string> fast = graphAfterFirstStage(image, limit, false);
      EXPECT_EQ(fast, graphAfterFirstStage(image, limit, true)) << what << ", down to " << limit;
      EXPECT_GT(fast.size(), limit) << what;
    }
  };
  fillUniform(image, 96, 72, 0, 0, 0);
  expectSameGraphs("black");
  // Equal flat blocks that touch only across others: their links keep changing.
  drawNoisyScene(image, {"KRKRK", "RKRKR", "KRKRK", "RKRKR"}, 14, 0, 1);
  expectSameGraphs("flat blocks");
  // A noisy centre on a flat frame, the letterbox case.
  drawNoisyScene(image, {"KKKKK", "KgggK", "KKKKK"}, 18, 0, 1);
  uint32_t state = 3;
  for (short y = 18; y < 36; ++y) {
    for (short x = 18; x < 72; ++x) {
      state = state * 1664525u + 1013904223u;
      image.writePixelRgb(x, y, static_cast<unsigned char>(state >> 24), static_cast<unsigned char>(state >> 16),
                          static_cast<unsigned char>(state >> 8));
    }
  }
  expectSameGraphs("framed noise");
}

class ColorAndSizeCostTest : public testing::Test {
 protected:
  static EngineProbe::RSSTRegion region(double L, double u, double v, uint32_t count) {
    return EngineProbe::RSSTRegion{L, u, v, count, 0, 0, 0, 0, 0};
  }
  EngineProbe engine;
};

TEST_F(ColorAndSizeCostTest, TwoPixelsCostHalfTheirSquaredDistance) {
  auto p = region(50, 10, -20, 1), q = region(47, 14, -20, 1);
  EXPECT_EQ(engine.linkCost_ColorAndSize(&p, &q), 12.5);
  EXPECT_EQ(engine.linkCost_ColorAndSize(&q, &p), 12.5);
  auto r = region(47, 14, -20, 6), s = region(50, 10, -20, 3);
  EXPECT_EQ(engine.linkCost_ColorAndSize(&r, &s), 50.0);  // 3 * 6 / 9 = 2
  EXPECT_EQ(engine.linkCost_ColorAndSize(&p, &p), 0.0);
}

TEST_F(ColorAndSizeCostTest, HugeCountsDoNotWrap) {
  auto p = region(50, 10, -20, 100000), q = region(47, 14, -20, 300000);  // product above 2^32
  EXPECT_EQ(engine.linkCost_ColorAndSize(&p, &q), 75000.0 * 25.0);
}
