// Test images drawn in code: small synthetic scenes with an obvious segmentation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

// One character per pixel, one string per row. Colours: R red, G green,
// B blue, K black, W white, Y yellow, C cyan, M magenta, O orange, g grey.
void drawImage(S_CImageStorage& image, const std::vector<std::string>& rows);

void fillUniform(S_CImageStorage& image, int width, int height, unsigned char r, unsigned char g,
                 unsigned char b);

// Flat shapes (given as in drawImage, each character scaled to cell x cell
// pixels) with seeded uniform noise of +-amplitude on every channel.
void drawNoisyScene(S_CImageStorage& image, const std::vector<std::string>& rows, int cell,
                    int amplitude, uint32_t seed);

// Label of every pel, row by row (objectID of its region, -1 for a free pel).
std::vector<int> labelsOf(S_RegionStorage& result);

// How many labels are split into more than one 4-connected piece (labels row by row).
int splitRegions(const std::vector<int>& labels, int width, int height);
