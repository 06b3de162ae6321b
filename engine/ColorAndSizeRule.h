// The first stage's rule, one expression each for every merger that follows it:
// the cost of a pair and the means of their union.
#pragma once

#include <cstdint>

// Squared colour distance and cost share one evaluation, so a test of an exact
// zero distance sees the very value the cost was made from. Any record with
// meanL, meanU, meanV and pixelCount will do.
template <class Region>
inline double colorAndSizeCost(const Region* p, const Region* q, double& distance) {
  const double dL = p->meanL - q->meanL;
  const double dU = p->meanU - q->meanU;
  const double dV = p->meanV - q->meanV;
  distance = dL * dL + dU * dU + dV * dV;
  // Counts are widened before the product: large regions would wrap 32 bits.
  return static_cast<double>(p->pixelCount) * q->pixelCount / (p->pixelCount + q->pixelCount) * distance;
}

// The means of into become those of the union, counts taken before the merge.
template <class Region>
inline void meanOfUnion(const Region* from, Region* into) {
  const uint32_t nFrom = from->pixelCount;
  const uint32_t nInto = into->pixelCount;
  const double total = nInto + nFrom;
  into->meanL = (nFrom * from->meanL + nInto * into->meanL) / total;
  into->meanU = (nFrom * from->meanU + nInto * into->meanU) / total;
  into->meanV = (nFrom * from->meanV + nInto * into->meanV) / total;
}
