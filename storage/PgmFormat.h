// Label-map file layout shared by the region storage and the grid mode:
// binary P5 with a fixed comment line; 16-bit samples are written low byte first.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "storage/Report.h"

namespace pgm {

// Maps of 256 or more labels need 16-bit samples.
inline bool needsWideSamples(long labelCount) { return labelCount > 255; }

inline std::string labelMapHeader(int width, int height, bool wide) {
  char text[128];
  std::snprintf(text, sizeof text,
                wide ? "P5\n# Created by Brindle image segmentation tool\n%d %d\n65535\n"
                     : "P5\n# Created by Brindle image segmentation tool\n%d %d\n255\n",
                width, height);
  return text;
}

// Returns false when the stream refused a byte.
inline bool putSample(std::FILE* file, unsigned label, bool wide) {
  if (std::fputc(static_cast<int>(label & 0xFFu), file) == EOF) return false;
  return !wide || std::fputc(static_cast<int>((label >> 8) & 0xFFu), file) != EOF;
}

// File errors of the label-map writers and reader go to standard output, as
// the program's own messages do, and end the process with status 1 (or go to
// the thread's failure catcher, as the formatted text).
[[noreturn]] inline void failOnFile(const char* format, const char* path) {
  const int length = std::snprintf(nullptr, 0, format, path);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::snprintf(&text[0], text.size() + 1, format, path);
  veskar::takeFailure(text);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  std::exit(1);
}

}  // namespace pgm
