// Colour models of regions: shade lists, dominant-shade extraction and the quadratic-form distance.
#include "engine/descriptors/CLUVColorModel.h"

#include <algorithm>
#include <cmath>

namespace {

double squaredDistance(const ColorShade* a, const ColorShade* b) {
  const double dL = a->L - b->L;
  const double du = a->u - b->u;
  const double dv = a->v - b->v;
  return dL * dL + du * du + dv * dv;
}

// Equal counts keep the earlier shade, so ties go to list order.
ColorShade* largestAvailable(ColorShade* list) {
  ColorShade* best = nullptr;
  for (ColorShade* s = list; s != nullptr; s = s->next)
    if (s->bAvailable && (best == nullptr || s->numbOfPixels > best->numbOfPixels)) best = s;
  return best;
}

// Whether the shades closer than 15 to s (taken or not, s itself included)
// hold more than a fifth of the total. The sum only grows, so the walk may
// stop at the first pass without changing the answer.
bool hasDenseNeighbourhood(const ColorShade* list, const ColorShade* s, std::uint32_t total) {
  std::uint32_t near = 0;
  for (const ColorShade* t = list; t != nullptr; t = t->next) {
    if (squaredDistance(s, t) >= 225) continue;
    near += t->numbOfPixels;
    if (static_cast<double>(near) / static_cast<double>(total) > 0.2) return true;
  }
  return false;
}

void printShades(FILE* file, const ColorShade* list) {
  for (const ColorShade* s = list; s != nullptr; s = s->next)
    std::fprintf(file, "\n\t(%5.2f,%5.2f,%5.2f, %ld)", s->L, s->u, s->v, static_cast<long>(s->numbOfPixels));
}

}  // namespace

CLUVColorModel::CLUVColorModel()
    : totalNumbOfPixels(0),
      dominantNumbOfPixels(0),
      fullShadeList(nullptr),
      fullShadeListTail(nullptr),
      dominantShadeList(nullptr),
      dominantShadeListTail(nullptr),
      psqr(0.0),
      avgSaturation(0.0) {}

CLUVColorModel::~CLUVColorModel() {
  deallocateShadeList(&fullShadeList, &fullShadeListTail);
  deallocateShadeList(&dominantShadeList, &dominantShadeListTail);
}

void CLUVColorModel::addShade(double L, double u, double v, int n) {
  addShade2List(&fullShadeList, &fullShadeListTail, L, u, v, n);
  totalNumbOfPixels += static_cast<std::uint32_t>(n);
  refreshModel();
}

void CLUVColorModel::addColorModel(CLUVColorModel* other) {
  // Stopping at the tail seen on entry makes adding a model to itself
  // double its shades once instead of chasing its own appends.
  const ColorShade* last = other->fullShadeListTail;
  for (ColorShade* s = other->fullShadeList; s != nullptr; s = s->next) {
    addShade2List(&fullShadeList, &fullShadeListTail, s->L, s->u, s->v, static_cast<int>(s->numbOfPixels));
    totalNumbOfPixels += s->numbOfPixels;
    if (s == last) break;
  }
  refreshModel();
}

double CLUVColorModel::calcDistanceWith(CLUVColorModel* other) {
  const double S = sumOfMultipl(dominantShadeList, other->dominantShadeList);
  const double m = std::min(avgSaturation, other->avgSaturation);
  return (other->psqr + psqr - 2 * S) * (1 - 0.005 * m) * 0.5;
}

double CLUVColorModel::calcDistanceWithO(CLUVColorModel* other) {
  const double S = sumOfMultipl(dominantShadeList, other->dominantShadeList);
  return (other->psqr + psqr - 2 * S) * 0.5;
}

// An empty list (or one without pixels) has no mean: it reads as black, not NaN.
void CLUVColorModel::getAverageColor(ColorShade* list, double& L, double& u, double& v) {
  double sumL = 0.0, sumU = 0.0, sumV = 0.0, count = 0.0;
  for (ColorShade* s = list; s != nullptr; s = s->next) {
    const double n = s->numbOfPixels;
    sumL += n * s->L;
    sumU += n * s->u;
    sumV += n * s->v;
    count += n;
  }
  L = count > 0 ? sumL / count : 0.0;
  u = count > 0 ? sumU / count : 0.0;
  v = count > 0 ? sumV / count : 0.0;
}

double CLUVColorModel::getAvgSaturation() { return avgSaturation; }

int CLUVColorModel::getTotalNumbOfPixels() { return static_cast<int>(totalNumbOfPixels); }

ColorShade* CLUVColorModel::getFullShadeList() { return fullShadeList; }

ColorShade* CLUVColorModel::getDominantShadeList() { return dominantShadeList; }

int CLUVColorModel::resetModel() {
  deallocateShadeList(&fullShadeList, &fullShadeListTail);
  deallocateShadeList(&dominantShadeList, &dominantShadeListTail);
  totalNumbOfPixels = 0;
  dominantNumbOfPixels = 0;
  psqr = 0.0;
  avgSaturation = 0.0;
  return 1;
}

void CLUVColorModel::printShadeLists(FILE* file) {
  std::fputs("\nCOLOR MODEL:\nfull list:\n", file);
  printShades(file, fullShadeList);
  std::fputs("\nCOLOR MODEL:\ndominant list:\n", file);
  printShades(file, dominantShadeList);
  std::fputs("\n", file);
}

void CLUVColorModel::addShade2List(ColorShade** head, ColorShade** tail, double L, double u, double v,
                                   int n) {
  ColorShade* shade = new ColorShade;
  shade->numbOfPixels = static_cast<std::uint32_t>(n);
  shade->L = L;
  shade->u = u;
  shade->v = v;
  if (*head == nullptr)
    *head = shade;
  else
    (*tail)->next = shade;
  *tail = shade;
}

// Largest shades first until a fifth of the pixels is covered, then every
// remaining shade that sits in a dense neighbourhood, in list order.
void CLUVColorModel::extractDominantShades(ColorShade* full, ColorShade** head, ColorShade** tail) {
  std::uint32_t total = 0;
  for (ColorShade* s = full; s != nullptr; s = s->next) {
    total += s->numbOfPixels;
    s->bAvailable = true;
  }
  deallocateShadeList(head, tail);
  dominantNumbOfPixels = 0;

  const auto target = static_cast<std::uint32_t>(total * 0.2);
  while (dominantNumbOfPixels < target) takeDominantShade(largestAvailable(full), head, tail);

  if (total == 0) return;
  for (ColorShade* s = full; s != nullptr; s = s->next)
    if (s->bAvailable && hasDenseNeighbourhood(full, s, total)) takeDominantShade(s, head, tail);
}

void CLUVColorModel::takeDominantShade(ColorShade* shade, ColorShade** head, ColorShade** tail) {
  addShade2List(head, tail, shade->L, shade->u, shade->v, static_cast<int>(shade->numbOfPixels));
  dominantNumbOfPixels += shade->numbOfPixels;
  shade->bAvailable = false;
}

void CLUVColorModel::normalizePis(ColorShade* list, unsigned long n) {
  for (ColorShade* s = list; s != nullptr; s = s->next)
    s->pi = static_cast<double>(s->numbOfPixels) / static_cast<double>(n);
}

void CLUVColorModel::updateTotal_psqr(ColorShade* list) { psqr = sumOfMultipl(list, list); }

double CLUVColorModel::sumOfMultipl(ColorShade* a, ColorShade* b) {
  double sum = 0.0;
  for (ColorShade* i = a; i != nullptr; i = i->next)
    for (ColorShade* j = b; j != nullptr; j = j->next) sum += calc_aij(i, j) * i->pi * j->pi;
  return sum;
}

// Not clamped: shades further apart than 267 count against each other.
double CLUVColorModel::calc_aij(ColorShade* i, ColorShade* j) {
  return 1 - std::sqrt(squaredDistance(i, j)) * 0.003745318352059925;
}

// A list without pixels has no mean saturation: it reads as grey, not NaN.
double CLUVColorModel::calcAverageSaturation(ColorShade* list) {
  double weighted = 0.0, count = 0.0;
  for (ColorShade* s = list; s != nullptr; s = s->next) {
    const double n = s->numbOfPixels;
    weighted += n * std::sqrt(s->u * s->u + s->v * s->v);
    count += n;
  }
  return count > 0 ? weighted / count : 0.0;
}

int CLUVColorModel::deallocateShadeList(ColorShade** head, ColorShade** tail) {
  for (ColorShade* s = *head; s != nullptr;) {
    ColorShade* next = s->next;
    delete s;
    s = next;
  }
  *head = nullptr;
  *tail = nullptr;
  return 1;
}

void CLUVColorModel::refreshModel() {
  extractDominantShades(fullShadeList, &dominantShadeList, &dominantShadeListTail);
  normalizePis(dominantShadeList, dominantNumbOfPixels);
  updateTotal_psqr(dominantShadeList);
  avgSaturation = calcAverageSaturation(dominantShadeList);
}
