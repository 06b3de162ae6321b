// The first stage: merging by mean colour and size down to a few hundred regions.
#include <algorithm>
#include <cassert>
#include <cstdint>
#include <utility>
#include <vector>

#include "engine/ColorAndSizeRule.h"
#include "engine/EngineInternals.h"

namespace {

using Region = M_RSST::RSSTRegion;

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

// How the merger has the engine join one region into another (means, pixel
// count and pixel list), as every merge of the engine does.
struct JoinRegions {
  M_RSST* engine;
  void (M_RSST::*join)(Region* from, Region* into);
  void operator()(Region* from, Region* into) const { (engine->*join)(from, into); }
};

// The link lists as the first stage keeps them (see FirstStageMerger): linked
// both ways, a region's linkList and linkTail being its two ends, and removed
// links left on them until a walk unlinks them.
class TwoWayLists {
 public:
  explicit TwoWayLists(LinkHeap& links) : links_(links) {}

  bool live(uint32_t node) const { return links_.link(linkOfNode(node)).heapIndex != 0; }
  // The node after node, coming from prev.
  uint32_t following(uint32_t prev, uint32_t node) { return links_.next(node) ^ prev; }
  void advance(uint32_t& prev, uint32_t& node) {
    const uint32_t after = following(prev, node);
    prev = node;
    node = after;
  }
  // One step of a walk that unlinks the removed node it leaves: lists that
  // are only ever searched would otherwise fill up with them.
  void advanceUnlinkingRemoved(Region& r, uint32_t& prev, uint32_t& node) {
    const uint32_t after = following(prev, node);
    if (live(node)) prev = node;
    else unlink(r, prev, node, after);
    node = after;
  }
  void unlink(Region& r, uint32_t prev, uint32_t node, uint32_t after) {
    if (prev != 0) links_.next(prev) ^= node ^ after;
    else r.linkList = after;
    if (after != 0) links_.next(after) ^= node ^ prev;
    else r.linkTail = prev;
  }
  void pushFront(Region& r, uint32_t node) {
    links_.next(node) = r.linkList;
    if (r.linkList != 0) links_.next(r.linkList) ^= node;
    else r.linkTail = node;
    r.linkList = node;
  }
  // Reverses r's list by swapping its ends and joins head..tail behind it;
  // returns the node before head.
  uint32_t reverseAndJoin(Region& r, uint32_t head, uint32_t tail) {
    std::swap(r.linkList, r.linkTail);
    const uint32_t before = r.linkTail;
    if (head != 0) {
      links_.next(before) ^= head;
      links_.next(head) ^= before;
      r.linkTail = tail;
    }
    return before;
  }
  void linkBothWays(Region& r);
  // Back to a list linked one way, without removed links.
  void restoreOneWay(Region& r);

 private:
  LinkHeap& links_;
};

void TwoWayLists::linkBothWays(Region& r) {
  uint32_t prev = 0;
  for (uint32_t node = r.linkList; node != 0;) {
    uint32_t& field = links_.next(node);
    const uint32_t after = field;
    field = prev ^ after;
    prev = node;
    node = after;
  }
  r.linkTail = prev;
}

void TwoWayLists::restoreOneWay(Region& r) {
  uint32_t kept = 0;
  uint32_t first = 0;
  for (uint32_t prev = 0, node = r.linkList; node != 0; advance(prev, node)) {
    if (!live(node)) continue;
    if (kept != 0) links_.next(kept) = node;  // behind the walk: already read
    else first = node;
    kept = node;
  }
  if (kept != 0) links_.next(kept) = 0;
  r.linkList = first;
  r.linkTail = 0;
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
//
// The merger works on the links of one heap and the region records they
// name (records 0..recordCount-1); it hands the graph back in the engine's
// own form: lists linked one way and every region in its own record.
class FirstStageMerger {
 public:
  FirstStageMerger(LinkHeap& links, Region* regions, long long recordCount, JoinRegions join);
  // Merges the cheapest link while more than limit of the regionCount live
  // regions are left; returns the count left.
  uint32_t mergeDownTo(uint32_t regionCount, uint32_t limit);

 private:
  static constexpr int kGathered = 32;
  static constexpr uint32_t kKnown = 1u << 14;

  // What one merge knows while it runs.
  struct Merge {
    uint32_t topLink;
    int a, b;  // the survivor's and the absorbed region's records
    Region* survivor;
    Region* absorbed;
    uint32_t absorbedCount;
    bool meansChanged;
    bool walkWhole;           // the keeper walks its whole list (its changeable one is not kept)
    bool absorbedKeepsZeros;  // the absorbed region's zero links stay at zero
    // The survivor's own nodes start at survivorHead on the merged list;
    // ownPrev is the node before them.
    uint32_t survivorHead;
    uint32_t ownPrev;
    uint32_t changeableHead;  // the keeper's changeable links, as gathered so far
    bool gathered;            // the survivor's list was short: ends holds all its far ends
    int endCount;
    int32_t ends[kGathered];
    int removedCount;  // the links a takeover removes
    uint32_t removed[kGathered + 1];
  };
  struct KnownNeighbours {
    uint32_t region, neighbour;
  };

  void prepare();
  void mergeTopLink();
  Merge joinTopLink();
  void gatherSurvivorEnds(Merge& m);
  bool findNeighbourPruningLists(Merge& m, int n);
  bool gatheredEndsHold(const Merge& m, int n) const;
  bool searchBothLists(Merge& m, int n);
  bool planTakeOver(Merge& m);
  bool takeOverPays(const Merge& m) const;
  bool listLinkToAbsorbed(Merge& m, Region& neighbour);
  void orderAsAbsorbedList(Merge& m);
  int unmetRemoved(const Merge& m, int front, int back, uint32_t id) const;
  Region& takeOverAbsorbedRecord(Merge& m);
  Region& moveAbsorbedLinks(Merge& m);
  void moveNode(Merge& m, uint32_t node, RSSTLink& link, int far);
  void chainChangeable(Merge& m, uint32_t node);
  bool reprice(uint32_t node);
  void repriceWholeList(const Merge& m, Region& keeper);
  void repriceChangeable(const Merge& m, Region& keeper);
  void handBack();
  std::vector<uint32_t> liveRecords() const;
  void moveRecordsHome(const std::vector<uint32_t>& records);

  int farEnd(uint32_t node) const {
    const RSSTLink& link = links_.link(linkOfNode(node));
    return (node & 1) != 0 ? link.regionA : endB(link);
  }
  uint32_t regionIn(uint32_t record) const { return holds_[record] != 0 ? holds_[record] - 1 : record; }

  LinkHeap& links_;
  TwoWayLists lists_;
  Region* const regions_;
  const long long recordCount_;
  const JoinRegions join_;
  // Touched only where links settle at zero: on photos most of it is never
  // paged in.
  ScratchTable<uint32_t> nextChangeable_;
  // The region a record holds, plus one, where it took over another's record
  // (0: its own). Touched only by takeovers.
  FrameBlock<uint32_t> heldRegions_;
  uint32_t* const holds_;
  // Two big regions (long lists) look each other up again and again. Two
  // live regions found to be neighbours stay neighbours until one of them is
  // absorbed, and a record never comes back to life: remembering the pair
  // is enough. A small table by the asking region.
  std::vector<KnownNeighbours> known_;
  uint32_t lastKeeper_ = 0;
};

FirstStageMerger::FirstStageMerger(LinkHeap& links, Region* regions, long long recordCount, JoinRegions join)
    : links_(links),
      lists_(links),
      regions_(regions),
      recordCount_(recordCount),
      join_(join),
      nextChangeable_(takeEngineBlock(2 * (links.capacity() + 1LL) * static_cast<long long>(sizeof(uint32_t)), false)),
      holds_(heldRegions_.takeZeroed(recordCount)),
      known_(kKnown, KnownNeighbours{0, 0}) {}

uint32_t FirstStageMerger::mergeDownTo(uint32_t regionCount, uint32_t limit) {
  prepare();
  for (; regionCount > limit; --regionCount) mergeTopLink();
  handBack();
  return regionCount;
}

// Nothing is known yet: every link gets priced once and every region walks
// its whole list the first time it survives with unchanged means.
void FirstStageMerger::prepare() {
  for (uint32_t id = 1; id <= links_.capacity(); ++id) setState(links_.link(id), kPending);
  for (long long p = 0; p < recordCount_; ++p) {
    lists_.linkBothWays(regions_[p]);
    regions_[p].changeableList = kStale;
  }
}

void FirstStageMerger::mergeTopLink() {
  Merge m = joinTopLink();
  gatherSurvivorEnds(m);
  const bool takeOver = planTakeOver(m);
  Region& keeper = takeOver ? takeOverAbsorbedRecord(m) : moveAbsorbedLinks(m);
  lastKeeper_ = static_cast<uint32_t>(takeOver ? m.b : m.a);
  if (m.walkWhole) repriceWholeList(m, keeper);
  else repriceChangeable(m, keeper);
}

FirstStageMerger::Merge FirstStageMerger::joinTopLink() {
  Merge m;
  m.topLink = links_.linkInSlot(1);
  m.a = links_.link(m.topLink).regionA;
  m.b = endB(links_.link(m.topLink));
  m.survivor = &regions_[m.a];
  m.absorbed = &regions_[m.b];
  m.absorbedCount = m.absorbed->pixelCount;
  const Region before = *m.survivor;
  join_(m.absorbed, m.survivor);
  m.meansChanged = !sameMeans(before, *m.survivor);
  // Whose changeable list this merge keeps: none when the means changed
  // (every link is priced anyway; the list is rebuilt once they settle).
  m.walkWhole = m.meansChanged || m.survivor->changeableList == kStale;
  m.changeableHead = m.walkWhole ? kEnd : m.survivor->changeableList;
  m.absorbedKeepsZeros = sameMeans(*m.absorbed, *m.survivor);
  m.survivorHead = m.survivor->linkList;
  m.ownPrev = 0;
  return m;
}

// For the neighbour test: the far ends of a short survivor list are gathered
// once (nothing is written to the regions); a long one (the big region of a
// flat area) is never walked whole.
void FirstStageMerger::gatherSurvivorEnds(Merge& m) {
  m.endCount = 0;
  m.gathered = true;
  int walked = 0;
  for (uint32_t prev = 0, node = m.survivorHead; node != 0; lists_.advance(prev, node)) {
    if (walked++ == kGathered) {
      m.gathered = false;
      return;
    }
    if (!lists_.live(node)) continue;
    m.ends[m.endCount] = farEnd(node);
    if (m.meansChanged) __builtin_prefetch(&regions_[m.ends[m.endCount]]);  // re-priced below
    ++m.endCount;
  }
}

// Whether a live link joins the survivor and n (n being the survivor counts).
// A long survivor list is searched, which unlinks removed nodes from it and
// from n's list, and a neighbour found is remembered.
bool FirstStageMerger::findNeighbourPruningLists(Merge& m, int n) {
  if (n == m.a) return true;
  if (m.gathered) return gatheredEndsHold(m, n);
  KnownNeighbours& pair = known_[static_cast<uint32_t>(m.a) % kKnown];
  const KnownNeighbours asked{static_cast<uint32_t>(m.a), static_cast<uint32_t>(n)};
  if (pair.region == asked.region && pair.neighbour == asked.neighbour) return true;
  if (!searchBothLists(m, n)) return false;
  pair = asked;
  return true;
}

bool FirstStageMerger::gatheredEndsHold(const Merge& m, int n) const {
  for (int i = 0; i < m.endCount; ++i)
    if (m.ends[i] == n) return true;
  return false;
}

// Walks the survivor's and n's lists side by side, since both hold every
// live link of their region. Nodes moved so far sit in front of the
// survivor's own, so its walk starts at its own first node, which stays
// linked: the walk starts there again for the next n.
bool FirstStageMerger::searchBothLists(Merge& m, int n) {
  Region& other = regions_[n];
  uint32_t p = m.survivorHead, pPrev = m.ownPrev;
  uint32_t q = other.linkList, qPrev = 0;
  while (p != 0 && q != 0) {
    if (lists_.live(p) && farEnd(p) == n) return true;
    if (p == m.survivorHead) lists_.advance(pPrev, p);
    else lists_.advanceUnlinkingRemoved(*m.survivor, pPrev, p);
    if (lists_.live(q) && farEnd(q) == m.a) return true;
    lists_.advanceUnlinkingRemoved(other, qPrev, q);
  }
  return false;
}

// A takeover needs the absorbed region's changeable links listed (they are
// the only ones its zero links leave to price) and the links the move would
// remove: the merged one and those to the survivor's other neighbours, found
// on the neighbours' (short) lists.
bool FirstStageMerger::planTakeOver(Merge& m) {
  if (!takeOverPays(m)) return false;
  m.removedCount = 0;
  m.removed[m.removedCount++] = m.topLink;
  for (int i = 0; i < m.endCount; ++i)
    if (m.ends[i] != m.b && !listLinkToAbsorbed(m, regions_[m.ends[i]])) return false;
  if (m.removedCount > 1) orderAsAbsorbedList(m);
  return true;
}

bool FirstStageMerger::takeOverPays(const Merge& m) const {
  return m.gathered && !m.meansChanged && m.absorbedKeepsZeros && m.absorbed->changeableList != kStale &&
         m.absorbedCount >= kTakeOverCount;
}

// Adds the neighbour's link to the absorbed region, if any, to the removed
// ones; false when the neighbour's list is too long to walk.
bool FirstStageMerger::listLinkToAbsorbed(Merge& m, Region& neighbour) {
  int walked = 0;
  for (uint32_t prev = 0, node = neighbour.linkList; node != 0;
       lists_.advanceUnlinkingRemoved(neighbour, prev, node)) {
    if (walked++ == kTakeOverWalk) return false;
    if (lists_.live(node) && farEnd(node) == m.b) {
      m.removed[m.removedCount++] = linkOfNode(node);
      return true;
    }
  }
  return true;
}

// The move removes them in the absorbed list's order: walk it from both
// ends until all are met. They are mostly near one end or the other, and
// the walks meet within the list's length, which a move would walk anyway.
// Those met from the back come last, the first met last of all.
void FirstStageMerger::orderAsAbsorbedList(Merge& m) {
  uint32_t fromBack[kGathered + 1];
  int front = 0;
  int back = 0;
  uint32_t head = m.absorbed->linkList, headPrev = 0;
  uint32_t tail = m.absorbed->linkTail, tailPrev = 0;
  while (front + back < m.removedCount) {
    assert(head != 0 && "every removed link sits on the absorbed list");
    const int atHead = unmetRemoved(m, front, back, linkOfNode(head));
    if (atHead >= 0) std::swap(m.removed[atHead], m.removed[front++]);
    if (front + back == m.removedCount) break;
    const int atTail = unmetRemoved(m, front, back, linkOfNode(tail));
    if (atTail >= 0) {
      fromBack[back++] = m.removed[atTail];
      std::swap(m.removed[atTail], m.removed[m.removedCount - back]);
    }
    lists_.advance(headPrev, head);
    lists_.advance(tailPrev, tail);
  }
  for (int i = 0; i < back; ++i) m.removed[m.removedCount - 1 - i] = fromBack[i];
}

// Where id sits among the removed links not met yet, or -1.
int FirstStageMerger::unmetRemoved(const Merge& m, int front, int back, uint32_t id) const {
  for (int i = front; i < m.removedCount - back; ++i)
    if (m.removed[i] == id) return i;
  return -1;
}

// The merged region moves into the absorbed region's record: the absorbed
// list, reversed, then the survivor's, as a move would have left it.
Region& FirstStageMerger::takeOverAbsorbedRecord(Merge& m) {
  for (int i = 0; i < m.removedCount; ++i) links_.remove(m.removed[i]);
  for (uint32_t prev = 0, node = m.survivorHead; node != 0; lists_.advance(prev, node)) {
    RSSTLink& link = links_.link(linkOfNode(node));
    if (link.heapIndex != 0) setEndOf(link, node, m.b);
  }
  Region& keeper = *m.absorbed;
  const Region& survivor = *m.survivor;
  m.ownPrev = lists_.reverseAndJoin(keeper, m.survivorHead, survivor.linkTail);
  // Its changeable links lead the merged list's, in list order: reversed.
  for (uint32_t node = keeper.changeableList; node != kEnd;) {
    const uint32_t after = nextChangeable_[node];
    const RSSTLink& link = links_.link(linkOfNode(node));
    if (link.heapIndex != 0 && stateOf(link) != kZero) chainChangeable(m, node);
    node = after;
  }
  keeper.meanL = survivor.meanL;
  keeper.meanU = survivor.meanU;
  keeper.meanV = survivor.meanV;
  keeper.pixelCount = survivor.pixelCount;
  keeper.firstPixel = survivor.firstPixel;
  keeper.lastPixel = survivor.lastPixel;
  holds_[m.b] = regionIn(static_cast<uint32_t>(m.a)) + 1;
  return keeper;
}

// The moved nodes lead the survivor's list afterwards, the first one moved
// last; a link to a neighbour the survivor has already is removed.
Region& FirstStageMerger::moveAbsorbedLinks(Merge& m) {
  uint32_t after = 0;
  for (uint32_t prev = 0, node = m.absorbed->linkList; node != 0; prev = node, node = after) {
    after = lists_.following(prev, node);  // before the move rewrites the node's field
    const uint32_t id = linkOfNode(node);
    RSSTLink& link = links_.link(id);
    if (link.heapIndex == 0) continue;
    const int far = farEnd(node);
    if (findNeighbourPruningLists(m, far)) links_.remove(id);
    else moveNode(m, node, link, far);
  }
  return *m.survivor;
}

// The node stands for the absorbed end; it keeps its side. With the means
// changed its far end is read again when the link is re-priced: ask for it
// now, while the walks are still waiting on link records. In a whole walk
// the moved links still at zero are left out of the chain (see there).
void FirstStageMerger::moveNode(Merge& m, uint32_t node, RSSTLink& link, int far) {
  if (m.meansChanged) __builtin_prefetch(&regions_[far]);
  setEndOf(link, node, m.a);
  lists_.pushFront(*m.survivor, node);
  if (m.ownPrev == 0) m.ownPrev = node;
  if (stateOf(link) == kZero && !m.absorbedKeepsZeros) setState(link, kPending);
  if (stateOf(link) != kZero && !m.meansChanged) chainChangeable(m, node);
}

void FirstStageMerger::chainChangeable(Merge& m, uint32_t node) {
  nextChangeable_[node] = m.changeableHead;
  m.changeableHead = node;
}

// Prices a link anew; true when it is changeable (off a zero distance). A
// link leaving the zero state may be missing from its far end's changeable
// list: that end goes stale.
inline bool FirstStageMerger::reprice(uint32_t node) {
  RSSTLink& link = links_.link(linkOfNode(node));
  double distance = 0;
  const double cost = colorAndSizeCost(&regions_[link.regionA], &regions_[endB(link)], distance);
  if (cost != links_.costInSlot(link.heapIndex)) links_.reprice(link.heapIndex, cost);  // an equal cost would not move
  const bool zero = distance == 0;
  if (!zero && stateOf(link) != kActive) regions_[farEnd(node)].changeableList = kStale;
  setState(link, zero ? kZero : kActive);
  return !zero;
}

// A zero link brought by the absorbed region to equal means keeps +0 (see
// the move): the moved nodes are priced from their chain, in list order, and
// the walk starts at the survivor's own nodes. When a small region takes in a
// big flat one, the big one's list is not walked a second time. When the
// means changed (most merges of a photo) the moved nodes are not chained: the
// walk starts at the list's head and prices every link (a zero link kept at
// +0 costs the same again and does not move), so photos never touch the chain
// table.
void FirstStageMerger::repriceWholeList(const Merge& m, Region& keeper) {
  uint32_t* tail = &keeper.changeableList;
  const bool build = !m.meansChanged;
  auto price = [&](uint32_t node) {
    if (reprice(node) && build) {
      *tail = node;
      tail = &nextChangeable_[node];
    }
  };
  for (uint32_t node = m.changeableHead; node != kEnd;) {
    const uint32_t after = nextChangeable_[node];
    price(node);
    node = after;
  }
  uint32_t prev = m.meansChanged ? 0 : m.ownPrev;
  for (uint32_t node = m.meansChanged ? keeper.linkList : m.survivorHead; node != 0;
       lists_.advanceUnlinkingRemoved(keeper, prev, node))
    if (lists_.live(node)) price(node);
  *tail = kEnd;
  if (!build) keeper.changeableList = kStale;
}

// Walks only the keeper's changeable links, dropping those that settled at
// zero or were removed.
void FirstStageMerger::repriceChangeable(const Merge& m, Region& keeper) {
  keeper.changeableList = m.changeableHead;
  uint32_t* prev = &keeper.changeableList;
  while (*prev != kEnd) {
    const uint32_t node = *prev;
    const RSSTLink& link = links_.link(linkOfNode(node));
    if (link.heapIndex != 0 && stateOf(link) != kZero && reprice(node)) prev = &nextChangeable_[node];
    else *prev = nextChangeable_[node];
  }
}

// Back to lists linked one way, without removed links, and every region in
// its own record.
void FirstStageMerger::handBack() {
  // The states leave regionB before anything else reads it.
  for (uint32_t id = 1; id <= links_.capacity(); ++id) links_.link(id).regionB = endB(links_.link(id));
  const std::vector<uint32_t> records = liveRecords();
  for (uint32_t record : records) lists_.restoreOneWay(regions_[record]);
  for (uint32_t k = 1; k <= links_.size(); ++k) {
    RSSTLink& link = links_.atSlot(k);
    link.regionA = static_cast<int32_t>(regionIn(static_cast<uint32_t>(link.regionA)));
    link.regionB = static_cast<int32_t>(regionIn(static_cast<uint32_t>(link.regionB)));
  }
  moveRecordsHome(records);
}

// The live regions' records: the ends of the live links (or the last
// keeper, when one region is left).
std::vector<uint32_t> FirstStageMerger::liveRecords() const {
  std::vector<uint32_t> records;
  for (uint32_t k = 1; k <= links_.size(); ++k) {
    const RSSTLink& link = links_.link(links_.linkInSlot(k));
    records.push_back(static_cast<uint32_t>(link.regionA));
    records.push_back(static_cast<uint32_t>(link.regionB));
  }
  if (links_.size() == 0) records.push_back(lastKeeper_);
  std::sort(records.begin(), records.end());
  records.erase(std::unique(records.begin(), records.end()), records.end());
  return records;
}

void FirstStageMerger::moveRecordsHome(const std::vector<uint32_t>& records) {
  std::vector<std::pair<uint32_t, Region>> moves;
  for (uint32_t record : records)
    if (holds_[record] != 0) moves.emplace_back(holds_[record] - 1, regions_[record]);
  for (const auto& move : moves) regions_[move.first] = move.second;
}

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
  if (ownPair && !literal_) mergeColorAndSizeSkippingZeroLinks(limit);
  else mergeColorAndSizeStepByStep(limit);
}

void M_RSST::mergeColorAndSizeStepByStep(uint32_t limit) {
  while (regionCount > limit) rsst_merge2Regions();
}

void M_RSST::mergeColorAndSizeSkippingZeroLinks(uint32_t limit) {
  if (regionCount <= limit) return;
  FirstStageMerger merger(heap(), regions, static_cast<long long>(width) * height,
                          JoinRegions{this, &M_RSST::rsst_updateRegion});
  regionCount = merger.mergeDownTo(regionCount, limit);
}

double M_RSST::linkCost_ColorAndSize(RSSTRegion* p, RSSTRegion* q) {
  double distance = 0;
  return colorAndSizeCost(p, q, distance);
}

void M_RSST::jointProperties_ColorMean(RSSTRegion* from, RSSTRegion* into) { meanOfUnion(from, into); }
