// Working area in smoothed L*u*v*: conversion of the input and the two blur passes.
#include <algorithm>

#include "color/T_ColorConverter.h"
#include "engine/EngineInternals.h"

void M_RSST::convertInput2LUV(S_CImageStorage* image, unsigned margin) {
  height = static_cast<int16_t>(image->getHeight() - 2 * margin);
  width = static_cast<int16_t>(image->getWidth() - 2 * margin);
  // The graph works on 2x2-aligned areas: an odd last column or row is left out.
  if (height % 2 != 0) --height;
  if (width % 2 != 0) --width;
  double** planeL = frame().smoothL.allocateArray(width, height);
  double** planeU = frame().smoothU.allocateArray(width, height);
  double** planeV = frame().smoothV.allocateArray(width, height);
  const short offset = static_cast<short>(margin);
  for (int x = 0; x < width; ++x) {
    for (int y = 0; y < height; ++y) {
      unsigned char r = 0, g = 0, b = 0;
      image->readPixelRgb(static_cast<short>(offset + x), static_cast<short>(offset + y), &r, &g, &b);
      T_ColorConverter::rgbPrime2luv(r, g, b, planeL[x][y], planeU[x][y], planeV[x][y]);
    }
  }
}

namespace {

// One pass of the 3x3 kernel with clamped borders; the sum runs i outer, j
// inner, starting from 0, so every pixel adds its nine terms in one fixed order.
void blurPass(double** plane, double** temp, const double kernel[3][3], int width, int height) {
  for (int x = 0; x < width; ++x) std::copy(plane[x], plane[x] + height, temp[x]);
  for (int x = 0; x < width; ++x) {
    const double* column[3];
    for (int i = 0; i < 3; ++i) column[i] = temp[std::clamp(x + i - 1, 0, width - 1)];
    for (int y = 0; y < height; ++y) {
      const int rows[3] = {std::max(y - 1, 0), y, std::min(y + 1, height - 1)};
      double sum = 0;
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) sum += column[i][rows[j]] * kernel[i][j];
      plane[x][y] = sum;
    }
  }
}

}  // namespace

void M_RSST::gaussianBlur() {
  double** planes[3] = {frame().smoothL.getPtr2Array(), frame().smoothU.getPtr2Array(), frame().smoothV.getPtr2Array()};
  T_Array<double> temps[3];
  // Products of the 1-D weights, deliberately not renormalised: a flat area
  // loses about one percent of its value per pass.
  const double g[3] = {0.2236, 0.5477, 0.2236};
  double k[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) k[i][j] = g[i] * g[j];
  for (auto& temp : temps) temp.allocateArray(width, height);
  for (int pass = 0; pass < 2; ++pass)
    for (int p = 0; p < 3; ++p) blurPass(planes[p], temps[p].getPtr2Array(), k, width, height);
}
