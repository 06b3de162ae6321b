// Final labelling: live regions become numbered, coloured regions of the result.
#include <vector>

#include "color/T_ColorConverter.h"
#include "engine/EngineInternals.h"
#include "engine/WorkSplit.h"

namespace {

void addBand(S_RegionStorage& result, E_RegionInfo* band, int x0, int x1, int y0, int y1) {
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) result.addPel2Region(band, static_cast<short>(x), static_cast<short>(y));
}

// The margin band is one region, label 0, painted red.
void writeMarginRegion(S_RegionStorage& result, int margin) {
  const int w = result.getWidth();
  const int h = result.getHeight();
  E_RegionInfo* band = result.newRegion(0, 0);
  band->setObjectID(0);
  band->writeRegRgb(255, 0, 0);
  addBand(result, band, 1, w, 0, 1);
  addBand(result, band, 0, w, 1, margin);
  addBand(result, band, 0, margin, margin, h);
  addBand(result, band, w - margin, w, margin, h);
  addBand(result, band, margin, w - margin, h - margin, h);
}

// Odd sizes leave one column or row outside the working area: each of its
// pels joins the region of its neighbour on the working side.
void coverOddEdges(S_RegionStorage& result, int margin, int width, int height) {
  const bool oddWidth = result.getWidth() - 2 * margin > width;
  const bool oddHeight = result.getHeight() - 2 * margin > height;
  const int lastX = margin + width;
  const int lastY = margin + height;
  if (oddWidth)
    for (int y = margin; y < lastY; ++y)
      result.addPel2Region(result.getPtr2PelRegion(lastX - 1, y), lastX, y);
  if (oddHeight) {
    for (int x = margin; x < lastX; ++x)
      result.addPel2Region(result.getPtr2PelRegion(x, lastY - 1), x, lastY);
    if (oddWidth) result.addPel2Region(result.getPtr2PelRegion(lastX - 1, lastY), lastX, lastY);
  }
}

}  // namespace

void M_RSST::writeOutput(S_RegionStorage& result, unsigned margin) {
  result.clearStorage();
  const int edge = static_cast<int>(margin);
  short label = 0;
  if (margin > 0) {
    writeMarginRegion(result, edge);
    label = 1;
  }
  std::vector<int> order;
  std::vector<E_RegionInfo*> made;
  std::vector<uint64_t> sizes;
  forEachLiveRegion([&](int index, uint32_t pixelCount) {
    const uint32_t pixel = regions[index].firstPixel;
    E_RegionInfo* region = result.newRegion(static_cast<short>(edge + pixel % width),
                                            static_cast<short>(edge + pixel / width));
    double L = 0, u = 0, v = 0;
    modelOf(&regions[index]).getAverageColor(modelOf(&regions[index]).getDominantShadeList(), L, u, v);
    unsigned char r = 0, g = 0, b = 0;
    T_ColorConverter::luv2rgbPrime(L, u, v, r, g, b);
    region->writeRegRgb(r, g, b);
    region->setObjectID(label++);
    order.push_back(index);
    made.push_back(region);
    sizes.push_back(pixelCount);
  });
  // Adding a pel touches its own region and pels only, so parts of about
  // equal area fill their regions at once.
  splitWorkByWeight(threadCount, sizes, [&](unsigned, long long begin, long long end) {
    for (long long i = begin; i < end; ++i) {
      const uint32_t first = regions[order[i]].firstPixel;
      for (uint32_t pixel = pixelNext[first]; pixel != kNoPixel; pixel = pixelNext[pixel])
        result.addPel2Region(made[i], static_cast<short>(edge + pixel % width),
                             static_cast<short>(edge + pixel / width));
    }
  });
  coverOddEdges(result, edge, width, height);
}

void M_RSST::extractLinkNumbers() {
  if (heap().size() == 0) return;
  forEachLiveRegion([&](int index, uint32_t) { regionDescriptors[index].linkCount = static_cast<int32_t>(countLinks(regions[index].linkList)); });
}
