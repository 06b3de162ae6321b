// Early clean-up stages: weak borders, very small, shape reduction, very
// similar colour, small and jagged-border pairs.
#include "engine/M_RSST.h"

void M_RSST::merge_WeakBorders() { runStage(&M_RSST::linkCost_WeakBorders); }
void M_RSST::merge_VerySmall() { runStage(&M_RSST::linkCost_VerySmall, &M_RSST::setVerySmallSizeLimit); }
void M_RSST::merge_ShapeComplxReduction() { runStage(&M_RSST::linkCost_ShapeComplxReduction); }
void M_RSST::merge_VerySimilarColor() { runStage(&M_RSST::linkCost_VerySimilarColor); }
void M_RSST::merge_Small() { runStage(&M_RSST::linkCost_Small, &M_RSST::setSmallSizeLimitFromCount); }
void M_RSST::merge_JaggedAndSimilarColor() { runStage(&M_RSST::linkCost_JaggedAndSimilarColor); }

double M_RSST::linkCost_WeakBorders(RSSTRegion* a, RSSTRegion* b) {
  return gatedCost(a, b, [&](const PairMeasures& m) {
    return m.within(0.08, 0.9, 0.95) && !(computeBoundaryStrength(a, b) > 0.9);
  });
}

// A pure size rule: no tests and no exemption.
double M_RSST::linkCost_VerySmall(RSSTRegion* a, RSSTRegion* b) {
  if (!(a->pixelCount < verySmallSizeLimit || b->pixelCount < verySmallSizeLimit)) return kBlockingCost;
  return measurePair(a, b).combinedCost();
}

double M_RSST::linkCost_ShapeComplxReduction(RSSTRegion* a, RSSTRegion* b) {
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(0.055, 0.41, 0.5); });
}

double M_RSST::linkCost_VerySimilarColor(RSSTRegion* a, RSSTRegion* b) {
  return gatedCost(a, b, [](const PairMeasures& m) {
    return m.within(0.018, 0.9, 0.95) && !(m.mergedComplexity > 10.0);
  });
}

double M_RSST::linkCost_Small(RSSTRegion* a, RSSTRegion* b) {
  if (!(a->pixelCount < smallSizeLimit || b->pixelCount < smallSizeLimit)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(0.07, 0.8, 0.7); });
}

double M_RSST::linkCost_JaggedAndSimilarColor(RSSTRegion* a, RSSTRegion* b) {
  return gatedCost(a, b, [&](const PairMeasures& m) {
    double shareA, shareB;
    return m.within(0.05, 0.8, 0.8) && !(jaggedBorderCostOf(a, b, shareA, shareB) > 0.92);
  });
}
