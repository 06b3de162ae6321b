// Working area in smoothed L*u*v*: conversion of the input and the two blur passes.
#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "color/T_ColorConverter.h"
#include "engine/EngineInternals.h"
#include "engine/WorkSplit.h"

namespace {

// Neighbouring pixels of a photo often share a colour, and the cube root of the
// conversion is its dearest part: recent colours are remembered by their bytes.
class LuvOfRecentColors {
 public:
  LuvOfRecentColors() : slots_(kSlots) {}

  void convert(unsigned char r, unsigned char g, unsigned char b, double& L, double& u, double& v) {
    const uint32_t key = (uint32_t{r} << 16) | (uint32_t{g} << 8) | b;
    Slot& slot = slots_[(key * 2654435761u) >> (32 - kBits)];
    if (slot.key != key) {
      slot.key = key;
      toLuv_.convert(r, g, b, slot.L, slot.u, slot.v);
    }
    L = slot.L;
    u = slot.u;
    v = slot.v;
  }

 private:
  static constexpr int kBits = 14;
  static constexpr uint32_t kSlots = 1u << kBits;
  struct Slot {
    uint32_t key = UINT32_MAX;  // no colour has it
    double L = 0, u = 0, v = 0;
  };
  std::vector<Slot> slots_;
  RgbPrimeToLuv toLuv_;
};

}  // namespace

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
  E_Rgb** rgb = image->getPrimaryColor() == CM_RGB ? image->getRgbArray() : nullptr;
  // Each part remembers its own recent colours: a colour converts to the same
  // values whichever part meets it first.
  splitWork(threadCount, width, [&](unsigned, long long x0, long long x1) {
    LuvOfRecentColors toLuv;
    for (int x = static_cast<int>(x0); x < x1; ++x) {
      for (int y = 0; y < height; ++y) {
        unsigned char r = 0, g = 0, b = 0;
        if (rgb != nullptr) {
          const E_Rgb& pixel = rgb[offset + x][offset + y];
          r = pixel.r;
          g = pixel.g;
          b = pixel.b;
        } else {
          image->readPixelRgb(static_cast<short>(offset + x), static_cast<short>(offset + y), &r, &g, &b);
        }
        toLuv.convert(r, g, b, planeL[x][y], planeU[x][y], planeV[x][y]);
      }
    }
  });
}

namespace {

// One output column of the 3x3 kernel; left, middle and right are the input
// columns x - 1, x, x + 1 (clamped). The sum runs i outer, j inner, starting
// from 0, so every pixel adds its nine terms in one fixed order.
void blurColumn(const double* left, const double* middle, const double* right, double* out,
                const double kernel[3][3], int height) {
  const double* column[3] = {left, middle, right};
  auto pixel = [&](int y0, int y1, int y2) {
    const int rows[3] = {y0, y1, y2};
    double sum = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) sum += column[i][rows[j]] * kernel[i][j];
    return sum;
  };
  out[0] = pixel(0, 0, std::min(1, height - 1));
  // The same sum written out, so that the compiler can run pixels side by side.
  for (int y = 1; y < height - 1; ++y) {
    double sum = 0;
    sum += left[y - 1] * kernel[0][0];
    sum += left[y] * kernel[0][1];
    sum += left[y + 1] * kernel[0][2];
    sum += middle[y - 1] * kernel[1][0];
    sum += middle[y] * kernel[1][1];
    sum += middle[y + 1] * kernel[1][2];
    sum += right[y - 1] * kernel[2][0];
    sum += right[y] * kernel[2][1];
    sum += right[y + 1] * kernel[2][2];
    out[y] = sum;
  }
  if (height > 1) out[height - 1] = pixel(height - 2, height - 1, height - 1);
}

// The input columns just outside a band, x0 - 1 and x1 (clamped), copied
// before any band of the pass writes.
struct BandEdges {
  std::vector<double> left, right;
};

BandEdges bandEdges(double** plane, int x0, int x1, int width, int height) {
  const double* left = plane[x0 > 0 ? x0 - 1 : 0];
  const double* right = plane[x1 < width ? x1 : width - 1];
  return BandEdges{std::vector<double>(left, left + height), std::vector<double>(right, right + height)};
}

// One pass with clamped borders, in place, over columns x0 to x1 - 1: only the
// two columns it has overwritten last are kept as they were.
void blurBand(double** plane, const BandEdges& edges, std::vector<double>& previous, std::vector<double>& current,
              const double kernel[3][3], int x0, int x1, int height) {
  std::copy(plane[x0], plane[x0] + height, current.begin());
  std::copy(edges.left.begin(), edges.left.end(), previous.begin());
  for (int x = x0; x < x1; ++x) {
    const double* right = x + 1 < x1 ? plane[x + 1] : edges.right.data();
    blurColumn(previous.data(), current.data(), right, plane[x], kernel, height);
    std::swap(previous, current);
    if (x + 1 < x1) std::copy(plane[x + 1], plane[x + 1] + height, current.begin());
  }
}

}  // namespace

void M_RSST::gaussianBlur() {
  double** planes[3] = {frame().smoothL.getPtr2Array(), frame().smoothU.getPtr2Array(), frame().smoothV.getPtr2Array()};
  // Products of the 1-D weights, deliberately not renormalised: a flat area
  // loses about one percent of its value per pass.
  const double g[3] = {0.2236, 0.5477, 0.2236};
  double k[3][3];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) k[i][j] = g[i] * g[j];
  if (width <= 0 || height <= 0) return;
  const unsigned parts = partCount(threadCount, width);
  std::vector<BandEdges> edges(3 * parts);
  for (int pass = 0; pass < 2; ++pass) {
    for (unsigned part = 0; part < parts; ++part)
      for (int p = 0; p < 3; ++p)
        edges[3 * part + p] = bandEdges(planes[p], static_cast<int>(partStart(width, parts, part)),
                                        static_cast<int>(partStart(width, parts, part + 1)), width, height);
    splitWork(parts, width, [&](unsigned part, long long x0, long long x1) {
      std::vector<double> previous(height), current(height);
      for (int p = 0; p < 3; ++p)
        blurBand(planes[p], edges[3 * part + p], previous, current, k, static_cast<int>(x0), static_cast<int>(x1),
                 height);
    });
  }
}
