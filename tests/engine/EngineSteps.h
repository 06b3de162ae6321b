// The engine's first pipeline steps run one by one, and views of its graph and result, for tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "EngineProbe.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

// Working planes, limits and the initial graph, as processFrame builds them.
inline void buildGraph(EngineProbe& engine, S_CImageStorage& image, unsigned margin = 0) {
  engine.convertInput2LUV(&image, margin);
  engine.gaussianBlur();
  engine.setSizeDependentParameters();
  engine.rsst_initRSST();
}

inline void runFirstStage(EngineProbe& engine, unsigned wanted) {
  engine.wantedRegions = wanted;
  engine.merge_AvgColorAndSize(false, engine.firstStageTarget);
}

inline void giveColorModels(EngineProbe& engine) {
  engine.allocateLUVModels(static_cast<int>(engine.regionCount));
  engine.extractLUVModels();
}

// Records the region count after every pipeline step of processFrame.
class StepRecorder : public EngineProbe {
 public:
  std::vector<std::pair<std::string, uint32_t>> counts;

 protected:
  void stepDone(const char* step) override { counts.emplace_back(step, regionCount); }
};

// Live regions in the order the engine visits them.
inline std::vector<int> liveRegions(EngineProbe& engine) {
  std::vector<int> live;
  engine.forEachLiveRegion([&](int index, uint32_t) { live.push_back(index); });
  return live;
}

// Regions joined to region by a live link, read from the heap alone.
inline std::set<int> liveNeighbours(EngineProbe& engine, int region) {
  std::set<int> neighbours;
  for (uint32_t k = 1; k <= engine.heapSize(); ++k) {
    const RSSTLink& link = engine.linkInSlot(k);
    if (link.regionA == region) neighbours.insert(link.regionB);
    if (link.regionB == region) neighbours.insert(link.regionA);
  }
  return neighbours;
}

// The pels of a result region in the order they were added: the creation pel first.
inline std::vector<std::pair<int, int>> pelsInAddingOrder(S_RegionStorage& result, const E_RegionInfo* region) {
  std::vector<std::pair<int, int>> pels;
  short x = 0, y = 0;
  result.getRegFirstPel(region, &x, &y);
  while (x != -1 && y != -1) {
    pels.emplace_back(x, y);
    short nx = 0, ny = 0;
    result.getNextPel(x, y, &nx, &ny);
    x = nx;
    y = ny;
  }
  std::reverse(pels.begin(), pels.end());  // the chain runs newest first
  return pels;
}

// Display colour of every pel, row by row, packed as 0xRRGGBB.
inline std::vector<int> coloursOf(S_RegionStorage& result) {
  std::vector<int> colours;
  for (short y = 0; y < result.getHeight(); ++y) {
    for (short x = 0; x < result.getWidth(); ++x) {
      unsigned char r = 0, g = 0, b = 0;
      result.getPtr2PelRegion(x, y)->readRegRgb(&r, &g, &b);
      colours.push_back(r << 16 | g << 8 | b);
    }
  }
  return colours;
}
