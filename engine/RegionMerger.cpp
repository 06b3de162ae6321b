// The compact merger of the fast mode's first stage.
#include "engine/RegionMerger.h"

#include <algorithm>
#include <utility>

#include "engine/ColorAndSizeRule.h"

namespace {

using Region = ColorSizeMerger::Region;

bool sameMeans(const Region& p, const Region& q) {
  return p.meanL == q.meanL && p.meanU == q.meanU && p.meanV == q.meanV;
}

// The region at the other end of a list node's link (node 2 * id stands for
// regionA, 2 * id + 1 for regionB).
uint32_t farEnd(const CostLink& link, uint32_t node) { return (node & 1) == 0 ? link.b : link.a; }

}  // namespace

void ColorSizeMerger::begin(uint32_t regions, uint32_t links) {
  regions_.clear();
  regions_.reserve(regions);
  heap_.reset(links);
  added_ = 0;
  live_ = 0;
  clock_ = 0;
}

uint32_t ColorSizeMerger::addRegion(const Region& r) {
  regions_.push_back(Region{r.meanL, r.meanU, r.meanV, r.pixelCount, 0, 0, 0, 0, 0, 0, r.firstPixel, r.lastPixel, r.index});
  ++live_;
  return static_cast<uint32_t>(regions_.size() - 1);
}

void ColorSizeMerger::addLink(uint32_t a, uint32_t b) {
  double distance = 0;
  const double cost = colorAndSizeCost(&regions_[a], &regions_[b], distance);
  const uint32_t id = ++added_;
  heap_.link(id).a = a;
  heap_.link(id).b = b;
  heap_.push(id, cost);
  for (const uint32_t end : {a, b}) {
    Region& r = regions_[end];
    const uint32_t node = 2 * id + (end == b ? 1u : 0u);
    heap_.next(node) = r.list;
    r.list = node;
    ++r.listLength;
    ++r.degree;
  }
}

void ColorSizeMerger::mergeDownTo(uint32_t limit, uint32_t* pixelNext) {
  while (live_ > limit && heap_.size() > 0) {
    const uint32_t top = heap_.top();
    if (isStale(top)) price(top);
    else merge(top, pixelNext);
  }
}

// A link one of whose ends changed without re-pricing its links is priced
// again before it may merge.
bool ColorSizeMerger::isStale(uint32_t link) const {
  const CostLink& l = heap_.link(link);
  const uint32_t since = std::max(regions_[l.a].lazySince, regions_[l.b].lazySince);
  return since != 0 && l.pricedAt < since;
}

void ColorSizeMerger::price(uint32_t link) {
  CostLink& l = heap_.link(link);
  const Region& a = regions_[l.a];
  const Region& b = regions_[l.b];
  double distance = 0;
  const double cost = colorAndSizeCost(&a, &b, distance);
  if (cost != heap_.costOf(link)) heap_.reprice(link, cost);  // an equal cost would not move
  if (a.lazySince != 0 || b.lazySince != 0) l.pricedAt = clock_;
}

// Calls visit(node, farEnd) for r's live links in list order and unlinks the
// nodes of removed links on the way; stops early when visit returns true.
template <class Visit>
bool ColorSizeMerger::walkLinks(uint32_t r, const Visit& visit) {
  Region& region = regions_[r];
  uint32_t* at = &region.list;
  while (*at != 0) {
    const uint32_t node = *at;
    const CostLink& link = heap_.link(node >> 1);
    if (link.slot == 0) {
      *at = heap_.next(node);
      --region.listLength;
      continue;
    }
    if (visit(node, farEnd(link, node))) return true;
    at = &heap_.next(node);
  }
  return false;
}

// Whether r and n share a live link, looked for on the shorter list.
bool ColorSizeMerger::adjacent(uint32_t r, uint32_t n) {
  const bool fromN = regions_[n].listLength <= regions_[r].listLength;
  const uint32_t wanted = fromN ? r : n;
  return walkLinks(fromN ? n : r, [&](uint32_t, uint32_t far) { return far == wanted; });
}

void ColorSizeMerger::merge(uint32_t link, uint32_t* pixelNext) {
  uint32_t s = heap_.link(link).a;
  uint32_t x = heap_.link(link).b;
  if (regions_[x].listLength > regions_[s].listLength) std::swap(s, x);
  Region& survivor = regions_[s];
  Region& absorbed = regions_[x];
  ++clock_;
  if (!sameMeans(survivor, absorbed)) meanOfUnion(&absorbed, &survivor);
  survivor.pixelCount += absorbed.pixelCount;
  pixelNext[survivor.lastPixel] = absorbed.firstPixel;
  survivor.lastPixel = absorbed.lastPixel;
  heap_.remove(link);
  --survivor.degree;
  --absorbed.degree;
  // Few links left, or the means moved far enough since the links were last
  // priced together: price them all now. Otherwise a big region's means move
  // little with each small one it takes in, and its links wait for the top.
  survivor.drift += absorbed.pixelCount;
  const bool eager = survivor.degree + absorbed.degree <= kEagerDegree ||
                     uint64_t{survivor.drift} * kDriftShare >= survivor.pixelCount;
  if (eager) survivor.drift = 0;
  survivor.lazySince = eager ? 0 : clock_;

  // Neighbour test: a short survivor list marks its far ends once (and is
  // re-priced on the way); a long one is never walked whole, each candidate is
  // looked for on the shorter list.
  const bool marked = eager || survivor.listLength <= 2 * kEagerDegree;
  if (marked) {
    walkLinks(s, [&](uint32_t node, uint32_t far) {
      regions_[far].mark = clock_;
      if (eager) price(node >> 1);
      return false;
    });
  }
  for (uint32_t node = absorbed.list, next = 0; node != 0; node = next) {
    next = heap_.next(node);
    const uint32_t id = node >> 1;
    CostLink& l = heap_.link(id);
    if (l.slot == 0) continue;
    const uint32_t far = farEnd(l, node);
    if (marked ? regions_[far].mark == clock_ : adjacent(s, far)) {
      heap_.remove(id);
      --regions_[far].degree;
      continue;
    }
    // The node keeps its side: it stands for the absorbed end.
    if ((node & 1) == 0) l.a = s;
    else l.b = s;
    heap_.next(node) = survivor.list;
    survivor.list = node;
    ++survivor.listLength;
    ++survivor.degree;
    if (eager) price(id);
  }
  absorbed.list = 0;
  absorbed.listLength = absorbed.degree = 0;
  absorbed.pixelCount = 0;
  --live_;
  if (survivor.listLength > 2 * survivor.degree + 16) walkLinks(s, [](uint32_t, uint32_t) { return false; });
}
