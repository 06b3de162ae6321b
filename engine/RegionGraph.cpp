// The region graph: regions, links, adjacency and pixel lists and the merge step.
#include <cstdlib>
#include <vector>

#include "engine/EngineInternals.h"

void M_RSST::rsst_initRSST() {
  rsst_initRegionsArray();
  rsst_initLinks();
  rsst_initPL();
  labelMap.allocateArray(width, height);
  contourDumpMap.allocateArray(width, height);
  ++mergeGeneration_;  // a new graph: nothing cached from an earlier frame holds
}

void M_RSST::rsst_initRegionsArray() {
  const long long count = static_cast<long long>(width) * height;
  regionCount = static_cast<uint32_t>(count);
  regions = static_cast<RSSTRegion*>(rsst_emalloc(count * static_cast<long long>(sizeof(RSSTRegion))));
  double** planeL = smoothL.getPtr2Array();
  double** planeU = smoothU.getPtr2Array();
  double** planeV = smoothV.getPtr2Array();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      RSSTRegion& region = regions[x + static_cast<long long>(y) * width];
      region.meanL = planeL[x][y];
      region.meanU = planeU[x][y];
      region.meanV = planeV[x][y];
      region.pixelCount = 1;
      region.searchMark = 0;
      region.linkList = nullptr;
      region.firstPixel = region.lastPixel = nullptr;
      region.colorModelIndex = region.contourIndex = -1;
      region.linkCount = 0;
    }
  }
}

void M_RSST::rsst_initLinks() {
  const long long links = static_cast<long long>(height) * (width - 1) + static_cast<long long>(width) * (height - 1);
  linkHeap = static_cast<RSSTLink**>(rsst_emalloc((links + 1) * static_cast<long long>(sizeof(RSSTLink*))));
  RSSTLink* records = static_cast<RSSTLink*>(rsst_emalloc((links + 1) * static_cast<long long>(sizeof(RSSTLink))));
  records[0] = RSSTLink{0, -1.0, -1, -1};  // sentinel: no cost is below it
  for (long long i = 0; i <= links; ++i) linkHeap[i] = &records[i];
  slotCost_ = static_cast<double*>(rsst_emalloc((links + 1) * static_cast<long long>(sizeof(double))));
  slotCost_[0] = records[0].cost;
  linkNodes = static_cast<RSSTRegionLinkList*>(rsst_emalloc(2 * links * static_cast<long long>(sizeof(RSSTRegionLinkList))));
  heapSize = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width - 1; ++x) rsst_setLink(x + y * width, x + y * width + 1);
  for (int y = 0; y < height - 1; ++y)
    for (int x = 0; x < width; ++x) rsst_setLink(x + y * width, x + (y + 1) * width);
}

void M_RSST::rsst_setLink(int a, int b) {
  const uint32_t k = heapSize + 1;
  RSSTLink* link = linkHeap[k];  // slots above heapSize still hold their own records
  link->regionA = a;
  link->regionB = b;
  link->heapIndex = k;
  link->cost = (this->*linkCost)(&regions[a], &regions[b]);
  rsst_upHeapLPA(k);
  RSSTRegionLinkList* pair = &linkNodes[2 * static_cast<std::size_t>(k - 1)];
  pair[0] = RSSTRegionLinkList{link, nullptr};
  pair[1] = RSSTRegionLinkList{link, nullptr};
  rsst_insertElementRLL(&pair[0], &regions[a].linkList);
  rsst_insertElementRLL(&pair[1], &regions[b].linkList);
  heapSize = k;
}

void M_RSST::rsst_initPL() {
  const long long count = static_cast<long long>(width) * height;
  pixelNodes = static_cast<RSSTPixelList*>(rsst_emalloc(count * static_cast<long long>(sizeof(RSSTPixelList))));
  for (long long p = 0; p < count; ++p) {
    pixelNodes[p] = RSSTPixelList{static_cast<uint32_t>(p), nullptr};
    regions[p].firstPixel = regions[p].lastPixel = &pixelNodes[p];
  }
}

void M_RSST::rsst_insertElementRLL(RSSTRegionLinkList* node, RSSTRegionLinkList** head) {
  node->next = *head;
  *head = node;
}

int M_RSST::rsst_searchRLL(RSSTRegionLinkList* list, int regionIndex) {
  for (; list != nullptr; list = list->next)
    if (list->link->regionA == regionIndex || list->link->regionB == regionIndex) return 1;
  return 0;
}

unsigned M_RSST::countLinks(RSSTRegionLinkList* list) {
  unsigned live = 0;
  for (; list != nullptr; list = list->next)
    if (list->link->heapIndex != 0) ++live;
  return live;
}

int M_RSST::rsst_merge2Regions() {
  RSSTLink* top = linkHeap[1];
  const int a = top->regionA;
  const int b = top->regionB;
  rsst_updateRegion(&regions[b], &regions[a]);
  rsst_updateLinks(b, a);
  --regionCount;
  return static_cast<int>(regionCount);
}

void M_RSST::rsst_updateRegion(RSSTRegion* from, RSSTRegion* into) {
  (this->*jointProperties)(from, into);
  into->pixelCount += from->pixelCount;
  ++mergeGeneration_;  // before the survivor's links are re-priced with the new count
  into->lastPixel->next = from->firstPixel;
  into->lastPixel = from->lastPixel;
}

void M_RSST::rsst_freeMemory() {
  std::free(pixelNodes);
  std::free(linkNodes);
  std::free(regions);
  if (linkHeap != nullptr) std::free(linkHeap[0]);  // slot 0 always holds the block's start
  std::free(linkHeap);
  std::free(slotCost_);
  slotCost_ = nullptr;
  pixelNodes = nullptr;
  linkNodes = nullptr;
  regions = nullptr;
  linkHeap = nullptr;
  heapSize = 0;
  labelMap.deallocateArray();
  contourDumpMap.deallocateArray();
  smoothL.deallocateArray();
  smoothU.deallocateArray();
  smoothV.deallocateArray();
  scratch_->releaseFrameTables();
}
