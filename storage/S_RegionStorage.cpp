// Region storage: region list, per-pel chains and the PGM label-map writer.
#include "storage/S_RegionStorage.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "storage/PgmFormat.h"
#include "storage/Report.h"
#include "storage/T_AtomicFile.h"

E_RegionInfo::E_RegionInfo(short x, short y) : firstPelX(x), firstPelY(y) {}

void E_RegionInfo::setObjectID(short id) { objectID = id < 0 ? 0 : id; }

// The model stays CM_RGB whatever is asked for; only the colour is reset.
void E_RegionInfo::setRegionPrimaryCM(ColorModel) { red = green = blue = 0; }

void E_RegionInfo::setRegPrimaryMM(MotionModel) { motionX = motionY = 0; }

// Message texts keep their original spelling ("superted").
void E_RegionInfo::checkColorModel(bool reading) const {
  switch (primaryCM) {
    case CM_RGB: return;
    case CM_YUV:
      reportFatal(reading ? "E_RegionInfo::readRegRgb() -> yuv color model for regions is NOT superted!"
                          : "E_RegionInfo::writeRegRgb() -> yuv color model for regions is NOT superted!");
    case CM_HSV:
      reportFatal(reading ? "E_RegionInfo::readRegRgb() -> hsv color model for regions is NOT superted!"
                          : "E_RegionInfo::writeRegRgb() -> hsv color model for regions is NOT superted!");
    default:
      reportFatal(reading ? "E_RegionInfo::readRegRgb() -> region primary color model has NOT been specified!"
                          : "E_RegionInfo::writeRegRgb() -> region primary color model has NOT been specified!");
  }
}

// Reads and writes share the read texts.
void E_RegionInfo::checkMotionModel() const {
  if (primaryMM == MM_MV2) return;
  if (primaryMM == MM_MV8)
    reportFatal("E_RegionInfo::readRegMV(...) -> conversion between MV2 and MV8 is NOT suported!");
  reportFatal("E_RegionInfo::readRegMV(...) -> region primary motion model has NOT been specified!");
}

void E_RegionInfo::readRegRgb(E_Rgb* color) const { readRegRgb(&color->r, &color->g, &color->b); }

void E_RegionInfo::readRegRgb(unsigned char* r, unsigned char* g, unsigned char* b) const {
  checkColorModel(true);
  *r = red;
  *g = green;
  *b = blue;
}

void E_RegionInfo::writeRegRgb(const E_Rgb* color) { writeRegRgb(color->r, color->g, color->b); }

void E_RegionInfo::writeRegRgb(unsigned char r, unsigned char g, unsigned char b) {
  checkColorModel(false);
  red = r;
  green = g;
  blue = b;
}

void E_RegionInfo::readRegMV(E_MV2* motion) const { readRegMV(&motion->mvx, &motion->mvy); }

void E_RegionInfo::readRegMV(short* x, short* y) const {
  checkMotionModel();
  *x = motionX;
  *y = motionY;
}

void E_RegionInfo::writeRegMV(const E_MV2* motion) { writeRegMV(motion->mvx, motion->mvy); }

void E_RegionInfo::writeRegMV(short x, short y) {
  checkMotionModel();
  motionX = x;
  motionY = y;
}

S_RegionStorage::S_RegionStorage(short width, short height) { allocateStorage(width, height); }

S_RegionStorage::~S_RegionStorage() { deallocateStorage(); }

// A negative size cannot be allocated and is refused like a failed allocation.
void S_RegionStorage::allocateStorage(short width, short height) {
  static const char* const kNoMemory = "S_RegionStorage -> Memory allocation error!";
  deallocateStorage();
  if (width < 0 || height < 0) reportFatal(kNoMemory);
  this->width = width;
  this->height = height;
  pelMap = new (std::nothrow) E_PelConnect*[width > 0 ? width : 1];
  if (pelMap == nullptr) reportFatal(kNoMemory);
  for (short x = 0; x < width; ++x) pelMap[x] = nullptr;
  for (short x = 0; x < width; ++x) {
    pelMap[x] = new (std::nothrow) E_PelConnect[height > 0 ? height : 1];
    if (pelMap[x] == nullptr) reportFatal(kNoMemory);
  }
}

// The size is kept: only the regions and the map go. The map goes with the
// regions, so no pel is cleared one by one.
void S_RegionStorage::deallocateStorage() {
  while (regionList != nullptr) {
    E_RegionInfo* next = regionList->nextRegion;
    delete regionList;
    regionList = next;
  }
  regionNumber = 0;
  if (pelMap == nullptr) return;
  for (short x = 0; x < width; ++x) delete[] pelMap[x];
  delete[] pelMap;
  pelMap = nullptr;
}

void S_RegionStorage::setFrame(long frame) {
  this->frame = frame < 0 ? -1 : static_cast<int>(frame);
}

// Without a map there is no pel at all, so every coordinate is wrong.
int S_RegionStorage::validCoordin(short x, short y) const {
  if (pelMap == nullptr || x < 0 || x >= width || y < 0 || y >= height)
    reportFatal("S_RegionStorage -> Wrong pel coordinates!");
  return 1;
}

int S_RegionStorage::checkIfRegHasPel(E_RegionInfo* region, short x, short y) const {
  if (region == nullptr) reportFatal("S_RegionStorage -> region does not exist!");
  return pel(x, y).region == region ? 1 : 0;
}

E_RegionInfo* S_RegionStorage::getNextRegion(const E_RegionInfo* region) {
  if (region == nullptr) {
    reportWarning("S_RegionStorage::getNextRegion(...) -> The current region pointer is NULL!");
    return nullptr;
  }
  return region->nextRegion;
}

E_RegionInfo* S_RegionStorage::getPtr2PelRegion(short x, short y) {
  validCoordin(x, y);
  return pel(x, y).region;
}

const E_RegionInfo* S_RegionStorage::getCPtr2PelRegion(short x, short y) const {
  validCoordin(x, y);
  return pel(x, y).region;
}

int S_RegionStorage::getRegFirstPel(const E_RegionInfo* region, short* x, short* y) const {
  if (region == nullptr)
    reportFatal("S_RegionStorage::getFirstPelFromRegion->The region pointer is NULL!");
  *x = region->firstPelX;
  *y = region->firstPelY;
  return 1;
}

int S_RegionStorage::getNextPel(short x, short y, short* nx, short* ny) const {
  validCoordin(x, y);
  const E_PelConnect& current = pel(x, y);
  *nx = current.nextX;
  *ny = current.nextY;
  if (current.region != nullptr) return 1;
  reportWarning("S_RegionStorage -> This pel does NOT belongs to any existing regions!");
  return 0;
}

// The newest region heads the list.
E_RegionInfo* S_RegionStorage::newRegion(short x, short y) {
  if (pelMap == nullptr)
    reportFatal("S_RegionStorage::addNewRegion(..) -> The storage has NOT been allocated yet!");
  validCoordin(x, y);
  if (pel(x, y).region != nullptr)
    reportFatal("S_RegionStorage::addNewRegion(..) -> Pel already assigned to another region!");
  E_RegionInfo* region = new (std::nothrow) E_RegionInfo(x, y);
  if (region == nullptr) reportFatal("S_RegionStorage -> Memory allocation error!");
  region->nextRegion = regionList;
  if (regionList != nullptr) regionList->previousRegion = region;
  regionList = region;
  E_PelConnect& first = pel(x, y);
  first.init();
  first.region = region;
  ++regionNumber;
  return region;
}

// The pel becomes the head of the chain, so a chain runs from the newest pel
// back to the one the region was created with. Taking a pel from another
// region would break that region's chain, hence refused.
int S_RegionStorage::addPel2Region(E_RegionInfo* region, short x, short y) {
  if (region == nullptr) reportFatal("S_RegionStorage::addPel2Region(..) -> NULL region pointer!");
  validCoordin(x, y);
  if (checkIfRegHasPel(region, x, y)) {
    reportWarning("S_RegionStorage::addPel2Region(..) -> Pel has been already added to the region!");
    return 0;
  }
  E_PelConnect& added = pel(x, y);
  if (added.region != nullptr)
    reportFatal("S_RegionStorage::addPel2Region(..) -> Pel already assigned to another region!");
  added.region = region;
  added.previousX = added.previousY = -1;
  added.nextX = region->firstPelX;
  added.nextY = region->firstPelY;
  E_PelConnect& oldFirst = pel(region->firstPelX, region->firstPelY);
  oldFirst.previousX = x;
  oldFirst.previousY = y;
  region->firstPelX = x;
  region->firstPelY = y;
  ++region->numberOfPels;
  return 1;
}

// When the caller passes the list head itself it sees the next region afterwards;
// any other caller's pointer is set to null.
void S_RegionStorage::removeRegion(E_RegionInfo*& region) {
  if (region == nullptr) {
    reportWarning("S_RegionStorage::removeRegion(...) -> region does not exist!");
    return;
  }
  E_RegionInfo* doomed = region;
  for (short x = doomed->firstPelX, y = doomed->firstPelY; x != -1 && y != -1;) {
    E_PelConnect& current = pel(x, y);
    x = current.nextX;
    y = current.nextY;
    current.init();
  }
  if (doomed == regionList) {
    regionList = doomed->nextRegion;
    if (regionList != nullptr) regionList->previousRegion = nullptr;
    if (&region != &regionList) region = nullptr;
  } else {
    doomed->previousRegion->nextRegion = doomed->nextRegion;
    if (doomed->nextRegion != nullptr) doomed->nextRegion->previousRegion = doomed->previousRegion;
    region = nullptr;
  }
  delete doomed;
  --regionNumber;
}

void S_RegionStorage::removeAllRegions() {
  while (regionList != nullptr) removeRegion(regionList);
  regionNumber = 0;
}

void S_RegionStorage::removePelFromRegion(short x, short y) {
  validCoordin(x, y);
  E_PelConnect& removed = pel(x, y);
  E_RegionInfo* region = removed.region;
  if (region == nullptr) {
    reportWarning("S_RegionStorage::removePelFromRegion() -> Pel has NOT been assigned to any region!");
    return;
  }
  if (removed.previousX == -1 || removed.previousY == -1) {
    region->firstPelX = removed.nextX;
    region->firstPelY = removed.nextY;
  } else {
    E_PelConnect& previous = pel(removed.previousX, removed.previousY);
    previous.nextX = removed.nextX;
    previous.nextY = removed.nextY;
  }
  if (removed.nextX != -1 && removed.nextY != -1) {
    E_PelConnect& next = pel(removed.nextX, removed.nextY);
    next.previousX = removed.previousX;
    next.previousY = removed.previousY;
  }
  removed.init();
  if (region->numberOfPels < 2)
    removeRegion(region);
  else
    --region->numberOfPels;
}

namespace {

// File errors of the label map go to standard output and end the run with status 1.
constexpr const char* kCloseFailure = "failure in closing file %s";

}  // namespace

bool S_RegionStorage::hasFreePel() const {
  for (short x = 0; x < width; ++x)
    for (short y = 0; y < height; ++y)
      if (pel(x, y).region == nullptr) return true;
  return false;
}

// Refuses (warning, returns 0, no file) a storage without a map or with free pels:
// a label map must give every pel a label. A failed write is treated as a failed
// close, so a full disk never passes for success.
int S_RegionStorage::writeAsPGM(const char* path) const {
  if (pelMap == nullptr) {
    reportWarning("S_RegionStorage::writeAsPGM(...) -> The storage has NOT been allocated yet!");
    return 0;
  }
  if (hasFreePel()) {
    reportWarning("S_RegionStorage::writeAsPGM(...) -> Some pels do not belong to any region!");
    return 0;
  }
  const bool wide = pgm::needsWideSamples(regionNumber);
  // Written beside the target and renamed over it when complete: a failed
  // write leaves an existing map as it was.
  T_AtomicFile output(path);
  if (!output.isOpen()) pgm::failOnFile("failure in opening file %s\n", path);
  bool written = true;
  for (const char c : pgm::labelMapHeader(width, height, wide))
    written = written && std::fputc(c, output.stream()) != EOF;
  if (!written || !writeLabels(output.stream(), wide) || !output.commit()) {
    output.discard();
    pgm::failOnFile(kCloseFailure, path);
  }
  return 1;
}

// Row order, a band of rows at a time: the map is held column by column, so
// each column's share of the band is read in one run. A label that was never
// set (-1) writes as 255 or 65535.
bool S_RegionStorage::writeLabels(std::FILE* file, bool wide) const {
  constexpr int kBandRows = 32;
  const std::size_t sampleBytes = wide ? 2 : 1;
  std::vector<unsigned char> band(sampleBytes * static_cast<std::size_t>(width) * kBandRows);
  for (int top = 0; top < height; top += kBandRows) {
    const int rows = std::min(kBandRows, height - top);
    for (short x = 0; x < width; ++x)
      for (int j = 0; j < rows; ++j) {
        const auto label = static_cast<unsigned short>(pel(x, static_cast<short>(top + j)).region->objectID);
        unsigned char* sample = &band[sampleBytes * (static_cast<std::size_t>(j) * width + x)];
        sample[0] = static_cast<unsigned char>(label & 0xFFu);
        if (wide) sample[1] = static_cast<unsigned char>(label >> 8);
      }
    const std::size_t bytes = sampleBytes * static_cast<std::size_t>(width) * rows;
    if (std::fwrite(band.data(), 1, bytes, file) != bytes) return false;
  }
  return true;
}
