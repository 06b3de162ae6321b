// Contour records and the label map: extraction, pixel predicates, jaggedness
// codes and the contour update of a merge.
#include <algorithm>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/EngineInternals.h"
#include "engine/LabelView.h"
#include "engine/WorkSplit.h"
#include "storage/Report.h"

namespace {

// The square window of side 2r + 1 that a contour pixel's jaggedness code counts over.
struct JaggednessWindow {
  int r;
  int width;
  int height;

  bool inside(int x, int y) const { return !(x - r < 0 || y - r < 0 || x + r + 1 > width || y + r + 1 > height); }

  unsigned count(int32_t** map, int label, int x, int y) const {
    unsigned same = 0;
    for (int i = x - r; i <= x + r; ++i) {
      const int32_t* column = map[i];
      for (int j = y - r; j <= y + r; ++j) same += column[j] == label;
    }
    return same;
  }

  // 0 for a straight border, growing with the deviation from the half window.
  unsigned char code(unsigned sameLabelCount) const {
    const int half = (r + 1) * (2 * r + 1);
    const int deviation = std::abs(static_cast<int>(sameLabelCount) - half);
    return static_cast<unsigned char>(deviation * 255.0 / half);
  }
};

// For the current column x and every row j, how many pixels of each contour's
// label lie in row j between columns x - r and x + r. The next column changes
// two entries a row, and a window's count is the sum of its 2r + 1 rows.
struct LabelBand {
  std::vector<uint16_t>& counts;  // [contour * height + row]
  int32_t** map;
  const M_RSST::RSSTRegionDescriptors* descriptors;
  int r;
  int height;

  std::size_t entry(int i, int j) const {
    return static_cast<std::size_t>(descriptors[map[i][j]].contourIndex) * height + j;
  }
  void fill(int x) {
    std::fill(counts.begin(), counts.end(), 0);
    for (int i = x - r; i <= x + r; ++i)
      for (int j = 0; j < height; ++j) ++counts[entry(i, j)];
  }
  void step(int x) {
    for (int j = 0; j < height; ++j) {
      --counts[entry(x - 1 - r, j)];
      ++counts[entry(x + r, j)];
    }
  }
  unsigned window(int x, int y) const {
    const uint16_t* rows = &counts[entry(x, y)];
    unsigned same = 0;
    for (int j = -r; j <= r; ++j) same += rows[j];
    return same;
  }
};

// A box read whole costs about as much as chasing this share of its pixels.
constexpr long long kScannedBoxShare = 16;

// Beyond this many entries the band would outweigh the image: columns are counted window by window.
constexpr long long kMaxBandEntries = 1LL << 22;

// Codes the contour pixels of a label map's columns, column after column:
// the literal way counts each pixel over its own window; the fast one takes
// the counts from a label band moved on from the column before.
struct ColumnCoder {
  JaggednessWindow window;
  int32_t** map;
  const M_RSST::RSSTRegionDescriptors* descriptors;
  int contourCount;
  std::vector<uint16_t>& counts;
  int bandColumn = -1;  // the column the band stands at; -1: none yet

  // Codes of the count contour pixels in column x at the given rows, each
  // counted over its window; codes start as 0.
  void byWindows(int x, const int* rows, int count, unsigned char* codes) const {
    for (int i = 0; i < count; ++i)
      if (window.inside(x, rows[i])) codes[i] = window.code(window.count(map, map[x][rows[i]], x, rows[i]));
  }

  void sliding(int x, const int* rows, int count, unsigned char* codes) {
    const int r = window.r;
    if (x - r < 0 || x + r + 1 > window.width) return;  // no window fits: every code stays 0
    const long long entries = static_cast<long long>(contourCount) * window.height;
    if (entries > kMaxBandEntries && entries > static_cast<long long>(window.width) * window.height / 2) {
      byWindows(x, rows, count, codes);
      return;
    }
    counts.resize(static_cast<std::size_t>(entries));
    LabelBand band{counts, map, descriptors, r, window.height};
    if (bandColumn == x - 1)
      band.step(x);
    else
      band.fill(x);
    bandColumn = x;
    for (int i = 0; i < count; ++i)
      if (window.inside(x, rows[i])) codes[i] = window.code(band.window(x, rows[i]));
  }
};

// Recodes a merged contour's pixels (all carrying label) after a merge: the
// literal way every pixel, the fast one only those whose window reaches the
// changed box.
struct ContourRecoder {
  JaggednessWindow window;
  int32_t** map;
  std::vector<uint32_t>& pending;
  std::vector<int32_t>& sat;

  void everyPixel(CRSSTContour& list, int label) const {
    for (uint32_t i = 0; i < list.nPixels; ++i) {
      const int x = static_cast<int>(list.pixelX[i]);
      const int y = static_cast<int>(list.pixelY[i]);
      list.pixelJaggedness[i] = window.inside(x, y) ? window.code(window.count(map, label, x, y)) : 0;
    }
  }

  // Recounts the codes of the listed pixels (all carrying label) whose window
  // reaches the changed box x0..x1, y0..y1; a summed-area table over the reached
  // area replaces the per-pixel window scans when that is cheaper.
  void reachedPixels(CRSSTContour& list, int label, int x0, int y0, int x1, int y1) {
    const int r = window.r;
    pending.clear();
    int bx0 = window.width, by0 = window.height, bx1 = -1, by1 = -1;
    for (uint32_t i = 0; i < list.nPixels; ++i) {
      const int x = static_cast<int>(list.pixelX[i]);
      const int y = static_cast<int>(list.pixelY[i]);
      if (!window.inside(x, y)) {
        list.pixelJaggedness[i] = 0;
        continue;
      }
      const bool reaches = x + r >= x0 && x - r <= x1 && y + r >= y0 && y - r <= y1;
      if (!reaches) continue;
      pending.push_back(i);
      bx0 = std::min(bx0, x - r);
      bx1 = std::max(bx1, x + r);
      by0 = std::min(by0, y - r);
      by1 = std::max(by1, y + r);
    }
    if (pending.empty()) return;
    const long long side = 2 * r + 1;
    const long long boxW = bx1 - bx0 + 1;
    const long long boxH = by1 - by0 + 1;
    if (static_cast<long long>(pending.size()) * side * side <= 2 * boxW * boxH) {
      for (uint32_t i : pending)
        list.pixelJaggedness[i] = window.code(window.count(map, label, list.pixelX[i], list.pixelY[i]));
      return;
    }
    // sat[(i)*(boxH+1) + j] counts the label over box columns < i and rows < j.
    sat.assign(static_cast<std::size_t>((boxW + 1) * (boxH + 1)), 0);
    for (long long i = 0; i < boxW; ++i) {
      const int32_t* column = map[bx0 + i];
      int32_t runningColumn = 0;
      for (long long j = 0; j < boxH; ++j) {
        runningColumn += column[by0 + j] == label;
        sat[(i + 1) * (boxH + 1) + j + 1] = sat[i * (boxH + 1) + j + 1] + runningColumn;
      }
    }
    for (uint32_t i : pending) {
      const long long ax = static_cast<long long>(list.pixelX[i]) - r - bx0;
      const long long ay = static_cast<long long>(list.pixelY[i]) - r - by0;
      const long long cx = ax + side;
      const long long cy = ay + side;
      const int32_t count = sat[cx * (boxH + 1) + cy] - sat[ax * (boxH + 1) + cy] - sat[cx * (boxH + 1) + ay] +
                            sat[ax * (boxH + 1) + ay];
      list.pixelJaggedness[i] = window.code(static_cast<unsigned>(count));
    }
  }
};

}  // namespace

int M_RSST::allocateContours(int n) {
  if (contours != nullptr) reportFatal("M_RSST::allocateContours(...), Countours already allocated!");
  frame().contours.reset(new (std::nothrow) CRSSTContour[n > 0 ? n : 1]);
  contours = frame().contours.get();
  if (contours == nullptr) reportFatal("M_RSST::allocateContours(...), Memory allocation error!");
  contourCount = n;
  frame().contourBoxes.clear();
  return 1;
}

int M_RSST::deallocateContours() {
  if (contours == nullptr) reportFatal("M_RSST::deallocateContours(...), Contour NOT allocated!");
  frame().contours.reset();
  contours = nullptr;
  contourCount = 0;
  frame().contourBoxes.clear();
  return 1;
}

bool M_RSST::bIsContourPixel(int x, int y) { return LabelView::of(frame().labelMap, width, height).isContour(x, y); }

bool M_RSST::bIsRContourPixel(int x, int y) {
  const LabelView view = LabelView::of(frame().labelMap, width, height);
  return !view.onOuterRing(x, y) && view.differsFromA4Neighbour(x, y);
}

bool M_RSST::bIsImageBorderPixel(int x, int y) {
  return x < borderBandX || y < borderBandY || x > borderLimitX || y > borderLimitY;
}

bool M_RSST::bIsPixelNeigbourWith(unsigned int label, int x, int y) {
  return LabelView::of(frame().labelMap, width, height).touches(static_cast<int32_t>(label), x, y);
}

bool M_RSST::bIsPixel8NeighbourWith(unsigned int label, int x, int y) {
  int32_t** map = frame().labelMap.getPtr2Array();
  if (x - 1 < 0 || x + 1 >= width || y - 1 < 0 || y + 1 >= height) return false;
  for (int i = x - 1; i <= x + 1; ++i)
    for (int j = y - 1; j <= y + 1; ++j)
      if (map[i][j] == static_cast<int32_t>(label)) return true;
  return false;
}

unsigned char M_RSST::computeJaggedness4CPixel(int x, int y) {
  const JaggednessWindow window{jaggednessRadius, width, height};
  int32_t** map = frame().labelMap.getPtr2Array();
  if (!window.inside(x, y)) return 0;
  return window.code(window.count(map, map[x][y], x, y));
}

double M_RSST::computeCPointLength(int x, int y) {
  if (x < 1 || y < 1 || x >= width - 1 || y >= height - 1) return 1.0;
  return 1.2071;
}

// The label map is taken here, after the first stage, whose graph is the
// frame's largest memory.
void M_RSST::extractContours() {
  if (!frame().labelMap.isAllocated()) frame().labelMap.allocateArray(width, height);
  int32_t** map = frame().labelMap.getPtr2Array();
  std::vector<PixelBox>& boxes = frame().contourBoxes;
  boxes.assign(static_cast<std::size_t>(contourCount), PixelBox{width, height, -1, -1});
  frame().boxesGeneration = mergeGeneration_;
  std::vector<int> order;
  std::vector<uint64_t> sizes;
  forEachLiveRegion([&](int index, uint32_t pixelCount) {
    const int next = static_cast<int>(order.size());
    if (next >= contourCount) reportFatal("M_RSST::extractContours(...) -> Number of conours Excided!");
    regionDescriptors[index].contourIndex = next;
    contours[next].reset(width, height);
    contours[next].regionIndex = index;
    order.push_back(index);
    sizes.push_back(pixelCount);
  });
  // Regions own their pixels and boxes: parts of about equal area label them at once.
  splitWorkByWeight(threadCount, sizes, [&](unsigned, long long begin, long long end) {
    for (long long next = begin; next < end; ++next) {
      const int index = order[next];
      PixelBox& box = boxes[next];
      forEachPixelOf(regions[index], [&](uint32_t p) {
        const int x = static_cast<int>(p % width);
        const int y = static_cast<int>(p / width);
        map[x][y] = index;
        box.add(x, y);
      });
    }
  });
  listContourPixels();
}

// Column by column, top to bottom: the order every contour lists its pixels
// in. Bands of columns are coded at once, each with a coder of its own, and
// then parts of the contours list theirs, each part reading the bands in order.
void M_RSST::listContourPixels() {
  int32_t** map = frame().labelMap.getPtr2Array();
  struct CodedPixel {
    int x, y;
    int contour;
    unsigned char code;
  };
  const LabelView view = LabelView::of(frame().labelMap, width, height);
  std::vector<std::vector<CodedPixel>> coded(partCount(threadCount, width));
  splitWork(threadCount, width, [&](unsigned part, long long x0, long long x1) {
    std::vector<uint16_t> counts;
    ColumnCoder coder{JaggednessWindow{jaggednessRadius, width, height}, map, regionDescriptors, contourCount, counts};
    std::vector<int> rows;
    std::vector<unsigned char> codes;
    for (int x = static_cast<int>(x0); x < x1; ++x) {
      rows.clear();
      for (int y = 0; y < height; ++y)
        if (view.isContour(x, y)) rows.push_back(y);
      codes.assign(rows.size(), 0);
      if (literal_) coder.byWindows(x, rows.data(), static_cast<int>(rows.size()), codes.data());
      else coder.sliding(x, rows.data(), static_cast<int>(rows.size()), codes.data());
      for (std::size_t i = 0; i < rows.size(); ++i)
        coded[part].push_back({x, rows[i], regionDescriptors[map[x][rows[i]]].contourIndex, codes[i]});
    }
  });
  std::vector<uint64_t> listed(static_cast<std::size_t>(contourCount), 0);
  for (const std::vector<CodedPixel>& pixels : coded)
    for (const CodedPixel& c : pixels) ++listed[c.contour];
  splitWorkByWeight(threadCount, listed, [&](unsigned, long long begin, long long end) {
    for (const std::vector<CodedPixel>& pixels : coded)
      for (const CodedPixel& c : pixels)
        if (c.contour >= begin && c.contour < end)
          contours[c.contour].addContourPixel(c.x, c.y, static_cast<float>(computeCPointLength(c.x, c.y)), c.code);
  });
}

// A merge only turns from's pixels into's label, so a code can change only
// where the window reaches a pixel of from: the others keep their codes.
//
// While the map has followed every merge since the contours were taken, from's
// pixels are the pixels of its label within its box; a box not much larger
// than the region is read column by column rather than its pixel list chased.
void M_RSST::updateContoursOfMergedReg(RSSTRegion* from, RSSTRegion* into) {
  int32_t** map = frame().labelMap.getPtr2Array();
  CRSSTContour& kInto = contourOf(into);
  CRSSTContour& kFrom = contourOf(from);
  const int32_t label = kInto.regionIndex;
  std::vector<PixelBox>& boxes = frame().contourBoxes;
  const bool boxed = frame().boxesHeldAt(mergeGeneration_, contourCount);
  const PixelBox* known = knownBoxOf(from);
  PixelBox box = known != nullptr ? *known : PixelBox{width, height, -1, -1};
  const long long area = static_cast<long long>(box.x1 - box.x0 + 1) * (box.y1 - box.y0 + 1);
  if (known != nullptr && area <= kScannedBoxShare * static_cast<long long>(from->pixelCount)) {
    const int32_t fromLabel = kFrom.regionIndex;
    for (int x = box.x0; x <= box.x1; ++x) {
      int32_t* column = map[x];
      for (int y = box.y0; y <= box.y1; ++y) column[y] = column[y] == fromLabel ? label : column[y];
    }
  } else {
    box = PixelBox{width, height, -1, -1};
    for (uint32_t p = from->firstPixel; p != kNoPixel; p = pixelNext[p]) {
      const int x = static_cast<int>(p % width);
      const int y = static_cast<int>(p / width);
      map[x][y] = label;
      box.add(x, y);
    }
  }
  if (boxed) {
    boxes[descriptorsOf(into).contourIndex].add(box);
    frame().boxesGeneration = mergeGeneration_ + 1;  // the merge's, once rsst_updateRegion counts it
  }
  const int x0 = box.x0, y0 = box.y0, x1 = box.x1, y1 = box.y1;
  if (!scratch_->mergeList) scratch_->mergeList.reset(new CRSSTContour);
  CRSSTContour& merged = *scratch_->mergeList;
  merged.reset(width, height);
  const LabelView view = LabelView::of(frame().labelMap, width, height);
  for (const CRSSTContour* k : {&kInto, &kFrom})
    for (uint32_t i = 0; i < k->nPixels; ++i)
      if (view.isContour(k->pixelX[i], k->pixelY[i]))
        merged.addContourPixel(k->pixelX[i], k->pixelY[i], k->pixelLength[i], k->pixelJaggedness[i]);
  kInto.reset(width, height);
  kFrom.reset(width, height);
  ContourRecoder recoder{JaggednessWindow{jaggednessRadius, width, height}, map, scratch_->pendingRecount,
                         frame().windowCounts};
  if (literal_) recoder.everyPixel(merged, label);
  else recoder.reachedPixels(merged, label, x0, y0, x1, y1);
  for (uint32_t i = 0; i < merged.nPixels; ++i) {
    const int x = static_cast<int>(merged.pixelX[i]);
    const int y = static_cast<int>(merged.pixelY[i]);
    kInto.addContourPixel(x, y, static_cast<float>(computeCPointLength(x, y)), merged.pixelJaggedness[i]);
  }
}

void M_RSST::jointProperties_ColortAndContour(RSSTRegion* from, RSSTRegion* into) {
  updateContoursOfMergedReg(from, into);
  modelOf(into).addColorModel(&modelOf(from));
  jointProperties_ColorMean(from, into);
}
