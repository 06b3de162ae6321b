// Fuzz target: the engine on small images built from the input bytes, with the
// result checked after every run.
//
// Bytes: width, height, margin, wanted (two bytes), floor, then RGB pixels row
// by row (repeated when the input is shorter than the image).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/M_RSST.h"
#include "storage/S_CImageStorage.h"
#include "storage/Report.h"
#include "storage/S_RegionStorage.h"

namespace {

constexpr int kHeaderBytes = 6;
constexpr int kMaxSide = 12;

[[noreturn]] void broken(const char* what) {
  std::fprintf(stderr, "engine invariant broken: %s\n", what);
  std::abort();
}

struct Frame {
  int width, height;
  unsigned margin, wanted, regionFloor;
};

Frame readFrame(const uint8_t* data) {
  Frame frame;
  frame.width = 1 + data[0] % kMaxSide;
  frame.height = 1 + data[1] % kMaxSide;
  frame.margin = data[2] % 8 < 6 ? 0 : data[2] % 4;  // mostly none, as the program uses it
  frame.wanted = static_cast<unsigned>(data[3] | (data[4] << 8)) % 2600;
  frame.regionFloor = data[5] % 3 == 0 ? 255 : (data[5] % 3 == 1 ? 0 : data[5]);
  return frame;
}

// Every pel in exactly one region, chains as long as their counts, labels 0..n-1.
void checkResult(S_RegionStorage& result, const Frame& frame) {
  const int n = result.getRegionNumber();
  if (result.getWidth() != frame.width || result.getHeight() != frame.height) broken("result size");
  std::vector<int> pelsOfLabel(static_cast<size_t>(n), 0);
  for (short y = 0; y < frame.height; ++y)
    for (short x = 0; x < frame.width; ++x) {
      const E_RegionInfo* region = result.getCPtr2PelRegion(x, y);
      if (region == nullptr) broken("free pel");
      const int label = region->getObjectID();
      if (label < 0 || label >= n) broken("label outside 0..n-1");
      ++pelsOfLabel[static_cast<size_t>(label)];
    }
  int listed = 0;
  for (E_RegionInfo* region = result.getRegionList(); region != nullptr; region = result.getNextRegion(region)) {
    ++listed;
    if (pelsOfLabel[static_cast<size_t>(region->getObjectID())] != region->getNumberOfPels())
      broken("region pel count differs from its pels in the map");
    int chain = 0;
    short x = 0, y = 0;
    result.getRegFirstPel(region, &x, &y);
    while (x != -1 && y != -1) {
      if (result.getCPtr2PelRegion(x, y) != region) broken("chain enters another region");
      if (++chain > region->getNumberOfPels()) broken("chain longer than the count");
      result.getNextPel(x, y, &x, &y);
    }
    if (chain != region->getNumberOfPels()) broken("chain shorter than the count");
  }
  if (listed != n) broken("region list length differs from the count");
  for (int count : pelsOfLabel)
    if (count == 0) broken("unused label");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const Frame frame = readFrame(data);
  const uint8_t* pixels = data + kHeaderBytes;
  const size_t pixelBytes = size - kHeaderBytes;

  S_CImageStorage image;
  image.allocateStorage(static_cast<short>(frame.width), static_cast<short>(frame.height), CM_RGB);
  size_t k = 0;
  for (short y = 0; y < frame.height; ++y)
    for (short x = 0; x < frame.width; ++x) {
      unsigned char rgb[3] = {0, 0, 0};
      for (unsigned char& c : rgb) c = pixelBytes == 0 ? 0 : pixels[k++ % pixelBytes];
      image.writePixelRgb(x, y, rgb[0], rgb[1], rgb[2]);
    }

  // A storage holding an earlier result, which must not survive.
  S_RegionStorage result;
  result.allocateStorage(3, 3);
  result.newRegion(1, 1)->setObjectID(7);
  // Warnings are kept, not printed; a fatal error throws and ends the run as a crash.
  veskar::FailureCatcher catcher;
  M_RSST engine;
  engine.processFrame(image, result, frame.wanted, frame.regionFloor, frame.margin);

  const int workWidth = frame.width - 2 * static_cast<int>(frame.margin);
  const int workHeight = frame.height - 2 * static_cast<int>(frame.margin);
  if (workWidth < 5 || workHeight < 5) {
    if (result.getRegionNumber() != 0 || result.isEmpty() != 1) broken("declined frame left regions");
    return 0;
  }
  checkResult(result, frame);
  // Below the floor nothing is forced; with floor 0 the wanted count is reached
  // whenever the working area (even sizes) has that many pixels.
  const unsigned wanted = frame.wanted < 2 ? 2 : (frame.wanted > 2048 ? 2048 : frame.wanted);
  const unsigned area = static_cast<unsigned>((workWidth & ~1) * (workHeight & ~1));
  const unsigned band = frame.margin > 0 ? 1 : 0;
  const unsigned regions = static_cast<unsigned>(result.getRegionNumber());
  if (frame.regionFloor == 0 && area >= wanted && regions != wanted + band) broken("forced count not reached");
  if (regions > band + area) broken("more regions than working pixels");
  return 0;
}
