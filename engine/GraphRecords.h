// The region graph's records as the engine lays them out: regions, their
// descriptors, links, and the encodings of the link and pixel lists.
#pragma once

#include <cstdint>

#include "engine/M_RSST.h"

// What the first stage reads and writes of a region, 48 bytes; what only
// the contour stages use is in RSSTRegionDescriptors.
struct M_RSST::RSSTRegion {
  double meanL, meanU, meanV;
  uint32_t pixelCount;
  uint32_t linkList;        // the first node of the region's links, newest first (0: none)
  uint32_t firstPixel;      // the region's pixels, a list through pixelNext
  uint32_t lastPixel;
  uint32_t changeableList;  // the first stage's list of the links that can change
  uint32_t linkTail;        // the first stage's last node of linkList
};

// Beside each region record, in regionDescriptors: untouched (and so never
// paged in) until the contour stages set them for the live regions.
struct M_RSST::RSSTRegionDescriptors {
  int32_t colorModelIndex;
  int32_t contourIndex;
  int32_t linkCount;
  uint32_t searchMark;  // neighbour mark of a merge's redundancy search
};

// A link of the region graph. Its two list nodes are implied: node 2 * id
// sits on regionA's list and node 2 * id + 1 on regionB's, and next holds
// the node after each (0 ends a list). Its cost lives in its heap slot.
struct RSSTLink {
  uint32_t heapIndex;  // 0 marks a removed link
  int32_t regionA;     // survives a merge of this link
  int32_t regionB;     // is absorbed by it (the first stage keeps a state in its top two bits)
  uint32_t next[2];
};

inline uint32_t linkOfNode(uint32_t node) { return node >> 1; }
inline uint32_t nodeOf(uint32_t link, int side) { return 2 * link + static_cast<uint32_t>(side); }

constexpr uint32_t kNoPixel = UINT32_MAX;  // ends a pixel list

inline M_RSST::RSSTRegionDescriptors& M_RSST::descriptorsOf(const RSSTRegion* r) {
  return regionDescriptors[r - regions];
}

template <class Visit>
void M_RSST::forEachPixelOf(const RSSTRegion& r, const Visit& visit) const {
  for (uint32_t p = r.firstPixel; p != kNoPixel; p = pixelNext[p]) visit(p);
}
