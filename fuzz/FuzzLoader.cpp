// Fuzz target: file bytes through Dornick's loader (format list, size checks,
// decoding of the first frame, export of the colour planes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "app/ImageLoading.h"

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
  static MagickSession magick((*argv)[0]);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  LoadLimits limits;
  limits.maxMegapixels = 0.25;  // keeps every run small; the size check itself is exercised
  limits.acceptDamaged = size % 2 == 1;
  const ImageFile file(data, size, limits);
  if (!file.isLoaded()) {
    if (file.getFailure().empty()) std::abort();  // a refusal always says why
    return 0;
  }
  if (file.getWidth() <= 0 || file.getHeight() <= 0 ||
      static_cast<double>(file.getWidth()) * file.getHeight() > 0.25e6)
    std::abort();
  const RgbPlanes planes = file.readPlanes();
  const size_t area = static_cast<size_t>(file.getWidth()) * static_cast<size_t>(file.getHeight());
  if (planes.red.size() != area || planes.green.size() != area || planes.blue.size() != area) std::abort();
  for (size_t i = 0; i < area; ++i)
    if (!(planes.red[i] >= 0.0f && planes.red[i] <= 1.0f)) std::abort();
  return 0;
}
