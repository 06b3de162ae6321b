// What the engine's own files share beyond its public header: the frame's
// memory, the work tables, descriptor access and the gated cost shape.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/GraphRecords.h"
#include "engine/LinkHeap.h"
#include "engine/M_RSST.h"
#include "engine/ScratchTable.h"
#include "engine/descriptors/CLUVColorModel.h"
#include "engine/descriptors/CRSSTContour.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"
#include "storage/T_Array.h"

struct PixelBox {
  int x0, y0, x1, y1;  // empty while x1 < x0
  void add(int x, int y) {
    x0 = x < x0 ? x : x0;
    x1 = x > x1 ? x : x1;
    y0 = y < y0 ? y : y0;
    y1 = y > y1 ? y : y1;
  }
  void add(const PixelBox& other) {
    if (other.x1 < other.x0) return;
    add(other.x0, other.y0);
    add(other.x1, other.y1);
  }
  // Whether a 4-neighbour of (x, y) can lie inside.
  bool reaches(int x, int y) const { return x + 1 >= x0 && x - 1 <= x1 && y + 1 >= y0 && y - 1 <= y1; }
};

// The least pixel count of the live regions, taken at a merge generation:
// pixel counts change only in merges, so it holds until the next one.
struct SmallestCount {
  uint64_t generation = UINT64_MAX;
  uint32_t count = 0;
};

// Small tables kept between merges and frames so that the hot steps allocate nothing.
struct EngineScratch {
  std::vector<uint32_t> pendingRecount;
  std::unique_ptr<CRSSTContour> mergeList;  // the contour of a merge, before it is stored
  SmallestCount smallest;
};

// Everything one frame takes, from the planes to the colour models. The
// engine's region, contour and model pointers are views into it; one
// destructor releases it all when the frame ends (or the engine dies).
struct FrameWorkspace {
  T_Array<double> smoothL, smoothU, smoothV;
  LinkHeap heap;
  FrameBlock<M_RSST::RSSTRegion> regions;
  FrameBlock<M_RSST::RSSTRegionDescriptors> regionDescriptors;
  FrameBlock<uint32_t> pixelNext;
  T_Array<int32_t> labelMap;
  T_Array<uint32_t> contourDumpMap;
  std::unique_ptr<CRSSTContour[]> contours;
  std::unique_ptr<CLUVColorModel[]> colorModels;
  std::vector<int32_t> windowCounts;  // summed-area table of the jaggedness recount
  // Each contour's region's pixel box, by contour index, for the merge
  // generation boxesGeneration: the contour update carries them over to the
  // next one, and any other merge leaves them behind (empty: nothing is known).
  std::vector<PixelBox> contourBoxes;
  uint64_t boxesGeneration = 0;
  std::shared_ptr<void> tileGraph;  // the fast mode's graph of tile regions, from the graph step to the first stage
  uint32_t searchMark = 0;   // the mark of the current redundancy search
  unsigned regionFloor = 0;  // processFrame's floor, for the last stage of the sequence

  bool boxesHeldAt(uint64_t generation, int32_t contourCount) const {
    return boxesGeneration == generation && contourBoxes.size() == static_cast<std::size_t>(contourCount);
  }
  void releasePlanes() {
    smoothL.deallocateArray();
    smoothU.deallocateArray();
    smoothV.deallocateArray();
  }
};

inline FrameWorkspace& M_RSST::frame() {
  if (frame_ == nullptr) frame_ = new FrameWorkspace;
  return *frame_;
}

inline LinkHeap& M_RSST::heap() { return frame().heap; }

inline CRSSTContour& M_RSST::contourOf(const RSSTRegion* r) { return contours[descriptorsOf(r).contourIndex]; }

inline CLUVColorModel& M_RSST::modelOf(const RSSTRegion* r) { return colorModels[descriptorsOf(r).colorModelIndex]; }

// The pixel box of r while the label map has followed every merge since the
// contours were taken; null otherwise, and always on the literal paths.
inline const PixelBox* M_RSST::knownBoxOf(const RSSTRegion* r) {
  const FrameWorkspace& f = frame();
  if (literal_ || !f.boxesHeldAt(mergeGeneration_, contourCount)) return nullptr;
  return &f.contourBoxes[static_cast<std::size_t>(descriptorsOf(r).contourIndex)];
}

// A small region enclosed by one neighbour merges whatever the tests say.
template <class Tests>
double M_RSST::gatedCost(RSSTRegion* a, RSSTRegion* b, const Tests& tests) {
  const PairMeasures m = measurePair(a, b);
  if (bIsSmallAndIncluded(a, b, 0.0) || tests(m)) return m.combinedCost();
  return kBlockingCost;
}
