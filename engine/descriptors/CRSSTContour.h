// Contour record of one region: its contour pixels with jaggedness codes and lengths.
#pragma once

#include <cstdint>

#include "veskar_export.h"

class VESKAR_EXPORT CRSSTContour {
 public:
  static constexpr uint32_t kCapacity = 5000;

  CRSSTContour() : nPixels(0), length(0.0f), lengthNoIB(0.0f) {}

  // Pixels beyond the capacity are dropped silently; the lengths then cover
  // only what was stored.
  void addContourPixel(unsigned int x, unsigned int y, float pixelLen, unsigned char jaggedness) {
    if (nPixels >= kCapacity) return;
    pixelX[nPixels] = x;
    pixelY[nPixels] = y;
    pixelJaggedness[nPixels] = jaggedness;
    pixelLength[nPixels] = pixelLen;
    length += pixelLen;
    ++nPixels;
    if (x != 0 && y != 0 && x != maxX && y != maxY) lengthNoIB += pixelLen;
  }

  // regionIndex is deliberately kept: the record still belongs to its region.
  void reset(unsigned int width, unsigned int height) {
    nPixels = 0;
    length = 0.0f;
    lengthNoIB = 0.0f;
    maxX = width - 1;
    maxY = height - 1;
  }

  uint32_t nPixels;
  float length;
  float lengthNoIB;
  int32_t regionIndex = -1;
  uint32_t pixelX[kCapacity + 1];
  uint32_t pixelY[kCapacity + 1];
  uint8_t pixelJaggedness[kCapacity + 1];
  float pixelLength[kCapacity + 1];
  uint32_t maxX = 0;
  uint32_t maxY = 0;
};
