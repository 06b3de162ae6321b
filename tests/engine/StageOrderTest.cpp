// The pipeline runs its steps in one fixed order, and each stage step has run
// its own stage: the cost and merge update it leaves installed are its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineProbe.h"
#include "support/GoldenMaps.h"

namespace {

using Cost = M_RSST::LinkCostFunction;
using Update = M_RSST::JointPropertiesFunction;

struct StepRecord {
  std::string name;
  Cost cost;
  Update update;
  uint32_t regionsBefore;
  uint32_t regionsAfter;
  uint32_t verySmallSizeLimit;
  uint32_t smallSizeLimit;
};

class StepLog : public EngineProbe {
 public:
  using M_RSST::jointProperties_ColorMean;
  using M_RSST::jointProperties_ColortAndContour;

  std::vector<StepRecord> steps;

 protected:
  void stepDone(const char* step) override {
    const uint32_t before = steps.empty() ? 0 : steps.back().regionsAfter;
    steps.push_back({step, linkCost, jointProperties, before, regionCount, verySmallSizeLimit, smallSizeLimit});
  }
};

struct Expected {
  const char* name;
  Cost cost;  // the cost left installed by the step
};

const std::vector<Expected> kSequence = {
    {"conversion", &StepLog::linkCost_ColorAndSize},
    {"blur", &StepLog::linkCost_ColorAndSize},
    {"graph", &StepLog::linkCost_ColorAndSize},
    {"first stage", &StepLog::linkCost_ColorAndSize},
    {"models", &StepLog::linkCost_ColorAndSize},
    {"contours", &StepLog::linkCost_ColorAndSize},
    {"threshold", &StepLog::linkCost_ColorAndSize},
    {"colour and contour", &StepLog::linkCost_ColorContour},
    {"weak borders", &StepLog::linkCost_WeakBorders},
    {"very small", &StepLog::linkCost_VerySmall},
    {"shape reduction", &StepLog::linkCost_ShapeComplxReduction},
    {"very similar colour", &StepLog::linkCost_VerySimilarColor},
    {"small", &StepLog::linkCost_Small},
    {"jagged and similar", &StepLog::linkCost_JaggedAndSimilarColor},
    {"remove complex", &StepLog::linkCost_RemoveComplex},
    {"remove very complex", &StepLog::linkCost_RemoveVeryComplex},
    {"remove jagged", &StepLog::linkCost_RemoveJagged},
    {"creates simple", &StepLog::linkCost_CreateSimple},
    {"background", &StepLog::linkCost_Background},
    {"small with big", &StepLog::linkCost_SmallWithBig},
    {"medium and similar", &StepLog::linkCost_MediumAndSimilarColor},
    {"medium and simpler", &StepLog::linkCost_MediumAndSimpler},
    {"force smallest", &StepLog::linkCost_ForceSmallest},
    {"output", &StepLog::linkCost_ForceSmallest}};

std::vector<StepRecord> segmentRocket(unsigned wanted, unsigned regionFloor) {
  S_CImageStorage image;
  EXPECT_EQ(readPpm(std::string(TEST_DATA_DIR) + "/golden/rocket_96x64.ppm", image), "");
  StepLog log;
  S_RegionStorage result;
  log.processFrame(image, result, wanted, regionFloor, 0);
  return log.steps;
}

}  // namespace

TEST(StageOrderTest, StepsRunInTheirOrderEachWithItsOwnCostAndUpdate) {
  for (const unsigned wanted : {0u, 10u}) {
    const std::vector<StepRecord> steps = segmentRocket(wanted, wanted == 0 ? 255 : 0);
    std::vector<std::string> names;
    for (const StepRecord& step : steps) names.push_back(step.name);
    std::vector<std::string> expectedNames;
    for (const Expected& e : kSequence) expectedNames.push_back(e.name);
    ASSERT_EQ(names, expectedNames);
    for (size_t i = 0; i < kSequence.size(); ++i) {
      const StepRecord& step = steps[i];
      EXPECT_TRUE(step.cost == kSequence[i].cost) << step.name << " left another stage's cost installed";
      const bool contourStage = i >= 7;
      const Update update = contourStage ? &StepLog::jointProperties_ColortAndContour : &StepLog::jointProperties_ColorMean;
      EXPECT_TRUE(step.update == update) << step.name << " left another merge update installed";
    }
  }
}

// The size limits are taken at the start of their own stage, from the count
// the previous step left; the small stage's limit is replaced by the
// small-with-big stage.
TEST(StageOrderTest, SizeLimitsAreSetByTheirOwnStages) {
  const std::vector<StepRecord> steps = segmentRocket(10, 0);
  const uint32_t area = 96 * 64;
  auto find = [&](const std::string& name) -> const StepRecord& {
    for (const StepRecord& step : steps)
      if (step.name == name) return step;
    return steps.front();
  };
  const StepRecord& verySmall = find("very small");
  const StepRecord& small = find("small");
  EXPECT_EQ(find("weak borders").verySmallSizeLimit, 0u);
  EXPECT_EQ(verySmall.verySmallSizeLimit, static_cast<uint32_t>(area / (200.0 + verySmall.regionsBefore)));
  EXPECT_EQ(find("very similar colour").smallSizeLimit, 0u);
  EXPECT_EQ(small.smallSizeLimit, static_cast<uint32_t>(area / (50.0 + small.regionsBefore)));
  EXPECT_EQ(find("background").smallSizeLimit, small.smallSizeLimit);
  EXPECT_EQ(find("small with big").smallSizeLimit, static_cast<uint32_t>(area * 0.02));
  // Both stages merge in this frame, so a limit taken after them would differ.
  EXPECT_NE(verySmall.regionsBefore, verySmall.regionsAfter);
  EXPECT_NE(small.regionsBefore, small.regionsAfter);
}
