// Diagnostic dump writers of the engine: jagged contours, shade bands, grey tables, statistics.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "color/T_ColorConverter.h"
#include "engine/EngineInternals.h"
#include "storage/Report.h"

namespace {

constexpr int kStripWidth = 1200;
constexpr std::size_t kMaxShownShades = 498;
constexpr unsigned char kJaggedContour = 80;  // inclusive, unlike the jaggedness measures

struct ShownShade {
  uint32_t count;
  double L, u, v;
};

struct LuvColor {
  double L, u, v;
};

std::vector<ShownShade> firstShades(const ColorShade* list) {
  std::vector<ShownShade> shown;
  for (; list != nullptr && shown.size() < kMaxShownShades; list = list->next)
    shown.push_back({list->numbOfPixels, list->L, list->u, list->v});
  return shown;
}

// Ties keep the earlier shade; shades 100000 or more away are never shown.
int nearestShownShade(const std::vector<ShownShade>& shades, const LuvColor& mean) {
  int nearest = -1;
  double best = 100000.0;
  for (std::size_t i = 0; i < shades.size(); ++i) {
    if (shades[i].count == 0) continue;
    const double dL = shades[i].L - mean.L;
    const double du = shades[i].u - mean.u;
    const double dv = shades[i].v - mean.v;
    const double distance = std::sqrt(dL * dL + du * du + dv * dv);
    if (distance < best) {
      best = distance;
      nearest = static_cast<int>(i);
    }
  }
  return nearest;
}

std::string pixelText(unsigned char r, unsigned char g, unsigned char b) {
  char text[32];
  std::snprintf(text, sizeof text, "%d %d %d  ", r, g, b);
  return text;
}

std::string repeatedPixel(const std::string& pixel, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += pixel;
  return text;
}

// One strip row: shades nearest to the mean first, each as wide as its share
// of the image (at least one pixel), black after the last one.
std::string shadeStrip(const ColorShade* list, const LuvColor& mean, double area) {
  std::vector<ShownShade> shades = firstShades(list);
  std::string row;
  int h = 0;
  for (int i; (i = nearestShownShade(shades, mean)) >= 0;) {
    unsigned char r = 0, g = 0, b = 0;
    T_ColorConverter::luv2rgbPrime(shades[i].L, shades[i].u, shades[i].v, r, g, b);
    const double S = shades[i].count / area * 1200;
    const double span = S > 0 ? std::trunc(S + 1) : std::trunc(S);
    const int end = h + span > kStripWidth ? kStripWidth : h + static_cast<int>(span);
    row += repeatedPixel(pixelText(r, g, b), end - h);
    h = end;
    shades[i].count = 0;
  }
  return row + repeatedPixel(pixelText(0, 0, 0), kStripWidth - h);
}

void writeRows(FILE* file, const std::string& row, int rows) {
  for (int i = 0; i < rows; ++i) std::fputs(row.c_str(), file);
}

// One P2 grey table: rows top to bottom, each sample on its own line.
void writeGreyTable(unsigned** table, int width, int height, const char* fileName,
                    const std::function<int(unsigned)>& sample, const char* nullMessage,
                    const char* openMessage) {
  if (table == nullptr) reportFatalUnframed(nullMessage);
  FILE* file = std::fopen(fileName, "w");
  if (file == nullptr) reportFatalUnframed(openMessage);
  std::fprintf(file, "P2\n%d %d\n%d", width, height, 255);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) std::fprintf(file, "\n%d", sample(table[x][y]));
  std::fputs("\n", file);
  std::fclose(file);
}

// Calls visit for every number "%f" reads, up to the end or the first non-number.
// Returns how many were read, or -1 when the file cannot be opened.
long forEachNumber(const char* fileName, const std::function<void(float)>& visit) {
  FILE* file = std::fopen(fileName, "r");
  if (file == nullptr) return -1;
  long count = 0;
  for (float number; std::fscanf(file, "%f", &number) == 1; ++count) visit(number);
  std::fclose(file);
  return count;
}

}  // namespace

// The picture's table lives only while the dump is written (a failed write
// may have left the last one behind).
void M_RSST::writeContours() {
  if (contours == nullptr) reportFatal("M_RSST::writeContours(), there are no contours to draw!");
  frame().contourDumpMap.deallocateArray();
  uint32_t** map = frame().contourDumpMap.allocateArray(width, height);
  forEachLiveRegion([&](int index, uint32_t) {
    const CRSSTContour& contour = contourOf(&regions[index]);
    for (uint32_t i = 0; i < contour.nPixels; ++i)
      map[contour.pixelX[i]][contour.pixelY[i]] = contour.pixelJaggedness[i] >= kJaggedContour ? 255 : 0;
  });
  char fileName[] = "contours.ppm";
  saveUCHARTableAsImage(map, width, height, fileName);
  frame().contourDumpMap.deallocateArray();
}

// The declared height counts each band's separator row, so the header matches
// the rows written.
void M_RSST::writeColorShades() {
  FILE* file = std::fopen("shades.ppm", "w");
  if (file == nullptr) reportFatalUnframed("\nM_RSST::writeColorShades(), Open file failed!!!");
  const unsigned bandHeight = regionCount == 0 ? 0 : regionCount + 1200u / (2u * regionCount);
  std::fprintf(file, "P3\n%d %d\n%d", kStripWidth, static_cast<int>(regionCount * (bandHeight + 1)), 255);
  forEachLiveRegion([&](int index, uint32_t) {
    writeRegionShades(file, &modelOf(&regions[index]), static_cast<int>(bandHeight));
  });
  std::fputs("\n", file);
  std::fclose(file);
}

// Upper half: the full list; lower half: the dominant shades; both laid out
// from the mean of the full list outwards. A black row separates the bands.
void M_RSST::writeRegionShades(FILE* file, CLUVColorModel* model, int bandHeight) {
  const double area = height * width;
  const int upperRows = bandHeight / 2;
  std::fputs("\n", file);
  LuvColor mean{};
  model->getAverageColor(model->getFullShadeList(), mean.L, mean.u, mean.v);
  std::fputs("\n", file);
  writeRows(file, shadeStrip(model->getFullShadeList(), mean, area), upperRows);
  std::fputs("\n", file);
  writeRows(file, shadeStrip(model->getDominantShadeList(), mean, area), bandHeight - upperRows);
  writeRows(file, repeatedPixel(pixelText(0, 0, 0), kStripWidth), 1);
}

void M_RSST::saveTableAsImage(unsigned** table, int width, int height, char* fileName) {
  // Scaled by the working area, so an entry equal to it maps to 255; larger ones wrap.
  const double area = this->height * this->width;
  writeGreyTable(
      table, width, height, fileName,
      [area](unsigned entry) { return static_cast<int>(static_cast<uint64_t>(entry * 255.0 / area) & 0xFF); },
      "\nsaveTableAsImage(), table pointer is NULL!!!", "\nsaveTableAsImage, Open file failed!!!");
}

void M_RSST::saveUCHARTableAsImage(unsigned** table, int width, int height, char* fileName) {
  writeGreyTable(
      table, width, height, fileName, [](unsigned entry) { return static_cast<int>(entry & 0xFF); },
      "\nsaveUCHARTableAsImage, table pointer is NULL!!!", "\nsaveUCHARTableAsImage, Open file failed!!!");
}

// Sums and squares stay in single precision, as the numbers are read.
void M_RSST::calcStat(const char* fileName) {
  float sum = 0.0f;
  const long count = forEachNumber(fileName, [&](float number) { sum += number; });
  if (count < 0) {
    reportWarning(("M_RSST::calcStat(...), Open file failed: " + std::string(fileName)).c_str());
    return;
  }
  if (count == 0) {
    reportWarning(("M_RSST::calcStat(...), No numbers in " + std::string(fileName)).c_str());
    return;
  }
  const float mean = sum / static_cast<float>(count);
  std::fprintf(stderr, "\nAVERAGE COMPLX: %f", mean);
  float squares = 0.0f;
  forEachNumber(fileName, [&](float number) {
    const float deviation = mean - number;
    squares += deviation * deviation;
  });
  std::fprintf(stderr, "\nSTDVAR COMPLX: %f", std::sqrt(static_cast<double>(squares / static_cast<float>(count))));
}
