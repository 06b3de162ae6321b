// The stage driver shared by the contour-aware stages, their gated cost shape,
// the colour threshold and the small-and-included exemption.
#include "engine/EngineInternals.h"

void M_RSST::runStage(LinkCostFunction cost, void (M_RSST::*setLimits)()) {
  linkCost = cost;
  jointProperties = &M_RSST::jointProperties_ColortAndContour;
  if (setLimits != nullptr) (this->*setLimits)();
  rsst_recalculateCosts();
  while (regionCount > wantedRegions && heap().size() > 0 && heap().costInSlot(1) < kBlockingCost)
    rsst_merge2Regions();
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

bool M_RSST::bIsSmallAndIncluded(RSSTRegion* a, RSSTRegion* b, double) {
  for (RSSTRegion* r : {a, b})
    if (r->pixelCount < includedSizeLimit && countLinks(r->linkList) < 2) return true;
  return false;
}
