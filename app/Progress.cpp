// Terminal progress line.
#include "app/Progress.h"

namespace {

constexpr long kLeastPixels = 1000000;
// Carriage return, then the text, then clear whatever a longer earlier text left.
constexpr const char* kClearToEnd = "\033[K";

}  // namespace

bool wantsProgressLine(bool streamIsTerminal, long pixels) { return streamIsTerminal && pixels >= kLeastPixels; }

ProgressLine::ProgressLine(std::FILE* stream) : stream(stream), start(std::chrono::steady_clock::now()) {}

void ProgressLine::begin(int width, int height) {
  std::fprintf(stream, "\rDornick: segmenting %d x %d pixels%s", width, height, kClearToEnd);
  std::fflush(stream);
  shown = true;
}

void ProgressLine::show(const char* step, unsigned regionCount) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // Before the region graph exists there are no regions to count.
  if (regionCount == 0)
    std::fprintf(stream, "\rDornick: %s done, %.1f s%s", step, seconds, kClearToEnd);
  else
    std::fprintf(stream, "\rDornick: %s done, %u regions, %.1f s%s", step, regionCount, seconds, kClearToEnd);
  std::fflush(stream);
  shown = true;
}

void ProgressLine::erase() {
  if (!shown) return;
  std::fprintf(stream, "\r%s", kClearToEnd);
  std::fflush(stream);
  shown = false;
}

void ProgressLine::observe(const char* step, unsigned regionCount, void* context) {
  static_cast<ProgressLine*>(context)->show(step, regionCount);
}
