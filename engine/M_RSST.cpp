// The engine object, its size-dependent limits and the processing pipeline.
#include "engine/EngineInternals.h"

#include <cmath>

#include "engine/ScratchTable.h"
#include "engine/StageSequence.h"
#include "storage/Report.h"

M_RSST::M_RSST()
    : linkCost(&M_RSST::linkCost_ColorAndSize),
      jointProperties(&M_RSST::jointProperties_ColorMean),
      scratch_(new EngineScratch) {}

M_RSST::~M_RSST() {
  rsst_freeMemory();
  delete scratch_;
}

M_RSST& M_RSST::operator=(const M_RSST& other) {
  if (this == &other) return *this;
  PAM_RSST::operator=(other);
  linkCost = other.linkCost;
  jointProperties = other.jointProperties;
  colorThreshold = other.colorThreshold;
  wantedRegions = other.wantedRegions;
  literal_ = other.literal_;
  progressObserver_ = other.progressObserver_;
  progressContext_ = other.progressContext_;
  return *this;
}

void M_RSST::processFrame(S_CImageStorage& image, S_RegionStorage& result, unsigned wanted,
                          unsigned regionFloor, unsigned margin) {
  const long long border = 2LL * margin;
  if (image.getWidth() - border < 5 || image.getHeight() - border < 5) {
    reportWarning("\nInput image too small!");
    // Nothing of an earlier frame may pass for this one's result: the caller
    // finds no regions and no map (isEmpty()).
    result.deallocateStorage();
    return;
  }
  const auto reportStep = [this](const char* step) {
    stepDone(step);
    if (progressObserver_ != nullptr) progressObserver_(step, regionCount, progressContext_);
  };
  statFile = nullptr;
  convertInput2LUV(&image, margin);
  reportStep(Step::kConversion);
  gaussianBlur();
  reportStep(Step::kBlur);
  setSizeDependentParameters();
  wantedRegions = wanted >= 2048 ? 2048 : wanted;
  if (wantedRegions < 2) wantedRegions = 2;
  linkCost = &M_RSST::linkCost_ColorAndSize;
  jointProperties = &M_RSST::jointProperties_ColorMean;
  // The graph reads the planes only for the regions' first means: they give
  // their memory back before the links, the graph's largest part, are made,
  // and the same input makes them again, bit for bit, for the contour stages.
  if (fastMode) {
    mergeInTiles();
    reportStep(Step::kGraph);
    mergeTileGraph();
  } else {
    rsst_initRegionsArray();
    frame().releasePlanes();
    rsst_initLinks();
    rsst_initPL();
    reportStep(Step::kGraph);
    merge_AvgColorAndSize(false, firstStageTarget);
  }
  heap().shrinkSlots();
  reportStep(Step::kFirstStage);

  allocateLUVModels(static_cast<int>(regionCount));
  extractLUVModels();
  reportStep(Step::kModels);
  allocateContours(static_cast<int>(regionCount));
  extractContours();
  convertInput2LUV(&image, margin);
  gaussianBlur();
  reportStep(Step::kContours);
  updateColorThreshold();
  reportStep(Step::kThreshold);

  // The contour-aware stages, in the order of their table.
  frame().regionFloor = regionFloor;
  for (const StageSequence::Row& row : StageSequence::kStages) {
    (this->*row.stage)();
    reportStep(row.step);
  }

  // The labels need the regions, their pixels and models only.
  frame().releasePlanes();
  frame().labelMap.deallocateArray();
  frame().contourDumpMap.deallocateArray();
  deallocateContours();
  result.allocateStorage(image.getWidth(), image.getHeight());
  writeOutput(result, margin);
  reportStep(Step::kOutput);
  rsst_freeMemory();
  if (statFile != nullptr) {
    std::fclose(statFile);
    statFile = nullptr;
  }
}

void M_RSST::useLiteralPaths(bool literal) { literal_ = literal; }

void M_RSST::setProgressObserver(ProgressObserver observer, void* context) {
  progressObserver_ = observer;
  progressContext_ = context;
}

void M_RSST::setSizeDependentParameters() {
  const int w = width;
  const int h = height;
  imageArea = static_cast<uint32_t>(w) * static_cast<uint32_t>(h);
  firstStageTarget = firstStageRegions;
  includedSizeLimit = static_cast<uint32_t>(imageArea * includedSizeRatio);
  mediumSizeLimit = static_cast<uint32_t>(imageArea * mediumSizeRatio);
  borderBandX = w / 70;
  borderBandY = h / 55;
  borderLimitX = w - w / 70 - 1;
  if (borderLimitX < 0) borderLimitX = 0;
  borderLimitY = h - h / 55 - 1;
  if (borderLimitY < 0) borderLimitY = 0;
  jaggednessRadius = static_cast<int32_t>(std::floor(std::sqrt(imageArea * 0.0008) * 0.5));
  if (jaggednessRadius < 2) jaggednessRadius = 2;
}

// Work tables that are written here and there (a huge page would make every
// touched spot cost 2 MB of memory) get no huge pages.
void* M_RSST::rsst_emalloc(long long size) { return takeEngineBlock(size, false); }

void M_RSST::forEachLiveRegionCalling(void (*call)(const void* visit, int, uint32_t), const void* visit) {
  const long long entries = (static_cast<long long>(width) + 1) * (height + 1);
  ScratchTable<uint32_t> savedCounts(rsst_emalloc(entries * static_cast<long long>(sizeof(uint32_t))));
  const LinkHeap& links = heap();
  links.forEachEnd([&](int32_t index) {
    RSSTRegion& region = regions[index];
    if (region.pixelCount == 0) return;
    savedCounts[index] = region.pixelCount;
    region.pixelCount = 0;
    call(visit, index, savedCounts[index]);
  });
  links.forEachEnd([&](int32_t index) {
    if (regions[index].pixelCount == 0) regions[index].pixelCount = savedCounts[index];
  });
}
