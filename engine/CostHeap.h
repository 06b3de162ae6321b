// The fast mode's link records and the four-way heap that orders them by cost.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/ScratchTable.h"

// A link between two regions of the fast mode's merger. Its two list nodes
// are implied, as in the engine's graph: node 2 * id is on a's list, node
// 2 * id + 1 on b's, and next holds the node after each (0 ends a list).
struct CostLink {
  uint32_t slot;  // its place in the heap plus one; 0 once removed
  uint32_t a, b;
  uint32_t next[2];
  uint32_t pricedAt;  // the merge it was last priced at
};

// A min-heap with four children to a node, so that a sift reads one cache
// line per level and goes half as deep as a binary one. Ties keep the link
// that is already higher up. It is the only writer of a link's slot.
class CostHeap {
 public:
  CostHeap() = default;
  ~CostHeap() { std::free(slots_); }
  CostHeap(const CostHeap&) = delete;
  CostHeap& operator=(const CostHeap&) = delete;

  // Empties the heap for up to count links (numbered 1..count, their records
  // cleared), keeping the memory it already has.
  void reset(uint32_t count) {
    records_.assign(static_cast<std::size_t>(count) + 1, CostLink{0, 0, 0, {0, 0}, 0});
    links_ = records_.data();
    if (count > room_) {
      std::free(slots_);
      const long long bytes = (static_cast<long long>(count) + kFirst + 4) * static_cast<long long>(sizeof(Slot));
      slots_ = static_cast<Slot*>(takeEngineBlock(bytes, false));
      room_ = count;
    }
    size_ = 0;
  }

  uint32_t size() const { return size_; }
  CostLink& link(uint32_t id) { return links_[id]; }
  const CostLink& link(uint32_t id) const { return links_[id]; }
  uint32_t& next(uint32_t node) { return links_[node >> 1].next[node & 1]; }
  uint32_t top() const { return slots_[kFirst].link; }
  double costOf(uint32_t id) const { return slots_[kFirst + links_[id].slot - 1].cost; }

  // Adds link id (its record already filled but for the slot).
  void push(uint32_t id, double cost) {
    ++size_;
    siftUp(size_ - 1, Slot{cost, id});
  }
  // A new cost for a live link; the heap is restored around it.
  void reprice(uint32_t id, double cost) {
    const uint32_t i = links_[id].slot - 1;
    const Slot moving{cost, id};
    if (i > 0 && cost < at(parentOf(i)).cost) siftUp(i, moving);
    else siftDown(i, moving);
  }
  void remove(uint32_t id) {
    const uint32_t i = links_[id].slot - 1;
    links_[id].slot = 0;
    const Slot last = at(--size_);
    if (i == size_) return;
    if (i > 0 && last.cost < at(parentOf(i)).cost) siftUp(i, last);
    else siftDown(i, last);
  }

 private:
  struct Slot {
    double cost;
    uint32_t link;
  };
  // Slot i sits at kFirst + i, so that the children 4i + 1 .. 4i + 4 of any
  // slot share one 64-byte line.
  static constexpr uint32_t kFirst = 3;

  static uint32_t parentOf(uint32_t i) { return (i - 1) / 4; }
  Slot& at(uint32_t i) { return slots_[kFirst + i]; }
  void place(const Slot& slot, uint32_t i) {
    at(i) = slot;
    links_[slot.link].slot = i + 1;
  }
  void siftUp(uint32_t i, const Slot& moving) {
    while (i > 0 && moving.cost < at(parentOf(i)).cost) {
      place(at(parentOf(i)), i);
      i = parentOf(i);
    }
    place(moving, i);
  }
  void siftDown(uint32_t i, const Slot& moving) {
    for (;;) {
      const uint32_t first = 4 * i + 1;
      if (first >= size_) break;
      const uint32_t end = first + 4 < size_ ? first + 4 : size_;
      uint32_t least = first;
      for (uint32_t c = first + 1; c < end; ++c)
        if (at(c).cost < at(least).cost) least = c;
      if (!(at(least).cost < moving.cost)) break;
      place(at(least), i);
      i = least;
    }
    place(moving, i);
  }

  Slot* slots_ = nullptr;  // 64-byte aligned (see kFirst)
  uint32_t room_ = 0;
  uint32_t size_ = 0;
  std::vector<CostLink> records_;
  CostLink* links_ = nullptr;
};
