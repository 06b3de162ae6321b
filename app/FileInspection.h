// What PNG and JPEG files hold beside their pixels, read before a decoder sees
// them: metadata that could take a decoder's memory or time out of proportion
// to the image, and reasons the decoder does not give.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The size a PNG's header declares; false when it does not start with one.
bool pngDeclaredSize(const unsigned char* bytes, size_t size, size_t* width, size_t* height);

struct PngInspection {
  bool chunksFit = true;  // every chunk within what the file holds
  // Compressed text and profile chunks inflate to more than the budget.
  bool metadataOverBudget = false;
  // The file without the chunks no decoder needs (text, private and repeated
  // chunks); empty when there is nothing to leave out.
  std::vector<unsigned char> decodable;
};

// metadataBudget: the bytes compressed metadata may inflate to; it is inflated
// here only to be counted, and never beyond the budget.
PngInspection inspectPng(const unsigned char* bytes, size_t size, double metadataBudget);

// Why a PNG's pixel data cannot be decoded ("" when it is all there): the data
// stops short or is corrupt.
std::string pngPixelDataProblem(const unsigned char* bytes, size_t size);

// Where a JPEG's first scan that repeats what earlier scans gave starts (a byte
// offset), and its number from 1; offset 0 when every scan adds to the image.
struct JpegScanCheck {
  size_t repeatedScanAt = 0;
  int scanNumber = 0;
};
JpegScanCheck checkJpegScans(const unsigned char* bytes, size_t size);
