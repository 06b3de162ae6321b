// The link heap's blocks and the link bookkeeping of a merge.
#include <cstring>

#include "engine/EngineInternals.h"

void LinkHeap::allocate(uint32_t count) {
  release();
  const long long entries = static_cast<long long>(count) + 1;
  slots_ = static_cast<Slot*>(takeEngineBlock(entries * static_cast<long long>(sizeof(Slot))));
  links_ = static_cast<RSSTLink*>(takeEngineBlock(entries * static_cast<long long>(sizeof(RSSTLink))));
  slots_[0] = Slot{-1.0, 0};
  links_[0] = RSSTLink{0, -1, -1, {0, 0}};
  capacity_ = count;
  size_ = 0;
}

uint32_t M_RSST::heapSize() { return frame_ == nullptr ? 0 : frame_->heap.size(); }

RSSTLink& M_RSST::linkInSlot(uint32_t k) { return heap().atSlot(k); }

double M_RSST::costInSlot(uint32_t k) { return heap().costInSlot(k); }

RSSTLink& M_RSST::linkRecord(uint32_t id) { return heap().link(id); }

uint32_t& M_RSST::nextNode(uint32_t node) { return heap().next(node); }

void LinkHeap::shrinkSlots() {
  Slot* kept = static_cast<Slot*>(takeEngineBlock((static_cast<long long>(size_) + 1) * static_cast<long long>(sizeof(Slot))));
  std::memcpy(kept, slots_, (static_cast<std::size_t>(size_) + 1) * sizeof(Slot));
  std::free(slots_);
  slots_ = kept;
}

unsigned M_RSST::rsst_upHeapLPA(unsigned k) { return heap().upHeap(k); }

unsigned M_RSST::rsst_reheapLPA(unsigned k) { return heap().reheap(k); }

// Moves the absorbed region's links to the survivor. A link to a region the
// survivor already touches is redundant and leaves the heap; the others are
// pushed onto the survivor's list in the order the absorbed list holds them.
void M_RSST::rsst_updateLinks(int absorbed, int survivor) { (this->*paths_.updateLinks)(absorbed, survivor); }

// Whether a neighbour is already on the survivor's list (dead nodes included)
// is all the search decides, so mark those neighbours once. The mark sits in
// the region records, which the re-pricing reads anyway.
void M_RSST::updateLinksByMarks(int absorbed, int survivor) {
  if (++searchMarkValue_ == 0) {
    for (long long p = 0; p < static_cast<long long>(width) * height; ++p) regionDescriptors[p].searchMark = 0;
    searchMarkValue_ = 1;
  }
  regionDescriptors[survivor].searchMark = searchMarkValue_;
  LinkHeap& links = heap();
  for (uint32_t node = regions[survivor].linkList; node != 0; node = links.next(node)) {
    const RSSTLink& link = links.link(linkOfNode(node));
    regionDescriptors[link.regionA != survivor ? link.regionA : link.regionB].searchMark = searchMarkValue_;
  }
  moveAbsorbedLinks(absorbed, survivor, [this](int neighbour) { return regionDescriptors[neighbour].searchMark == searchMarkValue_; });
  repriceLinksOf(survivor);
}

void M_RSST::updateLinksBySearch(int absorbed, int survivor) {
  const uint32_t survivorHead = regions[survivor].linkList;
  moveAbsorbedLinks(absorbed, survivor,
                    [&](int neighbour) { return rsst_searchRLL(survivorHead, neighbour) != 0; });
  repriceLinksOf(survivor);
}

// A node on the absorbed list stands for the link's end that is the absorbed
// region, so the node keeps its side when it moves to the survivor.
template <class Redundant>
void M_RSST::moveAbsorbedLinks(int absorbed, int survivor, const Redundant& redundant) {
  LinkHeap& links = heap();
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
      rsst_insertElementRLL(node, &regions[survivor].linkList);
    }
  }
}

// Drops the nodes of removed links and re-prices the live ones in list order.
void M_RSST::repriceLinksOf(int survivor) {
  LinkHeap& links = heap();
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
