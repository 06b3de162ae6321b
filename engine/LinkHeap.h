// The 1-based min-heap of a frame's links and the link records themselves.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <type_traits>
#include <utility>

#include "engine/GraphRecords.h"
#include "engine/ScratchTable.h"

// Owns the heap slots and the link records (numbered 1..count in creation
// order) and is the only writer of a slot and of a link's heapIndex. A slot
// carries its link's cost, so a sift reads nothing but slots; both children
// of a slot share a cache line.
class LinkHeap {
 public:
  struct Slot {
    double cost;
    uint32_t link;
  };

  // Room for count links; slot 0 is a sentinel no cost is below, and link 0
  // a record that stands for "no link".
  void allocate(uint32_t count) {
    const long long entries = static_cast<long long>(count) + 1;
    slots_ = slotBlock_.take(entries);
    links_ = linkBlock_.take(entries);
    slots_[0] = Slot{-1.0, 0};
    links_[0] = RSSTLink{0, -1, -1, {0, 0}};
    capacity_ = count;
    size_ = 0;
  }
  // Gives back the slots beyond the heap's size: no link is pushed after the
  // graph is built, and the first stage leaves a few hundred of millions.
  void shrinkSlots() {
    FrameBlock<Slot> kept;
    std::memcpy(kept.take(static_cast<long long>(size_) + 1), slots_,
                (static_cast<std::size_t>(size_) + 1) * sizeof(Slot));
    slotBlock_ = std::move(kept);
    slots_ = slotBlock_.get();
  }

  uint32_t size() const { return size_; }
  uint32_t capacity() const { return capacity_; }  // link records, 1..capacity
  RSSTLink& link(uint32_t id) { return links_[id]; }
  const RSSTLink& link(uint32_t id) const { return links_[id]; }
  uint32_t linkInSlot(uint32_t k) const { return slots_[k].link; }
  RSSTLink& atSlot(uint32_t k) { return links_[slots_[k].link]; }
  // The node after node on its list (see RSSTLink).
  uint32_t& next(uint32_t node) { return links_[linkOfNode(node)].next[node & 1]; }
  // Puts node in front of the list that head starts.
  void pushNode(uint32_t node, uint32_t& head) {
    next(node) = head;
    head = node;
  }
  double costInSlot(uint32_t k) const { return slots_[k].cost; }
  // The cost a live link was last priced at.
  double costOf(uint32_t id) const { return slots_[links_[id].heapIndex].cost; }

  // Calls visit(region) for each end of every live link, in heap order, each
  // link's regionA first. A visit that returns a bool ends the walk with true;
  // the walk returns whether one did.
  template <class Visit>
  bool forEachEnd(const Visit& visit) const {
    for (uint32_t k = 1; k <= size_; ++k) {
      const RSSTLink& link = links_[slots_[k].link];
      for (const int32_t end : {link.regionA, link.regionB}) {
        if constexpr (std::is_void_v<decltype(visit(end))>) visit(end);
        else if (visit(end)) return true;
      }
    }
    return false;
  }

  // Adds the next link in creation order at the bottom and lets it rise.
  uint32_t push(int32_t regionA, int32_t regionB, double cost) {
    const uint32_t id = ++size_;
    links_[id] = RSSTLink{0, regionA, regionB, {0, 0}};
    slots_[id] = Slot{cost, id};
    return upHeap(id);
  }

  // Writes link id and its slot as push would, with the nodes after its two
  // list nodes, but lets it rise only in riseInOrder: links of other ids may
  // be written at the same time.
  void fill(uint32_t id, int32_t regionA, int32_t regionB, double cost, uint32_t nextA, uint32_t nextB) {
    links_[id] = RSSTLink{0, regionA, regionB, {nextA, nextB}};
    slots_[id] = Slot{cost, id};
  }

  // Lets the filled links 1..count rise one after the other: the heap that
  // pushing them in id order builds.
  void riseInOrder(uint32_t count) {
    while (size_ < count) upHeap(++size_);
  }

  // A new cost for the link in slot k; the heap is restored around it.
  uint32_t reprice(uint32_t k, double cost) {
    slots_[k].cost = cost;
    return reheap(k);
  }

  // A new cost for slot k that is only let rise: when every slot is priced
  // in slot order, the slots below k are not yet valid.
  uint32_t repriceRising(uint32_t k, double cost) {
    slots_[k].cost = cost;
    return upHeap(k);
  }

  // Equal costs never move up, so on a flat image the oldest link stays on
  // top and merges follow link creation order.
  uint32_t upHeap(uint32_t k) {
    const Slot moving = slots_[k];
    while (moving.cost < slots_[k / 2].cost) {  // the sentinel in slot 0 stops the walk
      moveSlot(k / 2, k);
      k /= 2;
    }
    place(moving, k);
    return k;
  }

  // On equal child costs the left child is taken, and a link only moves below
  // a child that is strictly cheaper.
  uint32_t reheap(uint32_t k) {
    const Slot moving = slots_[k];
    if (moving.cost < slots_[k / 2].cost) return upHeap(k);
    if (k > size_ / 2) {
      place(moving, k);
      return k;
    }
    do {
      uint32_t child = 2 * k;
      // Deeper than the cached top of the heap, the pairs the walk may compare
      // two steps on (one of four, in two lines) are asked for now.
      if (k >= kCachedTop && k <= size_ / 8) {
        __builtin_prefetch(&slots_[8 * k]);
        __builtin_prefetch(&slots_[8 * k + 4]);
      }
      if (child < size_ && slots_[child].cost > slots_[child + 1].cost) ++child;
      if (!(moving.cost > slots_[child].cost)) break;
      moveSlot(child, k);
      k = child;
    } while (k <= size_ / 2);
    place(moving, k);
    return k;
  }

  // The last slot fills the hole and finds its place from there.
  void remove(uint32_t id) {
    const uint32_t k = links_[id].heapIndex;
    if (k < size_) {
      place(slots_[size_], k);
      --size_;
      reheap(k);
    } else {
      --size_;
    }
    links_[id].heapIndex = 0;
  }

 private:
  static constexpr uint32_t kCachedTop = 2048;  // slots: 32 KB, a first-level cache

  void place(const Slot& slot, uint32_t k) {
    slots_[k] = slot;
    links_[slot.link].heapIndex = k;
  }
  void moveSlot(uint32_t from, uint32_t to) { place(slots_[from], to); }

  // The blocks own the memory; the heap reads it through plain views, on
  // which the compiler makes shorter merge loops than through the owners.
  FrameBlock<Slot> slotBlock_;
  FrameBlock<RSSTLink> linkBlock_;
  Slot* slots_ = nullptr;
  RSSTLink* links_ = nullptr;
  uint32_t size_ = 0;
  uint32_t capacity_ = 0;
};
