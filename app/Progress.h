// A one-line progress display for long segmentations, on a terminal only.
#pragma once

#include <chrono>
#include <cstdio>

// Shown when the stream is a terminal and the image has at least a megapixel:
// smaller images finish before a display would be read, and a file or pipe
// must not collect carriage returns.
bool wantsProgressLine(bool streamIsTerminal, long pixels);

// Rewrites one line in place with the last finished step and the region count
// after it; erase() leaves the line empty, as if nothing had been shown.
class ProgressLine {
 public:
  explicit ProgressLine(std::FILE* stream);
  ~ProgressLine() { erase(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void begin(int width, int height);
  void show(const char* step, unsigned regionCount);
  void erase();

  // The engine's observer; context is the ProgressLine.
  static void observe(const char* step, unsigned regionCount, void* context);

 private:
  std::FILE* stream;
  std::chrono::steady_clock::time_point start;
  bool shown = false;
};
