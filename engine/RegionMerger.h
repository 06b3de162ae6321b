// A compact merger of the first stage's rule over any region graph: the fast
// mode runs it on each tile's pixels and then on the graph of the tiles' regions.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/CostHeap.h"

// Merges the cheapest link until a region count is reached, with the first
// stage's cost and mean update and the link heap's tie rules. Two liberties,
// both for inputs that would otherwise take quadratic time:
//  - a region with many links that takes in a small one does not re-price
//    them all; a link priced before one of its ends last changed is priced
//    again when it reaches the top of the heap, and merged only once its cost
//    is current;
//  - the union keeps the record of the region with the longer list, so a big
//    region taking in a small one moves the small one's links only; and the
//    union of two regions of equal means keeps them, where the update would
//    move them by a last bit.
// Its results depend on the graph it is given only.
class ColorSizeMerger {
 public:
  struct Region {
    double meanL, meanU, meanV;
    uint32_t pixelCount;  // 0 once absorbed
    uint32_t list;        // first node of its links (0: none), removed ones included
    uint32_t listLength;  // nodes on list
    uint32_t degree;      // live links
    uint32_t lazySince;   // the merge that changed it without re-pricing its links (0: none since)
    uint32_t mark;        // the merge whose neighbour test marked it
    uint32_t drift;       // pixels taken in since it last re-priced all its links
    uint32_t firstPixel;  // its pixels, a list through the caller's pixelNext
    uint32_t lastPixel;
    uint32_t index;  // the engine's number for it: the pixel it started from
  };

  // Empties the merger for a graph of at most this many regions and links,
  // keeping the memory of earlier graphs.
  void begin(uint32_t regions, uint32_t links);
  // Regions are numbered in the order they are added, from 0; of r only the
  // means, count, pixel list and index are taken.
  uint32_t addRegion(const Region& r);
  // a survives a merge of the link unless b has the longer list.
  void addLink(uint32_t a, uint32_t b);
  // Appends pixel lists through pixelNext as regions merge.
  void mergeDownTo(uint32_t limit, uint32_t* pixelNext);

  uint32_t liveCount() const { return live_; }
  uint32_t regionTotal() const { return static_cast<uint32_t>(regions_.size()); }
  const Region& region(uint32_t r) const { return regions_[r]; }
  // Calls visit(a, b) for the live links in the order they were added.
  template <class Visit>
  void forEachLiveLink(const Visit& visit) const {
    for (uint32_t id = 1; id <= added_; ++id) {
      const CostLink& link = heap_.link(id);
      if (link.slot != 0) visit(link.a, link.b);
    }
  }

 private:
  // Up to this many live links a survivor re-prices them all at once, as the
  // first stage does.
  static constexpr uint32_t kEagerDegree = 32;
  // Or when the pixels it took in since it last did reach this share of its own.
  static constexpr uint32_t kDriftShare = 16;

  bool isStale(uint32_t link) const;
  void price(uint32_t link);
  void merge(uint32_t link, uint32_t* pixelNext);
  bool adjacent(uint32_t r, uint32_t n);
  template <class Visit>
  bool walkLinks(uint32_t r, const Visit& visit);

  std::vector<Region> regions_;
  CostHeap heap_;
  uint32_t added_ = 0;
  uint32_t live_ = 0;
  uint32_t clock_ = 0;  // merges so far
};
