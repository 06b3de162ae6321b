// Read access to the engine's label map for the per-pixel predicates and measures.
#pragma once

#include <cstdint>

#include "storage/T_Array.h"

struct LabelView {
  int32_t** map;
  int width;
  int height;

  static LabelView of(T_Array<int32_t>& labels, int width, int height) {
    return LabelView{labels.getPtr2Array(), width, height};
  }

  bool onOuterRing(int x, int y) const { return x == 0 || y == 0 || x >= width - 1 || y >= height - 1; }

  // Only for pixels off the outermost ring.
  bool differsFromA4Neighbour(int x, int y) const {
    const int32_t c = map[x][y];
    return map[x][y - 1] != c || map[x][y + 1] != c || map[x - 1][y] != c || map[x + 1][y] != c;
  }

  bool isContour(int x, int y) const { return onOuterRing(x, y) || differsFromA4Neighbour(x, y); }

  // A 4-neighbour inside the image carries the label.
  bool touches(int32_t label, int x, int y) const {
    return (y != 0 && map[x][y - 1] == label) || (y < height - 1 && map[x][y + 1] == label) ||
           (x != 0 && map[x - 1][y] == label) || (x < width - 1 && map[x + 1][y] == label);
  }
};
