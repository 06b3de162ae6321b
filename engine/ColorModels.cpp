// The engine's colour models: one per live region after the first stage.
#include <new>

#include "engine/EngineInternals.h"
#include "storage/Report.h"

int M_RSST::allocateLUVModels(int n) {
  if (colorModels != nullptr)
    reportFatal("M_RSST::allocateLUVMOdels(...), allocateLUVMOdels already allocated!");
  frame().colorModels.reset(new (std::nothrow) CLUVColorModel[n > 0 ? n : 1]);
  colorModels = frame().colorModels.get();
  if (colorModels == nullptr) reportFatal("M_RSST::allocateLUVMOdels(...), Memory allocation error!");
  colorModelCount = n;
  return 1;
}

int M_RSST::deallocateLUVModels() {
  if (colorModels == nullptr) reportFatal("M_RSST::deallocateLUVMOdels(...), Models NOT allocated!");
  frame().colorModels.reset();
  colorModels = nullptr;
  colorModelCount = 0;
  return 1;
}

// Each model starts as one shade: the region's mean colour with its real
// pixel count (the count in the record is the visited mark during the walk).
void M_RSST::extractLUVModels() {
  int next = 0;
  forEachLiveRegion([&](int index, uint32_t pixelCount) {
    if (next >= colorModelCount) reportFatal("M_RSST::extractLUVModels(...) -> Number of LUV Models Excided!");
    RSSTRegion& region = regions[index];
    colorModels[next].addShade(region.meanL, region.meanU, region.meanV, static_cast<int>(pixelCount));
    regionDescriptors[index].colorModelIndex = next;
    ++next;
  });
}
