// Grid-layout mode and the label-map read-back.
#include "app/GridLayout.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "storage/PgmFormat.h"
#include "storage/Report.h"
#include "storage/T_AtomicFile.h"

namespace {

// Read-back lines are read through a buffer of this many characters.
constexpr int kLineBuffer = 80;

// Skips comment lines; leaves an empty line at the end of the file.
void readContentLine(std::FILE* file, char* line) {
  do {
    if (std::fgets(line, kLineBuffer, file) == nullptr) {
      line[0] = '\0';
      return;
    }
  } while (line[0] == '#');
}

// False at the end of the file.
bool skipSample(std::FILE* file, bool wide) {
  if (std::fgetc(file) == EOF) return false;
  return !wide || std::fgetc(file) != EOF;
}

}  // namespace

GridLayout makeGridLayout(int width, int height, unsigned cellSize) {
  GridLayout grid;
  grid.cellSize = cellSize;
  grid.cellRows = static_cast<unsigned>(height) / cellSize;
  grid.cellColumns = static_cast<unsigned>(width) / cellSize;
  return grid;
}

std::vector<uint16_t> gridLabels(const GridLayout& grid, int width, int height) {
  std::vector<uint16_t> labels(static_cast<size_t>(width) * height, 0);
  for (int y = 0; y < height; ++y) {
    const unsigned cellRow = static_cast<unsigned>(y) / grid.cellSize;
    if (cellRow >= grid.cellRows) break;
    for (int x = 0; x < width; ++x) {
      const unsigned cellColumn = static_cast<unsigned>(x) / grid.cellSize;
      if (cellColumn >= grid.cellColumns) break;
      labels[static_cast<size_t>(y) * width + x] =
          static_cast<uint16_t>(cellRow * grid.cellColumns + cellColumn);
    }
  }
  return labels;
}

void writeLabelMap(const char* path, const std::vector<uint16_t>& labels, int width, int height,
                   bool wide) {
  T_AtomicFile output(path);
  if (!output.isOpen()) pgm::failOnFile("failure in opening file %s\n", path);
  std::FILE* file = output.stream();
  const std::string header = pgm::labelMapHeader(width, height, wide);
  bool written = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  for (size_t i = 0; written && i < labels.size(); ++i)
    written = pgm::putSample(file, labels[i], wide);
  // A refused write has no text of its own; the file is as unusable as an unclosed one.
  if (!written || !output.commit()) {
    output.discard();
    pgm::failOnFile("failure in closing file %s", path);
  }
}

void readBackLabelMap(const char* path, bool wide) {
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) pgm::failOnFile("\nUnable to open input image file %s\nExiting...", path);
  char line[kLineBuffer];
  if (std::fgets(line, kLineBuffer, file) == nullptr || std::strncmp(line, "P5", 2) != 0) {
    std::fclose(file);
    pgm::failOnFile("\nInput image file %s not in pgm/ppm format(P5)\nExiting...", path);
  }
  int width = 0, height = 0, maxValue = 0;
  readContentLine(file, line);
  std::sscanf(line, "%d %d", &width, &height);
  readContentLine(file, line);
  std::sscanf(line, "%d", &maxValue);
  // The declared size is not trusted: a header claiming billions of samples
  // ends with the file, not after billions of reads past its end; and a map
  // without columns has no sample to read in any of its rows.
  bool more = width > 0;
  for (int y = 0; more && y < height; ++y)
    for (int x = 0; more && x < width; ++x) more = skipSample(file, wide);
  std::fclose(file);
}

int runGridLayout(int width, int height, unsigned cellSize, const char* outputPath) {
  const GridLayout grid = makeGridLayout(width, height, cellSize);
  if (grid.getCellCount() > kMaxGridCells)
    reportFatal("Dornick -> A grid of more than 65535 cells does not fit a label map!");
  const bool wide = pgm::needsWideSamples(static_cast<long>(grid.getCellCount()));
  std::printf("Number of regions : %d \n", static_cast<int>(grid.getCellCount()));
  writeLabelMap(outputPath, gridLabels(grid, width, height), width, height, wide);
  readBackLabelMap(outputPath, wide);
  return 0;
}
