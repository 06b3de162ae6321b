// PNG files read through libpng, a decoder independent of the one that wrote them.
#pragma once

#include <string>
#include <vector>

struct PngPicture {
  int width = 0;
  int height = 0;
  int bitDepth = 0;   // as stored in the file
  int channels = 0;   // 1 grey, 3 RGB after palette expansion
  bool palette = false;
  std::vector<unsigned> samples;  // row by row, channels per pixel, 16-bit ones most significant byte first
};

// Fails the test and returns an empty picture when the file is not a readable PNG.
PngPicture readPng(const std::string& path);
