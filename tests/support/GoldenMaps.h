// Golden label maps: photos segmented once and kept with the tests, so that
// any change to a label map shows up as a failing comparison.
#pragma once

#include <string>
#include <vector>

#include "storage/S_CImageStorage.h"

// A request as Dornick makes it: without a count (wanted 0, floor 255) or with one (floor 0).
struct GoldenRequest {
  unsigned wanted;
  unsigned regionFloor;
};

struct GoldenMap {
  GoldenRequest request{0, 0};
  int width = 0;
  int height = 0;
  int regions = 0;
  std::vector<int> labels;  // row by row
};

// An image of the golden set: its input (PPM, relative to tests/data) and its
// maps in tests/data/golden/<name>.labels.
struct GoldenImage {
  std::string name;
  std::string input;
};

// The images of the golden set and the requests each one is segmented with.
extern const std::vector<GoldenImage> kGoldenImages;
extern const std::vector<GoldenRequest> kGoldenRequests;

// PPM (binary P6 or plain P3, maximum 255) into an RGB image; returns an error text, empty on success.
std::string readPpm(const std::string& path, S_CImageStorage& image);

// Segments the image with a fresh engine as Dornick does (margin 0), on the given number of threads.
GoldenMap segmentForGolden(S_CImageStorage& image, GoldenRequest request, unsigned threads = 1);

// The maps of one image, one run-length coded text block per request.
std::string formatGoldenMaps(const std::string& imageName, const std::vector<GoldenMap>& maps);
// Returns an error text, empty on success.
std::string parseGoldenMaps(const std::string& text, std::vector<GoldenMap>& maps);

// Empty when the maps are identical; otherwise the region counts, the first
// differing pixel (row by row) and how many pixels differ.
std::string describeDifference(const GoldenMap& golden, const GoldenMap& actual);
