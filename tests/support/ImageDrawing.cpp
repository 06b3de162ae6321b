// Test images drawn in code.
#include "support/ImageDrawing.h"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace {

E_Rgb colorOf(char c) {
  switch (c) {
    case 'R': return E_Rgb(255, 0, 0);
    case 'G': return E_Rgb(0, 255, 0);
    case 'B': return E_Rgb(0, 0, 255);
    case 'K': return E_Rgb(0, 0, 0);
    case 'W': return E_Rgb(255, 255, 255);
    case 'Y': return E_Rgb(255, 255, 0);
    case 'C': return E_Rgb(0, 255, 255);
    case 'M': return E_Rgb(255, 0, 255);
    case 'O': return E_Rgb(255, 128, 0);
    case 'g': return E_Rgb(128, 128, 128);
    default: throw std::invalid_argument(std::string("no test colour for ") + c);
  }
}

// A small deterministic generator, so noisy scenes are the same everywhere.
uint32_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

void drawImage(S_CImageStorage& image, const std::vector<std::string>& rows) {
  drawNoisyScene(image, rows, 1, 0, 1);
}

void fillUniform(S_CImageStorage& image, int width, int height, unsigned char r, unsigned char g,
                 unsigned char b) {
  image.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  for (short y = 0; y < height; ++y)
    for (short x = 0; x < width; ++x) image.writePixelRgb(x, y, r, g, b);
}

void drawNoisyScene(S_CImageStorage& image, const std::vector<std::string>& rows, int cell,
                    int amplitude, uint32_t seed) {
  const int height = static_cast<int>(rows.size()) * cell;
  const int width = static_cast<int>(rows.at(0).size()) * cell;
  image.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  uint32_t state = seed;
  auto jitter = [&](unsigned char value) {
    if (amplitude == 0) return value;
    const int noise = static_cast<int>(nextRandom(state) % (2 * amplitude + 1)) - amplitude;
    return static_cast<unsigned char>(std::clamp(value + noise, 0, 255));
  };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const E_Rgb base = colorOf(rows[y / cell].at(x / cell));
      image.writePixelRgb(static_cast<short>(x), static_cast<short>(y), jitter(base.r), jitter(base.g),
                          jitter(base.b));
    }
  }
}

std::vector<int> labelsOf(S_RegionStorage& result) {
  std::vector<int> labels;
  for (short y = 0; y < result.getHeight(); ++y) {
    for (short x = 0; x < result.getWidth(); ++x) {
      const E_RegionInfo* region = result.getCPtr2PelRegion(x, y);
      labels.push_back(region == nullptr ? -1 : region->getObjectID());
    }
  }
  return labels;
}

// How many labels are split into more than one 4-connected piece.
int splitRegions(const std::vector<int>& labels, int width, int height) {
  std::vector<bool> seen(labels.size(), false);
  std::map<int, int> pieces;
  for (size_t start = 0; start < labels.size(); ++start) {
    if (seen[start]) continue;
    ++pieces[labels[start]];
    std::vector<size_t> stack{start};
    seen[start] = true;
    while (!stack.empty()) {
      const size_t p = stack.back();
      stack.pop_back();
      const int x = static_cast<int>(p) % width, y = static_cast<int>(p) / width;
      const int nx[4] = {x - 1, x + 1, x, x}, ny[4] = {y, y, y - 1, y + 1};
      for (int i = 0; i < 4; ++i) {
        if (nx[i] < 0 || nx[i] >= width || ny[i] < 0 || ny[i] >= height) continue;
        const size_t q = static_cast<size_t>(nx[i] + ny[i] * width);
        if (!seen[q] && labels[q] == labels[p]) {
          seen[q] = true;
          stack.push_back(q);
        }
      }
    }
  }
  int split = 0;
  for (const auto& entry : pieces) split += entry.second > 1;
  return split;
}
