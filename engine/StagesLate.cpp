// Late simplification stages and the force stage that reaches a requested count.
#include "engine/M_RSST.h"

void M_RSST::merge_RemoveComplex() { runStage(&M_RSST::linkCost_RemoveComplex); }
void M_RSST::merge_RemoveVeryComplex() { runStage(&M_RSST::linkCost_RemoveVeryComplex); }
void M_RSST::merge_RemoveJagged() { runStage(&M_RSST::linkCost_RemoveJagged); }
void M_RSST::merge_CreatesSimple() { runStage(&M_RSST::linkCost_CreateSimple); }
void M_RSST::merge_Background() { runStage(&M_RSST::linkCost_Background); }
void M_RSST::merge_SmallWithBig() { runStage(&M_RSST::linkCost_SmallWithBig, &M_RSST::setSmallSizeLimitFromArea); }
void M_RSST::merge_MediumAndSimilarColor() { runStage(&M_RSST::linkCost_MediumAndSimilarColor); }
void M_RSST::merge_MediumAndSimpler() { runStage(&M_RSST::linkCost_MediumAndSimpler); }

// A's complexity is held in single precision for the gate, B's in double.
bool M_RSST::eitherAtLeastAsComplexAs(RSSTRegion* a, RSSTRegion* b, double gate) {
  return static_cast<float>(computeShapeComplexity(a)) >= gate || computeShapeComplexity(b) >= gate;
}

double M_RSST::linkCost_RemoveComplex(RSSTRegion* a, RSSTRegion* b) {
  if (!eitherAtLeastAsComplexAs(a, b, 10.0)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(0.12, 0.9, 0.6); });
}

double M_RSST::linkCost_RemoveVeryComplex(RSSTRegion* a, RSSTRegion* b) {
  if (!eitherAtLeastAsComplexAs(a, b, 11.0)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(0.2, 0.9, 0.6); });
}

double M_RSST::linkCost_RemoveJagged(RSSTRegion* a, RSSTRegion* b) {
  return gatedCost(a, b, [&](const PairMeasures& m) {
    if (!m.within(0.07, 0.95, 0.8)) return false;
    double shareA, shareB;
    const double jaggedBorderCost = jaggedBorderCostOf(a, b, shareA, shareB);
    // A quarter of either contour must be jagged; exactly a quarter passes.
    return !(shareA < 0.25 && shareB < 0.25) && !(jaggedBorderCost > 0.95);
  });
}

double M_RSST::linkCost_CreateSimple(RSSTRegion* a, RSSTRegion* b) {
  return gatedCost(a, b, [](const PairMeasures& m) {
    return m.within(0.07, 0.5, 0.75) && !(m.mergedComplexity > 4.5);
  });
}

// Similar regions that meet inside the image-border band; no shape or border test.
double M_RSST::linkCost_Background(RSSTRegion* a, RSSTRegion* b) {
  return gatedCost(a, b, [&](const PairMeasures& m) {
    return !(m.colorDistance > 0.03) && bImageBorderRegions(a, b);
  });
}

double M_RSST::linkCost_SmallWithBig(RSSTRegion* a, RSSTRegion* b) {
  const bool oneSmall = a->pixelCount < smallSizeLimit || b->pixelCount < smallSizeLimit;
  if (!oneSmall || !(computeShapeComplexity(a) > 5.0) || !(computeShapeComplexity(b) > 5.0)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(0.1, 0.6, 0.7); });
}

double M_RSST::linkCost_MediumAndSimilarColor(RSSTRegion* a, RSSTRegion* b) {
  if (!(a->pixelCount < mediumSizeLimit && b->pixelCount < mediumSizeLimit)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(0.02, 0.8, 0.8); });
}

double M_RSST::linkCost_MediumAndSimpler(RSSTRegion* a, RSSTRegion* b) {
  if (!(a->pixelCount < mediumSizeLimit && b->pixelCount < mediumSizeLimit)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(0.06, 0.41, 0.5); });
}

// Eligibility depends on which region is the smallest right now, so every
// merge is followed by a full recalculation.
void M_RSST::merge_ForceSmallest(unsigned regionFloor) {
  linkCost = &M_RSST::linkCost_ForceSmallest;
  jointProperties = &M_RSST::jointProperties_ColortAndContour;
  rsst_recalculateCosts();
  while (regionCount > wantedRegions && regionCount > regionFloor && heapSize > 0 &&
         linkHeap[1]->cost < kBlockingCost) {
    rsst_merge2Regions();
    rsst_recalculateCosts();
  }
}

double M_RSST::linkCost_ForceSmallest(RSSTRegion* a, RSSTRegion* b) {
  if (bIsSmallest(a) || bIsSmallest(b) || bIsSmallAndIncluded(a, b, 0.0)) return measurePair(a, b).combinedCost();
  return kBlockingCost;
}
