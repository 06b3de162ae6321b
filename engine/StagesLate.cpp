// Late simplification stages and the force stage that reaches a requested count.
#include "engine/EngineInternals.h"
#include "engine/StageSequence.h"

namespace {

using Region = M_RSST::RSSTRegion;

bool isSmallestByScan(const LinkHeap& links, const Region* regions, uint32_t start, const Region* r) {
  const Region* best = nullptr;
  uint32_t least = start;
  links.forEachEnd([&](int32_t index) {
    if (regions[index].pixelCount < least) {
      least = regions[index].pixelCount;
      best = &regions[index];
    }
  });
  return best == r;
}

uint32_t smallestLiveCount(const LinkHeap& links, const Region* regions) {
  uint32_t least = UINT32_MAX;
  links.forEachEnd([&](int32_t index) {
    if (regions[index].pixelCount < least) least = regions[index].pixelCount;
  });
  return least;
}

// Given the least live count, only a region of that size can be the one; the
// scan then stops at the first region of that size.
bool isSmallestByCount(const LinkHeap& links, const Region* regions, uint32_t start, uint32_t least, const Region* r) {
  if (least >= start || r->pixelCount != least) return false;
  const Region* first = nullptr;
  links.forEachEnd([&](int32_t index) {
    if (regions[index].pixelCount != least) return false;
    first = &regions[index];
    return true;
  });
  return first == r;
}

}  // namespace

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
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kRemoveComplex);
  if (!eitherAtLeastAsComplexAs(a, b, kLimits.least)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(kLimits.color, kLimits.shape, kLimits.border); });
}

double M_RSST::linkCost_RemoveVeryComplex(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kRemoveVeryComplex);
  if (!eitherAtLeastAsComplexAs(a, b, kLimits.least)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(kLimits.color, kLimits.shape, kLimits.border); });
}

double M_RSST::linkCost_RemoveJagged(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kRemoveJagged);
  return gatedCost(a, b, [&](const PairMeasures& m) {
    if (!m.within(kLimits.color, kLimits.shape, kLimits.border)) return false;
    double shareA, shareB;
    const double jaggedBorderCost = jaggedBorderCostOf(a, b, shareA, shareB);
    // Either contour must be jagged over at least the least share; exactly that share passes.
    return !(shareA < kLimits.least && shareB < kLimits.least) && !(jaggedBorderCost > kLimits.own);
  });
}

double M_RSST::linkCost_CreateSimple(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kCreatesSimple);
  return gatedCost(a, b, [](const PairMeasures& m) {
    return m.within(kLimits.color, kLimits.shape, kLimits.border) && !(m.mergedComplexity > kLimits.own);
  });
}

// Similar regions that meet inside the image-border band; no shape or border test.
double M_RSST::linkCost_Background(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kBackground);
  return gatedCost(a, b, [&](const PairMeasures& m) {
    return !(m.colorDistance > kLimits.color) && bImageBorderRegions(a, b);
  });
}

// Both outlines must be more complex than the least complexity; equal blocks.
double M_RSST::linkCost_SmallWithBig(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kSmallWithBig);
  const bool oneSmall = a->pixelCount < smallSizeLimit || b->pixelCount < smallSizeLimit;
  if (!oneSmall || !(computeShapeComplexity(a) > kLimits.least) || !(computeShapeComplexity(b) > kLimits.least))
    return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(kLimits.color, kLimits.shape, kLimits.border); });
}

double M_RSST::linkCost_MediumAndSimilarColor(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kMediumAndSimilar);
  if (!(a->pixelCount < mediumSizeLimit && b->pixelCount < mediumSizeLimit)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(kLimits.color, kLimits.shape, kLimits.border); });
}

double M_RSST::linkCost_MediumAndSimpler(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kMediumAndSimpler);
  if (!(a->pixelCount < mediumSizeLimit && b->pixelCount < mediumSizeLimit)) return kBlockingCost;
  return gatedCost(a, b, [](const PairMeasures& m) { return m.within(kLimits.color, kLimits.shape, kLimits.border); });
}

// The stage table's entry for the last stage: the floor is processFrame's.
void M_RSST::forceSmallestAboveFloor() { merge_ForceSmallest(frame().regionFloor); }

// Eligibility depends on which region is the smallest right now, so every
// merge is followed by a full recalculation.
void M_RSST::merge_ForceSmallest(unsigned regionFloor) {
  linkCost = &M_RSST::linkCost_ForceSmallest;
  jointProperties = &M_RSST::jointProperties_ColortAndContour;
  rsst_recalculateCosts();
  while (regionCount > wantedRegions && regionCount > regionFloor && heap().size() > 0 &&
         heap().costInSlot(1) < kBlockingCost) {
    rsst_merge2Regions();
    rsst_recalculateCosts();
  }
}

double M_RSST::linkCost_ForceSmallest(RSSTRegion* a, RSSTRegion* b) {
  if (bIsSmallest(a) || bIsSmallest(b) || bIsSmallAndIncluded(a, b, 0.0)) return measurePair(a, b).combinedCost();
  return kBlockingCost;
}

// Among regions of equal size the first met in the heap scan wins; the scan
// sees the heap order of the moment, even in the middle of a recalculation.
bool M_RSST::bIsSmallest(RSSTRegion* r) {
  const uint32_t start = static_cast<uint32_t>(static_cast<int>(height) * static_cast<int>(width));
  if (literal_) return isSmallestByScan(heap(), regions, start, r);
  if (heap().size() == 0) return false;
  SmallestCount& smallest = scratch_->smallest;
  if (smallest.generation != mergeGeneration_) smallest = {mergeGeneration_, smallestLiveCount(heap(), regions)};
  return isSmallestByCount(heap(), regions, start, smallest.count, r);
}

void M_RSST::setSmallSizeLimitFromArea() {
  smallSizeLimit = static_cast<uint32_t>(imageArea * smallSizeRatio);
}
