// The stage driver shared by the contour-aware stages, the colour threshold,
// the first of those stages and the region predicates.
#include "engine/M_RSST.h"
#include "engine/StageSequence.h"

void M_RSST::runStage(LinkCostFunction cost, void (M_RSST::*setLimits)()) {
  linkCost = cost;
  jointProperties = &M_RSST::jointProperties_ColortAndContour;
  if (setLimits != nullptr) (this->*setLimits)();
  rsst_recalculateCosts();
  while (regionCount > wantedRegions && heapSize > 0 && linkHeap[1]->cost < kBlockingCost)
    rsst_merge2Regions();
}

double M_RSST::gatedCost(RSSTRegion* a, RSSTRegion* b, const std::function<bool(const PairMeasures&)>& tests) {
  const PairMeasures m = measurePair(a, b);
  // A small region enclosed by one neighbour merges whatever the tests say.
  if (bIsSmallAndIncluded(a, b, 0.0) || tests(m)) return m.combinedCost();
  return kBlockingCost;
}

double M_RSST::colorDistanceOf(RSSTRegion* a, RSSTRegion* b) {
  return modelOf(a).calcDistanceWith(&modelOf(b));
}

// Area-weighted mean colour distance over all ordered pairs of models, the
// pair of a model with itself included.
void M_RSST::updateColorThreshold() {
  const double area = static_cast<int>(height) * static_cast<int>(width);
  double sum = 0;
  for (int i = 0; i < colorModelCount; ++i) {
    const double qi = colorModels[i].getTotalNumbOfPixels() / area;
    for (int j = 0; j < colorModelCount; ++j) {
      const double qj = colorModels[j].getTotalNumbOfPixels() / area;
      sum += qi * qj * colorModels[i].calcDistanceWith(&colorModels[j]);
    }
  }
  colorThreshold = (sum - 0.117) * 0.2 + 0.026;
  if (colorThreshold < 0) colorThreshold = 0;
}

void M_RSST::merge_ColorAndContour() { runStage(&M_RSST::linkCost_ColorContour); }

double M_RSST::linkCost_ColorContour(RSSTRegion* a, RSSTRegion* b) {
  static constexpr StageLimits kLimits = StageSequence::limitsOf(Step::kColorAndContour);
  static_assert(kLimits.color == kImageThreshold, "this stage's colour limit comes from the image");
  return gatedCost(a, b, [this](const PairMeasures& m) { return m.within(colorThreshold, kLimits.shape, kLimits.border); });
}

bool M_RSST::bIsSmallAndIncluded(RSSTRegion* a, RSSTRegion* b, double) {
  for (RSSTRegion* r : {a, b})
    if (r->pixelCount < includedSizeLimit && countLinks(r->linkList) < 2) return true;
  return false;
}

// Pixel counts change only in merges, so the smallest live count holds
// until the next one.
uint32_t M_RSST::smallestLiveCount() {
  if (smallestGeneration_ != mergeGeneration_) {
    smallestCount_ = UINT32_MAX;
    for (uint32_t k = 1; k <= heapSize; ++k)
      for (int index : {linkHeap[k]->regionA, linkHeap[k]->regionB})
        if (regions[index].pixelCount < smallestCount_) smallestCount_ = regions[index].pixelCount;
    smallestGeneration_ = mergeGeneration_;
  }
  return smallestCount_;
}

// Among regions of equal size the first met in the heap scan wins; the scan
// sees the heap order of the moment, even in the middle of a recalculation.
bool M_RSST::bIsSmallest(RSSTRegion* r) { return (this->*paths_.isSmallest)(r); }

bool M_RSST::isSmallestByScan(RSSTRegion* r) {
  const RSSTRegion* best = nullptr;
  uint32_t least = static_cast<uint32_t>(static_cast<int>(height) * static_cast<int>(width));
  for (uint32_t k = 1; k <= heapSize; ++k)
    for (int index : {linkHeap[k]->regionA, linkHeap[k]->regionB})
      if (regions[index].pixelCount < least) {
        least = regions[index].pixelCount;
        best = &regions[index];
      }
  return best == r;
}

// Only a region of the smallest size can be the one; the scan then stops at
// the first region of that size.
bool M_RSST::isSmallestByCachedSize(RSSTRegion* r) {
  if (heapSize == 0) return false;
  const uint32_t least = smallestLiveCount();
  const uint32_t start = static_cast<uint32_t>(static_cast<int>(height) * static_cast<int>(width));
  if (least >= start || r->pixelCount != least) return false;
  for (uint32_t k = 1; k <= heapSize; ++k)
    for (int index : {linkHeap[k]->regionA, linkHeap[k]->regionB})
      if (regions[index].pixelCount == least) return &regions[index] == r;
  return false;
}

void M_RSST::setVerySmallSizeLimit() {
  verySmallSizeLimit = static_cast<uint32_t>(imageArea / (1.0 / verySmallSizeRatio + regionCount));
}

void M_RSST::setSmallSizeLimitFromCount() {
  smallSizeLimit = static_cast<uint32_t>(imageArea / (1.0 / smallSizeRatio + regionCount));
}

void M_RSST::setSmallSizeLimitFromArea() {
  smallSizeLimit = static_cast<uint32_t>(imageArea * smallSizeRatio);
}
