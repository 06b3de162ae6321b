// The region graph: regions, links, adjacency and pixel lists and the merge step.
#include <cstdlib>
#include <vector>

#include "engine/EngineInternals.h"

void M_RSST::rsst_initRSST() {
  rsst_initRegionsArray();
  rsst_initLinks();
  rsst_initPL();
}

void M_RSST::rsst_initRegionsArray() {
  const long long count = static_cast<long long>(width) * height;
  regionCount = static_cast<uint32_t>(count);
  ++mergeGeneration_;  // a new graph: nothing cached from an earlier frame holds
  regions = frame().regions.take(count);
  regionDescriptors = frame().regionDescriptors.takeZeroed(count);
  double** planeL = frame().smoothL.getPtr2Array();
  double** planeU = frame().smoothU.getPtr2Array();
  double** planeV = frame().smoothV.getPtr2Array();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      RSSTRegion& region = regions[x + static_cast<long long>(y) * width];
      region.meanL = planeL[x][y];
      region.meanU = planeU[x][y];
      region.meanV = planeV[x][y];
      region.pixelCount = 1;
      region.linkList = 0;
      region.firstPixel = region.lastPixel = static_cast<uint32_t>(x + static_cast<long long>(y) * width);
      region.changeableList = 0;
      region.linkTail = 0;
    }
  }
}

void M_RSST::rsst_initLinks() {
  const long long links = static_cast<long long>(height) * (width - 1) + static_cast<long long>(width) * (height - 1);
  heap().allocate(static_cast<uint32_t>(links));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width - 1; ++x) rsst_setLink(x + y * width, x + y * width + 1);
  for (int y = 0; y < height - 1; ++y)
    for (int x = 0; x < width; ++x) rsst_setLink(x + y * width, x + (y + 1) * width);
}

void M_RSST::rsst_setLink(int a, int b) {
  LinkHeap& links = heap();
  const uint32_t id = links.size() + 1;
  links.push(a, b, (this->*linkCost)(&regions[a], &regions[b]));
  rsst_insertElementRLL(nodeOf(id, 0), &regions[a].linkList);
  rsst_insertElementRLL(nodeOf(id, 1), &regions[b].linkList);
}

void M_RSST::rsst_initPL() {
  const long long count = static_cast<long long>(width) * height;
  pixelNext = frame().pixelNext.take(count);
  for (long long p = 0; p < count; ++p) pixelNext[p] = kNoPixel;
}

void M_RSST::rsst_insertElementRLL(uint32_t node, uint32_t* head) { heap().pushNode(node, *head); }

int M_RSST::rsst_searchRLL(uint32_t list, int regionIndex) {
  for (; list != 0; list = heap().next(list)) {
    const RSSTLink& link = heap().link(linkOfNode(list));
    if (link.regionA == regionIndex || link.regionB == regionIndex) return 1;
  }
  return 0;
}

unsigned M_RSST::countLinks(uint32_t list) {
  unsigned live = 0;
  for (; list != 0; list = heap().next(list))
    if (heap().link(linkOfNode(list)).heapIndex != 0) ++live;
  return live;
}

int M_RSST::rsst_merge2Regions() {
  const RSSTLink& top = heap().atSlot(1);
  const int a = top.regionA;
  const int b = top.regionB;
  rsst_updateRegion(&regions[b], &regions[a]);
  rsst_updateLinks(b, a);
  --regionCount;
  return static_cast<int>(regionCount);
}

void M_RSST::rsst_updateRegion(RSSTRegion* from, RSSTRegion* into) {
  (this->*jointProperties)(from, into);
  into->pixelCount += from->pixelCount;
  // After the update, which stamps the contour boxes for this merge's
  // generation, and before the survivor's links are re-priced with the new count.
  ++mergeGeneration_;
  pixelNext[into->lastPixel] = from->firstPixel;
  into->lastPixel = from->lastPixel;
}

void M_RSST::rsst_freeMemory() {
  delete frame_;
  frame_ = nullptr;
  regions = nullptr;
  regionDescriptors = nullptr;
  pixelNext = nullptr;
  contours = nullptr;
  colorModels = nullptr;
  contourCount = 0;
  colorModelCount = 0;
}
