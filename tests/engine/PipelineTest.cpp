// Tests of the engine frame: the size check, wanted clamping, size-dependent limits, the allocator and repeated frames.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "EngineProbe.h"
#include "EngineSteps.h"
#include "support/ImageDrawing.h"
#include "support/TestSupport.h"

namespace {

const char* const kTooSmall = "\nInput image too small!";

}  // namespace

class TooSmallImageTest : public testing::Test {
 protected:
  // Before the call the result is 3 x 3 with one region of one pel, label 7.
  void SetUp() override {
    result.allocateStorage(3, 3);
    marker = result.newRegion(1, 1);
    marker->setObjectID(7);
  }
  std::string warningsFor(int width, int height, unsigned margin, unsigned wanted = 10) {
    fillUniform(image, width, height, 10, 200, 30);
    return captureStderr([&] { engine.processFrame(image, result, wanted, 0, margin); });
  }
  // Whatever the storage held before is gone: a declined frame has no regions and no map.
  void expectDeclined() {
    EXPECT_EQ(result.getRegionNumber(), 0);
    EXPECT_EQ(result.getRegionList(), nullptr);
    EXPECT_EQ(result.isEmpty(), 1);
  }

  M_RSST engine;
  S_CImageStorage image;
  S_RegionStorage result;
  E_RegionInfo* marker = nullptr;
};

TEST_F(TooSmallImageTest, NarrowOrLowImageWarnsAndEmptiesTheResult) {
  EXPECT_EQ(warningsFor(4, 100, 0), warningText(kTooSmall));
  expectDeclined();
  EXPECT_EQ(warningsFor(100, 4, 0), warningText(kTooSmall));
  expectDeclined();
}

TEST_F(TooSmallImageTest, MarginCountsOnBothSidesInSignedArithmetic) {
  EXPECT_EQ(warningsFor(20, 20, 8), warningText(kTooSmall));  // 20 - 16 = 4
  expectDeclined();
  EXPECT_EQ(warningsFor(10, 10, 8), warningText(kTooSmall));  // negative, not a huge unsigned
  expectDeclined();
}

// The stale-result fault: one engine and one storage serving frame after frame.
TEST_F(TooSmallImageTest, DeclinedFrameAfterASegmentedOneLeavesNoStaleRegions) {
  EXPECT_EQ(warningsFor(12, 12, 0, 3), "");
  EXPECT_EQ(result.getRegionNumber(), 3);
  EXPECT_EQ(warningsFor(12, 4, 0, 3), warningText(kTooSmall));
  expectDeclined();
  EXPECT_EQ(warningsFor(12, 12, 0, 3), "");  // and the next frame is segmented as usual
  EXPECT_EQ(result.getRegionNumber(), 3);
}

TEST_F(TooSmallImageTest, FivePixelsAfterTheMarginAreEnough) {
  EXPECT_EQ(warningsFor(5, 5, 0, 2), "");
  EXPECT_EQ(result.getWidth(), 5);
  EXPECT_EQ(result.getRegionNumber(), 2);  // a flat image forced down to two regions
  EXPECT_EQ(warningsFor(21, 21, 8, 2), "");
  EXPECT_EQ(result.getWidth(), 21);
  EXPECT_EQ(result.getRegionNumber(), 3);  // the band and two regions
}

class WantedRegionsTest : public testing::Test {
 protected:
  int regionsFor(unsigned wanted) {
    engine.processFrame(image, result, wanted, 0, 0);
    return result.getRegionNumber();
  }

  EngineProbe engine;
  S_CImageStorage image;
  S_RegionStorage result;
};

TEST_F(WantedRegionsTest, FewerThanTwoBecomesTwo) {
  drawNoisyScene(image, {"RG", "BK"}, 4, 0, 1);
  EXPECT_EQ(regionsFor(0), 2);
  EXPECT_EQ(engine.wantedRegions, 2u);
  EXPECT_EQ(regionsFor(1), 2);
  EXPECT_EQ(engine.wantedRegions, 2u);
  EXPECT_EQ(regionsFor(3), 3);
}

TEST_F(WantedRegionsTest, MoreThan2048Becomes2048) {
  drawNoisyScene(image, {"RG", "BK"}, 32, 20, 7);  // 4096 pels, so the ceiling is reached
  EXPECT_EQ(regionsFor(5000), 2048);
  EXPECT_EQ(engine.wantedRegions, 2048u);
  EXPECT_EQ(regionsFor(2048), 2048);
}

TEST(RegionFloorTest, FloorAboveTheCountLeavesTheLastStageIdle) {
  S_CImageStorage image;
  drawNoisyScene(image, {"RGB", "KWY", "CMO"}, 6, 25, 5);
  S_RegionStorage result;
  StepRecorder engine;
  engine.processFrame(image, result, 2, 100000, 0);
  ASSERT_GE(engine.counts.size(), 2u);
  const size_t last = engine.counts.size() - 2;  // the forcing stage, then the output
  EXPECT_EQ(engine.counts[last].first, "force smallest");
  EXPECT_EQ(engine.counts[last].second, engine.counts[last - 1].second);
  EXPECT_EQ(result.getRegionNumber(), static_cast<int>(engine.counts[last].second));
  engine.counts.clear();
  engine.processFrame(image, result, 2, 0, 0);
  EXPECT_EQ(result.getRegionNumber(), 2);
}

// A caller's observer sees what an instrumenting subclass sees: every step,
// once, in order, with the region count of that moment.
TEST(ProgressObserverTest, SeesEveryStepWithItsRegionCountUntilRemoved) {
  S_CImageStorage image;
  drawNoisyScene(image, {"RGB", "KWY"}, 6, 25, 5);
  S_RegionStorage result;
  StepRecorder engine;
  std::vector<std::pair<std::string, uint32_t>> seen;
  engine.setProgressObserver(
      [](const char* step, unsigned regionCount, void* context) {
        static_cast<std::vector<std::pair<std::string, uint32_t>>*>(context)->emplace_back(step, regionCount);
      },
      &seen);
  engine.processFrame(image, result, 3, 0, 0);
  ASSERT_FALSE(engine.counts.empty());
  EXPECT_EQ(seen, engine.counts);
  EXPECT_EQ(seen.front().first, M_RSST::Step::kConversion);
  EXPECT_EQ(seen.back(), std::make_pair(std::string(M_RSST::Step::kOutput), 3u));

  M_RSST copy;
  copy = engine;  // the observer is configuration, copied with the parameters
  seen.clear();
  copy.processFrame(image, result, 3, 0, 0);
  EXPECT_EQ(seen, engine.counts);

  seen.clear();
  engine.setProgressObserver(nullptr);
  engine.processFrame(image, result, 3, 0, 0);
  EXPECT_TRUE(seen.empty());
}

class SizeDependentParametersTest : public testing::Test {
 protected:
  // imageArea, firstStageTarget, includedSizeLimit, mediumSizeLimit, borderBandX,
  // borderBandY, borderLimitX, borderLimitY, jaggednessRadius.
  std::vector<long long> limitsFor(int width, int height) {
    engine.width = static_cast<int16_t>(width);
    engine.height = static_cast<int16_t>(height);
    engine.setSizeDependentParameters();
    return {engine.imageArea,   engine.firstStageTarget, engine.includedSizeLimit,
            engine.mediumSizeLimit, engine.borderBandX, engine.borderBandY,
            engine.borderLimitX, engine.borderLimitY,    engine.jaggednessRadius};
  }

  EngineProbe engine;
};

TEST_F(SizeDependentParametersTest, WorkedOutByHandForThreeSizes) {
  EXPECT_EQ(limitsFor(320, 240), (std::vector<long long>{76800, 255, 2194, 7680, 4, 4, 315, 235, 3}));
  EXPECT_EQ(limitsFor(640, 480), (std::vector<long long>{307200, 255, 8777, 30720, 9, 8, 630, 471, 7}));
  EXPECT_EQ(limitsFor(4, 4), (std::vector<long long>{16, 255, 0, 1, 0, 0, 3, 3, 2}));
}

TEST_F(SizeDependentParametersTest, FollowTheParameterFields) {
  engine.firstStageRegions = 40;
  engine.includedSizeRatio = 0.5;
  engine.mediumSizeRatio = 0.25;
  EXPECT_EQ(limitsFor(10, 6), (std::vector<long long>{60, 40, 30, 15, 0, 0, 9, 5, 2}));
}

TEST(GuardedAllocatorTest, RefusesEmptyAndNegativeSizes) {
  EngineProbe engine;
  EXPECT_FATAL(engine.rsst_emalloc(0), "M_RSST::rsst_emalloc(n) -> Wrong size: <= 0!");
  EXPECT_FATAL(engine.rsst_emalloc(-8), "M_RSST::rsst_emalloc(n) -> Wrong size: <= 0!");
  void* block = engine.rsst_emalloc(1);
  EXPECT_NE(block, nullptr);
  std::free(block);
}

TEST(RepeatedFramesTest, OneEngineGivesTheSameResultAgainAndAfterAnotherFrame) {
  S_CImageStorage scene, other;
  drawNoisyScene(scene, {"RRG", "BKG"}, 8, 12, 3);
  drawNoisyScene(other, {"WY", "CM", "gO"}, 6, 30, 9);  // another size and a margin
  S_RegionStorage fresh, again, afterOther, otherResult;
  M_RSST().processFrame(scene, fresh, 6, 0, 0);

  M_RSST engine;
  engine.processFrame(scene, again, 6, 0, 0);
  EXPECT_EQ(labelsOf(again), labelsOf(fresh));
  EXPECT_EQ(coloursOf(again), coloursOf(fresh));
  engine.processFrame(scene, again, 6, 0, 0);
  EXPECT_EQ(labelsOf(again), labelsOf(fresh));
  EXPECT_EQ(coloursOf(again), coloursOf(fresh));
  engine.processFrame(other, otherResult, 3, 0, 2);
  engine.processFrame(scene, afterOther, 6, 0, 0);
  EXPECT_EQ(labelsOf(afterOther), labelsOf(fresh));
  EXPECT_EQ(coloursOf(afterOther), coloursOf(fresh));
}

// The first stage and the output are where the memory peaks: no full-size table
// that neither needs may be held there.
TEST(FrameMemoryTest, TablesNoStepNeedsAreNotHeldAtTheTwoPeaks) {
  class TableWatcher : public EngineProbe {
   public:
    std::vector<std::string> held;

   protected:
    void stepDone(const char* step) override {
      const std::string name = step;
      if (name != M_RSST::Step::kFirstStage && name != M_RSST::Step::kOutput) return;
      if (frame().labelMap.isAllocated()) held.push_back(name + ": label map");
      if (frame().contourDumpMap.isAllocated()) held.push_back(name + ": contour picture");
      if (name == M_RSST::Step::kOutput && frame().smoothL.isAllocated()) held.push_back(name + ": smoothed planes");
    }
  };
  S_CImageStorage image;
  drawNoisyScene(image, {"RG", "BK"}, 8, 12, 3);
  S_RegionStorage result;
  TableWatcher engine;
  engine.processFrame(image, result, 3, 0, 0);
  EXPECT_EQ(result.getRegionNumber(), 3);
  EXPECT_EQ(engine.held, std::vector<std::string>());
}
