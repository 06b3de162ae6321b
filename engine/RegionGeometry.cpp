// Read-only shape measures of regions and region pairs over their contours.
#include <cmath>

#include "engine/EngineInternals.h"
#include "engine/LabelView.h"

namespace {

constexpr double kComplexityFloor = 3.5;

double flooredComplexity(double ratio) { return ratio <= kComplexityFloor ? kComplexityFloor : ratio; }

// Shape gain runs linearly from 0 at a complexity ratio of 0.147 to 1 at 1.597.
double shapeCostFor(double simplerComplexity, double mergedComplexity) {
  double gain = (simplerComplexity / mergedComplexity - 0.727) * 0.6896551724137931 + 0.4;
  if (!(gain >= 0)) gain = 0;
  if (gain > 1) gain = 1;
  return 1 - gain;
}

double shorterLength(const CRSSTContour& a, const CRSSTContour& b) { return a.length < b.length ? a.length : b.length; }

// Share of a contour length. A region whose stored contour has emptied (its
// pixels beyond the record's capacity were never stored) shares nothing
// measurable: 0, where 0/0 would put a NaN cost into the heap.
double shareOf(double part, double contourLength) { return contourLength == 0 ? 0.0 : part / contourLength; }

// Visits each stored pixel of both contours, a's first and each in stored
// order, with its side (0 for a, 1 for b) and whether it faces the other region.
// Where the regions' boxes are known, only pixels next to the other's box can.
template <class Visit>
void visitBothContours(const LabelView& view, const CRSSTContour& a, const CRSSTContour& b, const PixelBox* boxA,
                       const PixelBox* boxB, Visit&& visit) {
  const CRSSTContour* own[2] = {&a, &b};
  const int32_t partner[2] = {b.regionIndex, a.regionIndex};
  const PixelBox* partnerBox[2] = {boxB, boxA};
  for (int side = 0; side < 2; ++side) {
    const CRSSTContour& k = *own[side];
    const PixelBox* box = partnerBox[side];
    for (uint32_t i = 0; i < k.nPixels; ++i) {
      const int x = static_cast<int>(k.pixelX[i]);
      const int y = static_cast<int>(k.pixelY[i]);
      visit(side, k, i, (box == nullptr || box->reaches(x, y)) && view.touches(partner[side], x, y));
    }
  }
}

// Calls visit(x, y, facesTarget) for each stored pixel of the contour with
// fewer pixels (a's on a tie) until visit returns false; the target is the
// other region.
template <class Visit>
void scanSmallerContourAgainstPartner(const LabelView& view, const CRSSTContour& a, const CRSSTContour& b,
                                      const Visit& visit) {
  const bool bFewer = b.nPixels < a.nPixels;
  const CRSSTContour& s = bFewer ? b : a;
  const int32_t target = (bFewer ? a : b).regionIndex;
  for (uint32_t i = 0; i < s.nPixels; ++i) {
    const int x = static_cast<int>(s.pixelX[i]);
    const int y = static_cast<int>(s.pixelY[i]);
    if (!visit(x, y, view.touches(target, x, y))) return;
  }
}

}  // namespace

double M_RSST::computeShapeComplexity(RSSTRegion* r) {
  return flooredComplexity(contourOf(r).length / std::sqrt(static_cast<double>(r->pixelCount)));
}

void M_RSST::geometryIfMerged(RSSTRegion* a, RSSTRegion* b, double& commonContourLength,
                              double& mergedComplexity) {
  double rest = 0;
  double facing[2] = {0, 0};
  visitBothContours(LabelView::of(frame().labelMap, width, height), contourOf(a), contourOf(b), knownBoxOf(a),
                    knownBoxOf(b), [&](int side, const CRSSTContour& k, uint32_t i, bool faces) {
    if (faces) facing[side] += k.pixelLength[i];
    else rest += k.pixelLength[i];
  });
  commonContourLength = facing[0] < facing[1] ? facing[0] : facing[1];
  mergedComplexity = flooredComplexity(rest / std::sqrt(static_cast<double>(a->pixelCount + b->pixelCount)));
}

void M_RSST::measureGeometry(RSSTRegion* a, RSSTRegion* b, PairMeasures& m) {
  const double qa = computeShapeComplexity(a);
  const double qb = computeShapeComplexity(b);
  geometryIfMerged(a, b, m.commonContourLength, m.mergedComplexity);
  m.borderCost = 1 - shareOf(m.commonContourLength, shorterLength(contourOf(a), contourOf(b)));
  m.shapeCost = shapeCostFor(qa < qb ? qa : qb, m.mergedComplexity);
}

void M_RSST::geometricCosts(RSSTRegion* a, RSSTRegion* b, double& borderCost, double& shapeCost,
                            double& mergedComplexity) {
  PairMeasures m;
  measureGeometry(a, b, m);
  borderCost = m.borderCost;
  shapeCost = m.shapeCost;
  mergedComplexity = m.mergedComplexity;
}

M_RSST::PairMeasures M_RSST::measurePair(RSSTRegion* a, RSSTRegion* b) {
  PairMeasures m;
  m.colorDistance = modelOf(a).calcDistanceWith(&modelOf(b));
  measureGeometry(a, b, m);
  return m;
}

void M_RSST::computeJaggOfContours(RSSTRegion* a, RSSTRegion* b, double& jaggedBorderCost,
                                   unsigned int& commonPixelCount, double& jaggedShareA,
                                   double& jaggedShareB) {
  const CRSSTContour* own[2] = {&contourOf(a), &contourOf(b)};
  commonPixelCount = 0;
  double jaggedFacing[2] = {0, 0};
  double jagged[2] = {0, 0};
  visitBothContours(LabelView::of(frame().labelMap, width, height), *own[0], *own[1], knownBoxOf(a), knownBoxOf(b),
                    [&](int side, const CRSSTContour& k, uint32_t i, bool faces) {
    const bool isJagged = k.pixelJaggedness[i] > 80;
    if (faces) {
      ++commonPixelCount;
      if (isJagged) jaggedFacing[side] += k.pixelLength[i];
    }
    if (isJagged) jagged[side] += k.pixelLength[i];
  });
  const double sharedJagged = jaggedFacing[0] < jaggedFacing[1] ? jaggedFacing[0] : jaggedFacing[1];
  jaggedBorderCost = 1 - shareOf(sharedJagged, shorterLength(*own[0], *own[1]));
  // A contour wholly on the image edge has nothing to be jagged: its share is
  // 0, which no jaggedness threshold accepts.
  jaggedShareA = own[0]->lengthNoIB == 0 ? 0.0 : jagged[0] / own[0]->lengthNoIB;
  jaggedShareB = own[1]->lengthNoIB == 0 ? 0.0 : jagged[1] / own[1]->lengthNoIB;
}

double M_RSST::jaggedBorderCostOf(RSSTRegion* a, RSSTRegion* b, double& jaggedShareA, double& jaggedShareB) {
  double jaggedBorderCost;
  unsigned commonPixels;
  computeJaggOfContours(a, b, jaggedBorderCost, commonPixels, jaggedShareA, jaggedShareB);
  return jaggedBorderCost;
}

double M_RSST::computeBoundaryStrength(RSSTRegion* a, RSSTRegion* b) {
  const LabelView view = LabelView::of(frame().labelMap, width, height);
  double** planeL = frame().smoothL.getPtr2Array();
  double** planeU = frame().smoothU.getPtr2Array();
  double** planeV = frame().smoothV.getPtr2Array();
  const bool bShorter = contourOf(b).length < contourOf(a).length;
  const CRSSTContour& s = bShorter ? contourOf(b) : contourOf(a);
  const int32_t other = contourOf(bShorter ? a : b).regionIndex;
  double weak = 0;
  for (uint32_t i = 0; i < s.nPixels; ++i) {
    const int x = static_cast<int>(s.pixelX[i]);
    const int y = static_cast<int>(s.pixelY[i]);
    if (view.onOuterRing(x, y)) continue;
    const int nx[4] = {x - 1, x, x + 1, x};
    const int ny[4] = {y, y - 1, y, y + 1};
    bool found = false;
    double largest = 0;
    for (int n = 0; n < 4; ++n) {
      if (view.map[nx[n]][ny[n]] != other) continue;
      const double dL = planeL[x][y] - planeL[nx[n]][ny[n]];
      const double dU = planeU[x][y] - planeU[nx[n]][ny[n]];
      const double dV = planeV[x][y] - planeV[nx[n]][ny[n]];
      const double step = dL * dL + dU * dU + dV * dV;
      if (!found || step > largest) largest = step;
      found = true;
    }
    if (found && largest < 4.0) weak += s.pixelLength[i];
  }
  return 1 - shareOf(weak, s.length);
}

int M_RSST::countImageBorderPixels(RSSTRegion* r) {
  const CRSSTContour& k = contourOf(r);
  int count = 0;
  for (uint32_t i = 0; i < k.nPixels; ++i)
    if (bIsImageBorderPixel(k.pixelX[i], k.pixelY[i])) ++count;
  return count;
}

bool M_RSST::bImageBorderRegions(RSSTRegion* a, RSSTRegion* b) {
  bool contact = false;
  scanSmallerContourAgainstPartner(LabelView::of(frame().labelMap, width, height), contourOf(a), contourOf(b),
                                   [&](int x, int y, bool faces) {
    contact = faces && bIsImageBorderPixel(x, y);
    return !contact;
  });
  return contact;
}

unsigned M_RSST::calcNumberOfCommonPixelsIB(RSSTRegion* a, RSSTRegion* b) {
  unsigned facing = 0;
  bool reachesBand = false;
  scanSmallerContourAgainstPartner(LabelView::of(frame().labelMap, width, height), contourOf(a), contourOf(b),
                                   [&](int x, int y, bool faces) {
    if (faces) {
      ++facing;
      reachesBand = reachesBand || bIsImageBorderPixel(x, y);
    }
    return true;
  });
  if (!reachesBand) return 0;
  const int inA = countImageBorderPixels(a);
  const int inB = countImageBorderPixels(b);
  return facing + static_cast<unsigned>(inA < inB ? inA : inB);
}
