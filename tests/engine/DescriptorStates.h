// Engine states for the contour, geometry and stage tests: drawn pictures taken
// through the first stage, and hand-built region pairs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EngineProbe.h"
#include "support/ImageDrawing.h"

// A drawn picture, unblurred so that every shape stays flat, merged by the
// first stage down to its shapes and given colour models and contours.
class DrawnProbe : public EngineProbe {
 public:
  void prepare(const std::vector<std::string>& rows, unsigned shapes) {
    drawImage(image, rows);
    convertInput2LUV(&image, 0);
    setSizeDependentParameters();
    rsst_initRSST();
    merge_AvgColorAndSize(false, shapes);
    allocateLUVModels(static_cast<int>(regionCount));
    extractLUVModels();
    allocateContours(static_cast<int>(regionCount));
    extractContours();
  }

  int labelAt(int x, int y) { return frame().labelMap.getPtr2Array()[x][y]; }
  RSSTRegion* regionAt(int x, int y) { return &regions[labelAt(x, y)]; }
  CRSSTContour& contourAt(int x, int y) { return contours[descriptorsOf(regionAt(x, y)).contourIndex]; }

  S_CImageStorage image;
};

using Pixel = std::pair<unsigned, unsigned>;

inline std::vector<Pixel> pixelsOf(const CRSSTContour& k) {
  std::vector<Pixel> pixels;
  for (uint32_t i = 0; i < k.nPixels; ++i) pixels.emplace_back(k.pixelX[i], k.pixelY[i]);
  return pixels;
}

// Two regions, A (label 0) and B (label 1), on a map whose other pixels carry
// label 2. Contour pixels are placed by hand with any length and code, so a
// measure can be driven to an exact ratio.
class PairProbe : public EngineProbe {
 public:
  static constexpr int kElsewhere = 2;

  explicit PairProbe(int w = 12, int h = 12) {
    width = static_cast<int16_t>(w);
    height = static_cast<int16_t>(h);
    setSizeDependentParameters();
    int32_t** map = frame().labelMap.allocateArray(width, height);
    for (int x = 0; x < w; ++x)
      for (int y = 0; y < h; ++y) map[x][y] = kElsewhere;
    allocateContours(2);
    allocateLUVModels(2);
    for (int i = 0; i < 2; ++i) {
      contours[i].reset(w, h);
      contours[i].regionIndex = i;
      pair[i] = RSSTRegion{};
      pair[i].pixelCount = 1;
      pairDescriptors[i] = RSSTRegionDescriptors{i, i, 0, 0};
    }
    // The pair stands for the engine's regions: descriptors are found by index.
    regions = pair;
    regionDescriptors = pairDescriptors;
  }

  RSSTRegion* a() { return &pair[0]; }
  RSSTRegion* b() { return &pair[1]; }

  void paint(int region, int x, int y) { frame().labelMap.getPtr2Array()[x][y] = region; }
  // Paints the pixel with the region's label and stores it in its contour.
  void place(int region, int x, int y, float length, unsigned char code = 0) {
    paint(region, x, y);
    contours[region].addContourPixel(x, y, length, code);
  }
  void setColor(int region, double L, double u, double v, int n) { colorModels[region].addShade(L, u, v, n); }

  RSSTRegion pair[2];
  RSSTRegionDescriptors pairDescriptors[2];
};
