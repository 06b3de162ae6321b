// Outputs beside the label map: preview, outline, grey PNG label map and region table.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/Options.h"

class S_RegionStorage;

using Rgb8 = std::array<unsigned char, 3>;

// A label per pixel, row by row, as the label map holds them.
struct LabelPicture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> labels;
  // Labels the map declares; 256 or more take 16-bit samples, as in the PGM.
  long declaredCount = 0;
  // The engine's colour of each label; empty in the grid mode, which has none.
  std::vector<Rgb8> displayColors;
};

LabelPicture labelsOfRegions(const S_RegionStorage& regions);
LabelPicture labelsOfGrid(const std::vector<uint16_t>& labels, int width, int height, long cellCount);

// One region's row of the table; the box is inclusive.
struct RegionSummary {
  uint32_t label = 0;
  unsigned long pixels = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
  double centroidX = 0, centroidY = 0;
  Rgb8 displayColor{};
  Rgb8 meanColor{};
};

// Labels that own at least one pixel, in label order. `rgb` holds the input's
// colours interleaved, row by row; without engine colours the display colour is the mean.
std::vector<RegionSummary> summarizeRegions(const LabelPicture& picture, const std::vector<unsigned char>& rgb);

// A pixel is on a border when its right or lower neighbour has another label:
// borders are one pixel wide and lie exactly where the labels change.
std::vector<bool> borderPixels(const LabelPicture& picture);

// The pictures --preview and --outline write, as RGB bytes row by row.
std::vector<unsigned char> previewPixels(const LabelPicture& picture, const std::vector<unsigned char>& rgb);
std::vector<unsigned char> outlinePixels(const LabelPicture& picture, const std::vector<unsigned char>& rgb);

// Ends the process with status 1 when FILE's extension (in any case) names none
// of the picture formats written; called before any work starts.
void checkImageFormat(const std::string& path);
// Ends the process with status 1 when the picture's format cannot hold an image
// of this size; called once the size is known, before the work.
void checkPictureSize(const std::string& path, int width, int height);

// Writes every output the options ask for besides the label map.
void writeRequestedOutputs(const Options& options, const LabelPicture& picture,
                           const std::vector<unsigned char>& rgb);
