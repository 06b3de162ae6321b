// The region graph: regions, links, adjacency and pixel lists and the merge step.
#include <array>
#include <cstdlib>
#include <vector>

#include "engine/EngineInternals.h"
#include "engine/WorkSplit.h"

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
  splitWork(threadCount, height, [&](unsigned, long long y0, long long y1) {
    for (long long y = y0; y < y1; ++y) {
      for (int x = 0; x < width; ++x) {
        RSSTRegion& region = regions[x + y * width];
        region.meanL = planeL[x][y];
        region.meanU = planeU[x][y];
        region.meanV = planeV[x][y];
        region.pixelCount = 1;
        region.linkList = 0;
        region.firstPixel = region.lastPixel = static_cast<uint32_t>(x + y * width);
        region.changeableList = 0;
        region.linkTail = 0;
      }
    }
  });
}

namespace {

// The links of the pixel grid, numbered in creation order: each row's links
// to the right, row by row, then each row's links down. A pixel's list holds
// its nodes newest first, as rsst_setLink pushes them: down, up, right, left.
struct GridLinks {
  long long width, height;

  uint32_t right(long long x, long long y) const { return static_cast<uint32_t>(y * (width - 1) + x + 1); }
  uint32_t down(long long x, long long y) const {
    return static_cast<uint32_t>(height * (width - 1) + y * width + x + 1);
  }
  // The pixel's list, 0 after its last node.
  std::array<uint32_t, 5> listOf(long long x, long long y) const {
    std::array<uint32_t, 5> nodes{};
    int n = 0;
    if (y + 1 < height) nodes[n++] = nodeOf(down(x, y), 0);
    if (y > 0) nodes[n++] = nodeOf(down(x, y - 1), 1);
    if (x + 1 < width) nodes[n++] = nodeOf(right(x, y), 0);
    if (x > 0) nodes[n++] = nodeOf(right(x - 1, y), 1);
    return nodes;
  }
  static uint32_t after(const std::array<uint32_t, 5>& list, uint32_t node) {
    int i = 0;
    while (list[i] != node) ++i;
    return list[i + 1];
  }
};

}  // namespace

// The same links, lists and heap as rsst_setLink called for every link in id
// order, built row band by row band: each band writes the links leaving its
// pixels and its pixels' list heads, and the heap is then built in id order.
void M_RSST::rsst_initLinks() {
  const long long count = static_cast<long long>(height) * (width - 1) + static_cast<long long>(width) * (height - 1);
  LinkHeap& links = heap();
  links.allocate(static_cast<uint32_t>(count));
  const GridLinks grid{width, height};
  // A cost a caller installed may keep state: only the first stage's own is priced in parts.
  const unsigned parts = linkCost == &M_RSST::linkCost_ColorAndSize ? threadCount : 1;
  splitWork(parts, height, [&](unsigned, long long y0, long long y1) {
    for (long long y = y0; y < y1; ++y) {
      for (long long x = 0; x < width; ++x) {
        const int p = static_cast<int>(x + y * width);
        const std::array<uint32_t, 5> list = grid.listOf(x, y);
        regions[p].linkList = list[0];
        auto fill = [&](uint32_t id, int q, const std::array<uint32_t, 5>& far) {
          links.fill(id, p, q, (this->*linkCost)(&regions[p], &regions[q]), GridLinks::after(list, nodeOf(id, 0)),
                    GridLinks::after(far, nodeOf(id, 1)));
        };
        if (x + 1 < width) fill(grid.right(x, y), p + 1, grid.listOf(x + 1, y));
        if (y + 1 < height) fill(grid.down(x, y), p + width, grid.listOf(x, y + 1));
      }
    }
  });
  links.riseInOrder(static_cast<uint32_t>(count));
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
  splitWork(threadCount, count, [&](unsigned, long long begin, long long end) {
    for (long long p = begin; p < end; ++p) pixelNext[p] = kNoPixel;
  });
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
