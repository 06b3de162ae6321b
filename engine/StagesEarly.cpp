// The colour-and-contour stage and the early clean-up stages: weak borders,
// very small, shape reduction, very similar colour, small and jagged-border pairs.
#include "engine/EngineInternals.h"
#include "engine/StageSequence.h"

void M_RSST::merge_ColorAndContour() { runStage(&M_RSST::linkCost_ColorContour); }

double M_RSST::linkCost_ColorContour(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kColorAndContour);
  static_assert(kLimits.color == kImageThreshold, "this stage's colour limit comes from the image");
  return gatedCost(a, b, [this](const PairMeasures& m) { return m.within(colorThreshold, kLimits.shape, kLimits.border); });
}

void M_RSST::merge_WeakBorders() { runStage(&M_RSST::linkCost_WeakBorders); }
void M_RSST::merge_VerySmall() { runStage(&M_RSST::linkCost_VerySmall, &M_RSST::setVerySmallSizeLimit); }
void M_RSST::merge_ShapeComplxReduction() { runStage(&M_RSST::linkCost_ShapeComplxReduction); }
void M_RSST::merge_VerySimilarColor() { runStage(&M_RSST::linkCost_VerySimilarColor); }
void M_RSST::merge_Small() { runStage(&M_RSST::linkCost_Small, &M_RSST::setSmallSizeLimitFromCount); }
void M_RSST::merge_JaggedAndSimilarColor() { runStage(&M_RSST::linkCost_JaggedAndSimilarColor); }

double M_RSST::linkCost_WeakBorders(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kWeakBorders);
  return gatedCost(a, b, [&](const PairMeasures& m) {
    return m.within(kLimits.color, kLimits.shape, kLimits.border) && !(computeBoundaryStrength(a, b) > kLimits.own);
  });
}

// A pure size rule: no tests and no exemption.
double M_RSST::linkCost_VerySmall(RSSTRegion* a, RSSTRegion* b) {
  if (!(a->pixelCount < verySmallSizeLimit || b->pixelCount < verySmallSizeLimit)) return kBlockingCost;
  return measurePair(a, b).combinedCost();
}

double M_RSST::linkCost_ShapeComplxReduction(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kShapeReduction);
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(kLimits.color, kLimits.shape, kLimits.border); });
}

double M_RSST::linkCost_VerySimilarColor(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kVerySimilarColor);
  return gatedCost(a, b, [](const PairMeasures& m) {
    return m.within(kLimits.color, kLimits.shape, kLimits.border) && !(m.mergedComplexity > kLimits.own);
  });
}

double M_RSST::linkCost_Small(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kSmall);
  if (!(a->pixelCount < smallSizeLimit || b->pixelCount < smallSizeLimit)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(kLimits.color, kLimits.shape, kLimits.border); });
}

double M_RSST::linkCost_JaggedAndSimilarColor(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kJaggedAndSimilar);
  return gatedCost(a, b, [&](const PairMeasures& m) {
    double shareA, shareB;
    return m.within(kLimits.color, kLimits.shape, kLimits.border) &&
           !(jaggedBorderCostOf(a, b, shareA, shareB) > kLimits.own);
  });
}

void M_RSST::setVerySmallSizeLimit() {
  verySmallSizeLimit = static_cast<uint32_t>(imageArea / (1.0 / verySmallSizeRatio + regionCount));
}

void M_RSST::setSmallSizeLimitFromCount() {
  smallSizeLimit = static_cast<uint32_t>(imageArea / (1.0 / smallSizeRatio + regionCount));
}
