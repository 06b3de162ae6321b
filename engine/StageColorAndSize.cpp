// The first stage: merging by mean colour and size down to a few hundred regions.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/EngineInternals.h"

namespace {

using Region = M_RSST::RSSTRegion;

// Squared colour distance and cost share one evaluation, so the fast loop's
// test of an exact zero distance sees the very value the cost was made from.
inline double colorAndSizeCost(const Region* p, const Region* q, double& distance) {
  const double dL = p->meanL - q->meanL;
  const double dU = p->meanU - q->meanU;
  const double dV = p->meanV - q->meanV;
  distance = dL * dL + dU * dU + dV * dV;
  // Counts are widened before the product: large regions would wrap 32 bits.
  return static_cast<double>(p->pixelCount) * q->pixelCount / (p->pixelCount + q->pixelCount) * distance;
}

inline bool sameMeans(const Region& p, const Region& q) {
  return p.meanL == q.meanL && p.meanU == q.meanU && p.meanV == q.meanV;
}

// A link priced at an exact zero distance costs +0 whatever the counts, for as
// long as neither end's means change: such links need no visit.
enum LinkState : uint32_t {
  kZero,     // cost +0 from a zero distance under the current means
  kActive,   // on the changeable list of each end (or that end is marked stale)
  kPending,  // a zero link that moved to a survivor of other means: price it
};
// A link's state sits in the two top bits of its regionB while the stage
// runs (region numbers stay below 2^30: an image has fewer than 2^15 rows
// and columns).
constexpr uint32_t kEndBits = (1u << 30) - 1;
static_assert(static_cast<uint64_t>(INT16_MAX) * INT16_MAX <= kEndBits, "a region number needs more than 30 bits");
inline int32_t endB(const RSSTLink& link) { return static_cast<int32_t>(static_cast<uint32_t>(link.regionB) & kEndBits); }
inline uint32_t stateOf(const RSSTLink& link) { return static_cast<uint32_t>(link.regionB) >> 30; }
inline void setState(RSSTLink& link, uint32_t state) {
  link.regionB = static_cast<int32_t>((static_cast<uint32_t>(link.regionB) & kEndBits) | state << 30);
}
// The end a list node stands for (node 2 * id: regionA, 2 * id + 1: regionB).
inline void setEndOf(RSSTLink& link, uint32_t node, int32_t region) {
  if ((node & 1) == 0) link.regionA = region;
  else link.regionB = static_cast<int32_t>((static_cast<uint32_t>(link.regionB) & ~kEndBits) | static_cast<uint32_t>(region));
}
constexpr uint32_t kEnd = UINT32_MAX;
// As a region's list head: the list may miss links (no node id comes near).
constexpr uint32_t kStale = UINT32_MAX - 1;
// A takeover pays for a few short walks: worth it only for a big absorbed
// region, and only while its neighbours' lists stay short.
constexpr uint32_t kTakeOverCount = 32;
constexpr int kTakeOverWalk = 64;

}  // namespace

void M_RSST::merge_AvgColorAndSize(bool recompute, unsigned target) {
  if (recompute) {
    linkCost = &M_RSST::linkCost_ColorAndSize;
    jointProperties = &M_RSST::jointProperties_ColorMean;
    rsst_recalculateCosts();
  }
  const uint32_t limit = wantedRegions > target ? wantedRegions : target;
  const bool ownPair = linkCost == &M_RSST::linkCost_ColorAndSize &&
                       jointProperties == &M_RSST::jointProperties_ColorMean;
  if (regionCount <= limit) return;
  // The skipping loop knows this stage's cost and update; any other pair
  // installed by a caller takes the plain merge step.
  if (ownPair) (this->*paths_.firstStageMerges)(limit);
  else mergeColorAndSizeStepByStep(limit);
}

void M_RSST::mergeColorAndSizeStepByStep(uint32_t limit) {
  while (regionCount > limit) rsst_merge2Regions();
}

// The merge step of the first stage, visiting only links whose cost can change.
//
// Every region keeps, beside its link list, the ordered sub-list of the links
// that are not at an exact zero distance (threaded through the same nodes by
// index, in list order, so re-pricing order is list order). A survivor whose
// means did not change re-prices just that sub-list; every skipped link would
// have been priced at its stored +0 and left in place by the heap, since a
// cost equal to the stored one never moves. A link that leaves the zero state
// through one end may be missing from the other end's sub-list: that end is
// marked stale and walks its whole list the next time it survives. The
// sub-list is only built by a survivor whose means stayed put (on photos
// nearly every merge moves the means, and such a merge prices every link).
//
// The redundancy search becomes a neighbour test: a node of a removed link
// always has a dead region at its far end, so "N is on A's list" is "a live
// A-N link exists", found in whichever of the two lists is shorter. Removed
// links are skipped by every walk here, wherever they still sit on a list.
//
// Taking over: when a small region takes in a big one of the same means (the
// flat areas of an image), the big list would be moved node by node just to
// end up reversed in front of the small one. While this stage runs the lists
// are linked both ways (a node's next field holds the XOR of its two
// neighbours), so the big list is reversed by swapping its ends and joined to
// the small one in constant time; the merged region then lives in the
// absorbed region's record, and the records go back to their own indexes
// when the stage ends.
void M_RSST::mergeColorAndSizeSkippingZeroLinks(uint32_t limit) {
  if (regionCount <= limit) return;
  const long long regionTotal = static_cast<long long>(width) * height;
  LinkHeap& links = heap();
  const long long linkTotal = links.capacity();
  // Touched only where links settle at zero: on photos most of it is never
  // paged in.
  ScratchTable<uint32_t> nextChangeable(rsst_emalloc(2 * (linkTotal + 1) * static_cast<long long>(sizeof(uint32_t))));
  // The region a record holds, plus one, where it took over another's record
  // (0: its own). Touched only by takeovers.
  FrameBlock<uint32_t> heldRegions;
  uint32_t* const holds = heldRegions.takeZeroed(regionTotal);
  // Two big regions (long lists) look each other up again and again. Two
  // live regions found to be neighbours stay neighbours until one of them is
  // absorbed, and a record never comes back to life: remembering the pair
  // is enough. A small table by the asking region.
  struct KnownNeighbours {
    uint32_t region, neighbour;
  };
  constexpr uint32_t kKnown = 1u << 14;
  std::vector<KnownNeighbours> known(kKnown, KnownNeighbours{0, 0});
  auto regionIn = [&](uint32_t record) { return holds[record] != 0 ? holds[record] - 1 : record; };
  auto farEnd = [&](uint32_t node) {
    const RSSTLink& link = links.link(linkOfNode(node));
    return (node & 1) != 0 ? link.regionA : endB(link);
  };
  auto live = [&](uint32_t node) { return links.link(linkOfNode(node)).heapIndex != 0; };
  // One step along a list linked both ways, coming from prev.
  auto advance = [&](uint32_t& prev, uint32_t& node) {
    const uint32_t following = links.next(node) ^ prev;
    prev = node;
    node = following;
  };
  auto pushFront = [&](Region& r, uint32_t node) {
    links.next(node) = r.linkList;
    if (r.linkList != 0) links.next(r.linkList) ^= node;
    else r.linkTail = node;
    r.linkList = node;
  };
  auto unlink = [&](Region& r, uint32_t prev, uint32_t node, uint32_t following) {
    if (prev != 0) links.next(prev) ^= node ^ following;
    else r.linkList = following;
    if (following != 0) links.next(following) ^= node ^ prev;
    else r.linkTail = prev;
  };

  // Nothing is known yet: every link gets priced once and every region walks
  // its whole list the first time it survives with unchanged means.
  for (uint32_t id = 1; id <= links.capacity(); ++id) setState(links.link(id), kPending);
  for (long long p = 0; p < regionTotal; ++p) {
    Region& r = regions[p];
    uint32_t prev = 0;
    for (uint32_t node = r.linkList; node != 0;) {
      uint32_t& field = links.next(node);
      const uint32_t following = field;
      field = prev ^ following;
      prev = node;
      node = following;
    }
    r.linkTail = prev;
    r.changeableList = kStale;
  }

  uint32_t lastKeeper = 0;
  while (regionCount > limit) {
    const uint32_t topLink = links.linkInSlot(1);
    const int a = links.link(topLink).regionA;
    const int b = endB(links.link(topLink));
    Region& survivor = regions[a];
    Region& absorbed = regions[b];
    const uint32_t absorbedCount = absorbed.pixelCount;
    const double before[3] = {survivor.meanL, survivor.meanU, survivor.meanV};
    rsst_updateRegion(&absorbed, &survivor);
    const bool meansChanged =
        !(before[0] == survivor.meanL && before[1] == survivor.meanU && before[2] == survivor.meanV);
    // Whose changeable list this merge keeps: none when the means changed
    // (every link is priced anyway; the list is rebuilt once they settle).
    const bool walkWhole = meansChanged || survivor.changeableList == kStale;
    const bool absorbedKeepsZeros = sameMeans(absorbed, survivor);

    // Neighbour test. The far ends of a short survivor list are gathered
    // once (nothing is written to the regions); a long one (the big region of
    // a flat area) is never walked whole: each N is looked for by walking the
    // survivor's and N's lists side by side, since both hold every live link
    // of their region.
    const uint32_t survivorHead = survivor.linkList;
    constexpr int kGathered = 32;
    int32_t ends[kGathered];
    int endCount = 0;
    bool gathered = true;
    {
      int walked = 0;
      for (uint32_t prev = 0, node = survivorHead; node != 0;) {
        if (walked++ == kGathered) {
          gathered = false;
          break;
        }
        if (live(node)) {
          ends[endCount] = farEnd(node);
          if (meansChanged) __builtin_prefetch(&regions[ends[endCount]]);  // re-priced below
          ++endCount;
        }
        advance(prev, node);
      }
    }
    // The node before the survivor's own (from survivorHead on) on the merged list.
    uint32_t ownPrev = 0;
    auto isNeighbour = [&](int n) {
      if (n == a) return true;
      if (gathered) {
        for (int i = 0; i < endCount; ++i)
          if (ends[i] == n) return true;
        return false;
      }
      // Nodes moved so far sit in front of the survivor's own. Removed links
      // passed on the way are unlinked (but for the survivor's first node,
      // where its own walk starts): lists that are only ever searched would
      // otherwise fill up with them.
      KnownNeighbours& pair = known[static_cast<uint32_t>(a) % kKnown];
      const KnownNeighbours asked{static_cast<uint32_t>(a), static_cast<uint32_t>(n)};
      if (pair.region == asked.region && pair.neighbour == asked.neighbour) return true;
      Region& other = regions[n];
      uint32_t p = survivorHead, pPrev = ownPrev;
      uint32_t q = other.linkList, qPrev = 0;
      while (p != 0 && q != 0) {
        const uint32_t pNext = links.next(p) ^ pPrev;
        const uint32_t qNext = links.next(q) ^ qPrev;
        if (live(p)) {
          if (farEnd(p) == n) return pair = asked, true;
          pPrev = p;
        } else if (p != survivorHead) {
          unlink(survivor, pPrev, p, pNext);
        } else {
          pPrev = p;
        }
        p = pNext;
        if (live(q)) {
          if (farEnd(q) == a) return pair = asked, true;
          qPrev = q;
        } else {
          unlink(other, qPrev, q, qNext);
        }
        q = qNext;
      }
      return false;
    };

    // A takeover needs the absorbed region's changeable links listed (they
    // are the only ones its zero links leave to price) and the links the move
    // would remove: the merged one and those to the survivor's other
    // neighbours, found on the neighbours' (short) lists.
    bool takeOver = gathered && !meansChanged && absorbedKeepsZeros && absorbed.changeableList != kStale &&
                    absorbedCount >= kTakeOverCount;
    uint32_t removed[kGathered + 1];
    int removedCount = 0;
    if (takeOver) removed[removedCount++] = topLink;
    for (int i = 0; takeOver && i < endCount; ++i) {
      if (ends[i] == b) continue;
      Region& neighbour = regions[ends[i]];
      int walked = 0;
      for (uint32_t prev = 0, node = neighbour.linkList; node != 0;) {
        if (walked++ == kTakeOverWalk) {
          takeOver = false;
          break;
        }
        const uint32_t following = links.next(node) ^ prev;
        if (!live(node)) {
          unlink(neighbour, prev, node, following);
          node = following;
          continue;
        }
        if (farEnd(node) == b) {
          removed[removedCount++] = linkOfNode(node);
          break;
        }
        prev = node;
        node = following;
      }
    }
    // The move removes them in the absorbed list's order: walk it from both
    // ends until all are met. They are mostly near one end or the other, and
    // the walks meet within the list's length, which a move would walk anyway.
    if (takeOver && removedCount > 1) {
      uint32_t fromBack[kGathered + 1];
      int frontCount = 0;
      int backCount = 0;
      auto meet = [&](uint32_t node, bool front) {
        const uint32_t id = linkOfNode(node);
        for (int i = frontCount; i < removedCount - backCount; ++i) {
          if (removed[i] != id) continue;
          if (front) std::swap(removed[i], removed[frontCount++]);
          else fromBack[backCount++] = id, std::swap(removed[i], removed[removedCount - backCount]);
          return;
        }
      };
      uint32_t head = absorbed.linkList, headPrev = 0;
      uint32_t tail = absorbed.linkTail, tailPrev = 0;
      while (frontCount + backCount < removedCount) {
        if (head == 0) {  // cannot happen: every removed link sits on this list
          takeOver = false;
          break;
        }
        meet(head, true);
        if (frontCount + backCount == removedCount) break;
        meet(tail, false);
        advance(headPrev, head);
        advance(tailPrev, tail);
      }
      // Those met from the back come last, the first met last of all.
      for (int i = 0; i < backCount; ++i) removed[removedCount - 1 - i] = fromBack[i];
    }

    Region& keeper = takeOver ? absorbed : survivor;
    uint32_t changeableHead = walkWhole ? kEnd : survivor.changeableList;
    if (takeOver) {
      for (int i = 0; i < removedCount; ++i) links.remove(removed[i]);
      for (uint32_t prev = 0, node = survivorHead; node != 0;) {
        RSSTLink& link = links.link(linkOfNode(node));
        if (link.heapIndex != 0) setEndOf(link, node, b);
        advance(prev, node);
      }
      // The absorbed list, reversed, then the survivor's.
      std::swap(absorbed.linkList, absorbed.linkTail);
      ownPrev = absorbed.linkTail;
      if (survivorHead != 0) {
        links.next(absorbed.linkTail) ^= survivorHead;
        links.next(survivorHead) ^= absorbed.linkTail;
        absorbed.linkTail = survivor.linkTail;
      }
      // Its changeable links lead the merged list's, in list order: reversed.
      for (uint32_t node = absorbed.changeableList; node != kEnd;) {
        const uint32_t following = nextChangeable[node];
        const RSSTLink& link = links.link(linkOfNode(node));
        if (link.heapIndex != 0 && stateOf(link) != kZero) {
          nextChangeable[node] = changeableHead;
          changeableHead = node;
        }
        node = following;
      }
      absorbed.meanL = survivor.meanL;
      absorbed.meanU = survivor.meanU;
      absorbed.meanV = survivor.meanV;
      absorbed.pixelCount = survivor.pixelCount;
      absorbed.firstPixel = survivor.firstPixel;
      absorbed.lastPixel = survivor.lastPixel;
      holds[b] = regionIn(a) + 1;
    } else {
      // The moved nodes lead the survivor's list afterwards, the first one
      // moved last; in a whole walk those still at zero are left out (see
      // below).
      uint32_t next = 0;
      for (uint32_t prev = 0, node = absorbed.linkList; node != 0; prev = node, node = next) {
        next = links.next(node) ^ prev;
        const uint32_t id = linkOfNode(node);
        RSSTLink& link = links.link(id);
        if (link.heapIndex == 0) continue;
        const int far = farEnd(node);
        if (isNeighbour(far)) {
          links.remove(id);
          continue;
        }
        // The node stands for the absorbed end; it keeps its side. With the
        // means changed its far end is read again when the link is re-priced:
        // ask for it now, while the walks are still waiting on link records.
        if (meansChanged) __builtin_prefetch(&regions[far]);
        setEndOf(link, node, a);
        pushFront(survivor, node);
        if (ownPrev == 0) ownPrev = node;
        if (stateOf(link) == kZero && !absorbedKeepsZeros) setState(link, kPending);
        if (stateOf(link) != kZero && !meansChanged) {
          nextChangeable[node] = changeableHead;
          changeableHead = node;
        }
      }
    }
    lastKeeper = static_cast<uint32_t>(takeOver ? b : a);

    auto reprice = [&](uint32_t node) {
      RSSTLink& link = links.link(linkOfNode(node));
      double distance = 0;
      const double cost = colorAndSizeCost(&regions[link.regionA], &regions[endB(link)], distance);
      if (cost != links.costInSlot(link.heapIndex)) links.reprice(link.heapIndex, cost);  // an equal cost would not move
      const bool zero = distance == 0;
      if (!zero && stateOf(link) != kActive) regions[farEnd(node)].changeableList = kStale;
      setState(link, zero ? kZero : kActive);
      return !zero;
    };

    if (walkWhole) {
      uint32_t* tail = &keeper.changeableList;
      const bool build = !meansChanged;
      // A zero link brought by the absorbed region to equal means keeps +0
      // (see the move above): the moved nodes are priced from their chain,
      // in list order, and the walk starts at the survivor's own nodes. When
      // a small region takes in a big flat one, the big one's list is not
      // walked a second time. When the means changed (most merges of a
      // photo) the moved nodes are not chained: the walk starts at the list's
      // head and prices every link (a zero link kept at +0 costs the same
      // again and does not move), so photos never touch the chain table.
      for (uint32_t node = changeableHead; node != kEnd;) {
        const uint32_t following = nextChangeable[node];
        if (reprice(node) && build) {
          *tail = node;
          tail = &nextChangeable[node];
        }
        node = following;
      }
      for (uint32_t prev = meansChanged ? 0 : ownPrev, node = meansChanged ? keeper.linkList : survivorHead; node != 0;) {
        const uint32_t following = links.next(node) ^ prev;
        const uint32_t id = linkOfNode(node);
        if (links.link(id).heapIndex == 0) {
          unlink(keeper, prev, node, following);
          node = following;
          continue;
        }
        if (reprice(node) && build) {
          *tail = node;
          tail = &nextChangeable[node];
        }
        prev = node;
        node = following;
      }
      *tail = kEnd;
      if (!build) keeper.changeableList = kStale;
    } else {
      keeper.changeableList = changeableHead;
      uint32_t* prev = &keeper.changeableList;
      while (*prev != kEnd) {
        const uint32_t node = *prev;
        const uint32_t id = linkOfNode(node);
        if (links.link(id).heapIndex != 0 && stateOf(links.link(id)) != kZero && reprice(node)) prev = &nextChangeable[node];
        else *prev = nextChangeable[node];
      }
    }
    --regionCount;
  }

  // The states leave regionB before anything else reads it.
  for (uint32_t id = 1; id <= links.capacity(); ++id) links.link(id).regionB = endB(links.link(id));
  // Back to lists linked one way, without removed links, and every region in
  // its own record. The live regions are the ends of the live links (or the
  // last keeper, when one region is left).
  std::vector<uint32_t> liveRecords;
  for (uint32_t k = 1; k <= links.size(); ++k) {
    const RSSTLink& link = links.atSlot(k);
    liveRecords.push_back(static_cast<uint32_t>(link.regionA));
    liveRecords.push_back(static_cast<uint32_t>(link.regionB));
  }
  if (links.size() == 0) liveRecords.push_back(lastKeeper);
  std::sort(liveRecords.begin(), liveRecords.end());
  liveRecords.erase(std::unique(liveRecords.begin(), liveRecords.end()), liveRecords.end());
  for (uint32_t record : liveRecords) {
    Region& r = regions[record];
    uint32_t kept = 0;
    uint32_t first = 0;
    for (uint32_t prev = 0, node = r.linkList; node != 0;) {
      if (live(node)) {
        if (kept != 0) links.next(kept) = node;  // behind the walk: already read
        else first = node;
        kept = node;
      }
      advance(prev, node);
    }
    if (kept != 0) links.next(kept) = 0;
    r.linkList = first;
    r.linkTail = 0;
  }
  for (uint32_t k = 1; k <= links.size(); ++k) {
    RSSTLink& link = links.link(links.linkInSlot(k));
    link.regionA = static_cast<int32_t>(regionIn(static_cast<uint32_t>(link.regionA)));
    link.regionB = static_cast<int32_t>(regionIn(static_cast<uint32_t>(link.regionB)));
  }
  std::vector<std::pair<uint32_t, Region>> moves;
  for (uint32_t record : liveRecords)
    if (holds[record] != 0) moves.emplace_back(holds[record] - 1, regions[record]);
  for (const auto& move : moves) regions[move.first] = move.second;
}

double M_RSST::linkCost_ColorAndSize(RSSTRegion* p, RSSTRegion* q) {
  double distance = 0;
  return colorAndSizeCost(p, q, distance);
}

void M_RSST::jointProperties_ColorMean(RSSTRegion* from, RSSTRegion* into) {
  const uint32_t nFrom = from->pixelCount;
  const uint32_t nInto = into->pixelCount;
  const double total = nInto + nFrom;
  into->meanL = (nFrom * from->meanL + nInto * into->meanL) / total;
  into->meanU = (nFrom * from->meanU + nInto * into->meanU) / total;
  into->meanV = (nFrom * from->meanV + nInto * into->meanV) / total;
}
