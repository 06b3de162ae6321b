// Grid-layout mode: square cells written as a label map, and the read-back of a map.
#pragma once

#include <cstdint>
#include <vector>

// A regular grid of square cells laid from the top-left corner of the image.
struct GridLayout {
  unsigned cellSize = 1;
  unsigned cellRows = 0;     // whole cells down the image
  unsigned cellColumns = 0;  // whole cells across the image
  unsigned long getCellCount() const { return static_cast<unsigned long>(cellRows) * cellColumns; }
};

// Labels are 16-bit samples, so a grid holds at most this many cells.
constexpr unsigned long kMaxGridCells = 65535;

GridLayout makeGridLayout(int width, int height, unsigned cellSize);

// Labels row by row, cells numbered row by row; pels right of or below the
// last whole cell are covered by no cell and keep 0.
std::vector<uint16_t> gridLabels(const GridLayout& grid, int width, int height);

// Ends the process with status 1 when the file cannot be opened, written or closed.
void writeLabelMap(const char* path, const std::vector<uint16_t>& labels, int width, int height,
                   bool wide);

// Reads a written map through to its last sample, which proves it opens as a P5 file;
// the samples are not kept. Ends the process with status 1 when the file cannot be
// opened or does not start with "P5".
void readBackLabelMap(const char* path, bool wide);

// The whole mode; returns the exit status.
int runGridLayout(int width, int height, unsigned cellSize, const char* outputPath);
