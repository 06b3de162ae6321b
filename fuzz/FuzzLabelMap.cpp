// Fuzz target: the read-back of a label map from arbitrary file bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "app/GridLayout.h"
#include "storage/Report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/veskar-fuzz-labelmap-" + std::to_string(getpid()) + ".pgm";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  // A file that is not a label map is a reported failure, not a crash.
  veskar::FailureCatcher catcher;
  for (const bool wide : {false, true}) {
    try {
      readBackLabelMap(path.c_str(), wide);
    } catch (const veskar::Failure&) {
    }
  }
  std::remove(path.c_str());
  return 0;
}
