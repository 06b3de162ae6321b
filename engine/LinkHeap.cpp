// The engine's views of the link heap and the link bookkeeping of a merge.
#include "engine/EngineInternals.h"

namespace {

using Region = M_RSST::RSSTRegion;

// A node on the absorbed list stands for the link's end that is the absorbed
// region, so the node keeps its side when it moves to the survivor.
template <class Redundant>
void moveAbsorbedLinks(LinkHeap& links, Region* regions, int absorbed, int survivor, const Redundant& redundant) {
  uint32_t next = 0;
  for (uint32_t node = regions[absorbed].linkList; node != 0; node = next) {
    next = links.next(node);
    const uint32_t id = linkOfNode(node);
    RSSTLink& link = links.link(id);
    if (link.heapIndex == 0) continue;
    if (redundant(link.regionA != absorbed ? link.regionA : link.regionB)) {
      links.remove(id);
    } else {
      if (link.regionB == absorbed) link.regionB = survivor;
      else link.regionA = survivor;
      links.pushNode(node, regions[survivor].linkList);
    }
  }
}

}  // namespace

uint32_t M_RSST::heapSize() { return frame_ == nullptr ? 0 : frame_->heap.size(); }

RSSTLink& M_RSST::linkInSlot(uint32_t k) { return heap().atSlot(k); }

double M_RSST::costInSlot(uint32_t k) { return heap().costInSlot(k); }

RSSTLink& M_RSST::linkRecord(uint32_t id) { return heap().link(id); }

uint32_t& M_RSST::nextNode(uint32_t node) { return heap().next(node); }

unsigned M_RSST::rsst_upHeapLPA(unsigned k) { return heap().upHeap(k); }

unsigned M_RSST::rsst_reheapLPA(unsigned k) { return heap().reheap(k); }

// Moves the absorbed region's links to the survivor. A link to a region the
// survivor already touches is redundant and leaves the heap; the others are
// pushed onto the survivor's list in the order the absorbed list holds them.
// Then drops the nodes of removed links and re-prices the live ones in list order.
//
// Whether a neighbour is already on the survivor's list (dead nodes included)
// is all the search decides, so the fast path marks those neighbours once.
// The mark sits in the region records, which the re-pricing reads anyway.
void M_RSST::rsst_updateLinks(int absorbed, int survivor) {
  LinkHeap& links = heap();
  if (literal_) {
    const uint32_t survivorHead = regions[survivor].linkList;
    moveAbsorbedLinks(links, regions, absorbed, survivor,
                      [&](int neighbour) { return rsst_searchRLL(survivorHead, neighbour) != 0; });
  } else {
    uint32_t& mark = frame().searchMark;
    if (++mark == 0) {
      for (long long p = 0; p < static_cast<long long>(width) * height; ++p) regionDescriptors[p].searchMark = 0;
      mark = 1;
    }
    regionDescriptors[survivor].searchMark = mark;
    for (uint32_t node = regions[survivor].linkList; node != 0; node = links.next(node)) {
      const RSSTLink& link = links.link(linkOfNode(node));
      regionDescriptors[link.regionA != survivor ? link.regionA : link.regionB].searchMark = mark;
    }
    moveAbsorbedLinks(links, regions, absorbed, survivor,
                      [&](int neighbour) { return regionDescriptors[neighbour].searchMark == mark; });
  }
  uint32_t* slot = &regions[survivor].linkList;
  while (*slot != 0) {
    const uint32_t node = *slot;
    const RSSTLink& link = links.link(linkOfNode(node));
    if (link.heapIndex == 0) {
      *slot = links.next(node);
      continue;
    }
    links.reprice(link.heapIndex, (this->*linkCost)(&regions[link.regionA], &regions[link.regionB]));
    slot = &links.next(node);
  }
}

// Each slot is priced before any upward move can reach it, so successive
// upward moves rebuild a valid heap.
void M_RSST::rsst_recalculateCosts() {
  if (frame_ == nullptr) return;
  LinkHeap& links = heap();
  for (uint32_t k = 1; k <= links.size(); ++k) {
    const RSSTLink& link = links.atSlot(k);
    links.repriceRising(k, (this->*linkCost)(&regions[link.regionA], &regions[link.regionB]));
  }
}
