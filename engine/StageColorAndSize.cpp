// The first stage: merging by mean colour and size down to a few hundred regions.
#include <cstdint>

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
enum LinkState : uint8_t {
  kZero,     // cost +0 from a zero distance under the current means
  kActive,   // on the changeable list of each end (or that end is marked stale)
  kPending,  // a zero link that moved to a survivor of other means: price it
};
constexpr uint32_t kEnd = UINT32_MAX;
// As a region's list head: the list may miss links (no node id comes near).
constexpr uint32_t kStale = UINT32_MAX - 1;

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
// A-N link exists", found in whichever of the two lists is shorter.
void M_RSST::mergeColorAndSizeSkippingZeroLinks(uint32_t limit) {
  const long long regionTotal = static_cast<long long>(width) * height;
  LinkHeap& links = heap();
  const long long linkTotal = links.capacity();
  // Touched only where links settle at zero: on photos most of it is never
  // paged in.
  ScratchTable<uint32_t> nextChangeable(rsst_emalloc(2 * (linkTotal + 1) * static_cast<long long>(sizeof(uint32_t))));
  // The far end of a node is the link's other side.
  auto farEnd = [&](uint32_t node) {
    const RSSTLink& link = links.link(linkOfNode(node));
    return (node & 1) != 0 ? link.regionA : link.regionB;
  };

  // Nothing is known yet: every link gets priced once and every region walks
  // its whole list the first time it survives with unchanged means.
  for (uint32_t id = 1; id <= links.capacity(); ++id) links.link(id).zeroState = kPending;
  for (long long p = 0; p < regionTotal; ++p) regions[p].changeableList = kStale;

  while (regionCount > limit) {
    const RSSTLink& top = links.atSlot(1);
    const int a = top.regionA;
    const int b = top.regionB;
    Region& survivor = regions[a];
    Region& absorbed = regions[b];
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
    for (uint32_t node = survivorHead; node != 0; node = links.next(node)) {
      if (endCount == kGathered) {
        gathered = false;
        break;
      }
      ends[endCount++] = farEnd(node);
    }
    auto isNeighbour = [&](int n) {
      if (n == a) return true;
      if (gathered) {
        for (int i = 0; i < endCount; ++i)
          if (ends[i] == n) return true;
        return false;
      }
      uint32_t p = survivorHead;
      uint32_t q = regions[n].linkList;
      for (; p != 0 && q != 0; p = links.next(p), q = links.next(q)) {
        if (links.link(linkOfNode(p)).heapIndex != 0 && farEnd(p) == n) return true;
        if (links.link(linkOfNode(q)).heapIndex != 0 && farEnd(q) == a) return true;
      }
      return false;
    };

    // The moved nodes lead the survivor's list afterwards, the first one moved
    // last; in a whole walk those still at zero are left out (see below).
    uint32_t changeableHead = walkWhole ? kEnd : survivor.changeableList;
    uint32_t firstMoved = 0;
    uint32_t next = 0;
    for (uint32_t node = absorbed.linkList; node != 0; node = next) {
      next = links.next(node);
      const uint32_t id = linkOfNode(node);
      RSSTLink& link = links.link(id);
      if (link.heapIndex == 0) continue;
      if (isNeighbour(farEnd(node))) {
        links.remove(id);
        continue;
      }
      // The node stands for the absorbed end; it keeps its side.
      ((node & 1) != 0 ? link.regionB : link.regionA) = a;
      rsst_insertElementRLL(node, &survivor.linkList);
      if (firstMoved == 0) firstMoved = node;
      uint8_t& s = link.zeroState;
      if (s == kZero && !absorbedKeepsZeros) s = kPending;
      if (s != kZero) {
        nextChangeable[node] = changeableHead;
        changeableHead = node;
      }
    }

    auto reprice = [&](uint32_t node, uint8_t& s) {
      const RSSTLink& link = links.link(linkOfNode(node));
      double distance = 0;
      const double cost = colorAndSizeCost(&regions[link.regionA], &regions[link.regionB], distance);
      if (cost != links.costInSlot(link.heapIndex)) links.reprice(link.heapIndex, cost);  // an equal cost would not move
      const bool zero = distance == 0;
      if (!zero && s != kActive) regions[farEnd(node)].changeableList = kStale;
      s = zero ? kZero : kActive;
      return !zero;
    };

    if (walkWhole) {
      uint32_t* tail = &survivor.changeableList;
      const bool build = !meansChanged;
      // A zero link brought by the absorbed region to equal means keeps +0
      // (see the move above): the moved nodes are priced from their chain,
      // in list order, and the walk starts at the survivor's own nodes. When
      // a small region takes in a big flat one, the big one's list is not
      // walked a second time.
      for (uint32_t node = changeableHead; node != kEnd;) {
        const uint32_t following = nextChangeable[node];
        if (reprice(node, links.link(linkOfNode(node)).zeroState) && build) {
          *tail = node;
          tail = &nextChangeable[node];
        }
        node = following;
      }
      uint32_t* slot = firstMoved != 0 ? &links.next(firstMoved) : &survivor.linkList;
      while (*slot != 0) {
        const uint32_t node = *slot;
        const uint32_t id = linkOfNode(node);
        if (links.link(id).heapIndex == 0) {
          *slot = links.next(node);
          continue;
        }
        if (reprice(node, links.link(id).zeroState) && build) {
          *tail = node;
          tail = &nextChangeable[node];
        }
        slot = &links.next(node);
      }
      *tail = kEnd;
      if (!build) survivor.changeableList = kStale;
    } else {
      survivor.changeableList = changeableHead;
      uint32_t* prev = &survivor.changeableList;
      while (*prev != kEnd) {
        const uint32_t node = *prev;
        const uint32_t id = linkOfNode(node);
        uint8_t& s = links.link(id).zeroState;
        if (links.link(id).heapIndex != 0 && s != kZero && reprice(node, s)) prev = &nextChangeable[node];
        else *prev = nextChangeable[node];
      }
    }
    --regionCount;
  }
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
