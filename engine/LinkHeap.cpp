// The 1-based link min-heap and the link bookkeeping of a merge.
#include "engine/M_RSST.h"

// The only writers of heap slots. The slot-aligned copy of the costs keeps the
// sift comparisons off the link records; a link moved between slots takes its
// cost along from the copy, so no link record is read during a sift.
void M_RSST::placeLinkInSlot(RSSTLink* link, unsigned k) {
  linkHeap[k] = link;
  link->heapIndex = k;
  slotCost_[k] = link->cost;
}

void M_RSST::moveLinkToSlot(unsigned from, unsigned to) {
  linkHeap[to] = linkHeap[from];
  linkHeap[to]->heapIndex = to;
  slotCost_[to] = slotCost_[from];
}

// Equal costs never move up, so on a flat image the oldest link stays on top
// and merges follow link creation order.
unsigned M_RSST::rsst_upHeapLPA(unsigned k) {
  RSSTLink* link = linkHeap[k];
  const double cost = link->cost;
  while (cost < slotCost_[k / 2]) {  // the sentinel in slot 0 stops the walk
    moveLinkToSlot(k / 2, k);
    k /= 2;
  }
  placeLinkInSlot(link, k);
  return k;
}

// On equal child costs the left child is taken, and a link only moves below a
// child that is strictly cheaper.
unsigned M_RSST::rsst_reheapLPA(unsigned k) {
  RSSTLink* link = linkHeap[k];
  const double cost = link->cost;
  if (cost < slotCost_[k / 2]) return rsst_upHeapLPA(k);
  if (k > heapSize / 2) {
    placeLinkInSlot(link, k);
    return k;
  }
  do {
    unsigned child = 2 * k;
    if (child < heapSize && slotCost_[child] > slotCost_[child + 1]) ++child;
    if (!(cost > slotCost_[child])) break;
    moveLinkToSlot(child, k);
    k = child;
  } while (k <= heapSize / 2);
  placeLinkInSlot(link, k);
  return k;
}

void M_RSST::removeLinkFromHeap(RSSTLink* link) {
  const uint32_t slot = link->heapIndex;
  if (slot < heapSize) {
    placeLinkInSlot(linkHeap[heapSize], slot);
    --heapSize;
    rsst_reheapLPA(slot);
  } else {
    --heapSize;
  }
  link->heapIndex = 0;
}

// Moves the absorbed region's links to the survivor. A link to a region the
// survivor already touches is redundant and leaves the heap; the others are
// pushed onto the survivor's list in the order the absorbed list holds them.
void M_RSST::rsst_updateLinks(int absorbed, int survivor) { (this->*paths_.updateLinks)(absorbed, survivor); }

// Whether a neighbour is already on the survivor's list (dead nodes included)
// is all the search decides, so mark those neighbours once. The mark sits in
// the region records, which the re-pricing reads anyway.
void M_RSST::updateLinksByMarks(int absorbed, int survivor) {
  if (++searchMarkValue_ == 0) {
    for (long long p = 0; p < static_cast<long long>(width) * height; ++p) regions[p].searchMark = 0;
    searchMarkValue_ = 1;
  }
  regions[survivor].searchMark = searchMarkValue_;
  for (RSSTRegionLinkList* node = regions[survivor].linkList; node != nullptr; node = node->next) {
    const RSSTLink* link = node->link;
    regions[link->regionA != survivor ? link->regionA : link->regionB].searchMark = searchMarkValue_;
  }
  moveAbsorbedLinks(absorbed, survivor, [this](int neighbour) { return regions[neighbour].searchMark == searchMarkValue_; });
  repriceLinksOf(survivor);
}

void M_RSST::updateLinksBySearch(int absorbed, int survivor) {
  RSSTRegionLinkList* const survivorHead = regions[survivor].linkList;
  moveAbsorbedLinks(absorbed, survivor,
                    [&](int neighbour) { return rsst_searchRLL(survivorHead, neighbour) != 0; });
  repriceLinksOf(survivor);
}

template <class Redundant>
void M_RSST::moveAbsorbedLinks(int absorbed, int survivor, const Redundant& redundant) {
  RSSTRegion& a = regions[survivor];
  RSSTRegionLinkList* next = nullptr;
  for (RSSTRegionLinkList* node = regions[absorbed].linkList; node != nullptr; node = next) {
    next = node->next;
    RSSTLink* link = node->link;
    if (link->heapIndex == 0) continue;
    if (redundant(link->regionA != absorbed ? link->regionA : link->regionB)) {
      removeLinkFromHeap(link);
    } else {
      if (link->regionB == absorbed) link->regionB = survivor;
      else link->regionA = survivor;
      rsst_insertElementRLL(node, &a.linkList);
    }
  }
}

// Drops the nodes of removed links and re-prices the live ones in list order.
void M_RSST::repriceLinksOf(int survivor) {
  RSSTRegionLinkList** slot = &regions[survivor].linkList;
  while (*slot != nullptr) {
    RSSTRegionLinkList* node = *slot;
    RSSTLink* link = node->link;
    if (link->heapIndex == 0) {
      *slot = node->next;
      continue;
    }
    link->cost = (this->*linkCost)(&regions[link->regionA], &regions[link->regionB]);
    rsst_reheapLPA(link->heapIndex);
    slot = &node->next;
  }
}

// Each slot is priced before any upward move can reach it, so successive
// upward moves rebuild a valid heap.
void M_RSST::rsst_recalculateCosts() {
  for (uint32_t k = 1; k <= heapSize; ++k) {
    RSSTLink* link = linkHeap[k];
    link->cost = (this->*linkCost)(&regions[link->regionA], &regions[link->regionB]);
    rsst_upHeapLPA(k);
  }
}
