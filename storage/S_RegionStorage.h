// Segmentation result: regions, a per-pel record chaining each region's pels, and the PGM label map.
#pragma once

#include <cstdio>

#include "color/ColorElements.h"
#include "color/MotionElements.h"
#include "storage/S_CImageStorage.h"
#include "veskar_export.h"

class E_RegionInfo;

// A free pel has no region and all four neighbour coordinates at -1.
class VESKAR_EXPORT E_PelConnect {
 public:
  E_PelConnect() = default;
  void init() { *this = E_PelConnect(); }

  E_RegionInfo* region = nullptr;
  short previousX = -1;
  short previousY = -1;
  short nextX = -1;
  short nextY = -1;
};

// One region. Its colour and motion models are fixed at creation (RGB, MV2), so the
// model checks of the accessors guard against misuse only.
class VESKAR_EXPORT E_RegionInfo {
 public:
  E_RegionInfo(short x, short y);

  int getNumberOfPels() const { return numberOfPels; }
  short getObjectID() const { return objectID; }
  void setObjectID(short id);

  void setRegionPrimaryCM(ColorModel model);
  void setRegPrimaryMM(MotionModel model);

  void readRegRgb(E_Rgb* color) const;
  void readRegRgb(unsigned char* r, unsigned char* g, unsigned char* b) const;
  void writeRegRgb(const E_Rgb* color);
  void writeRegRgb(unsigned char r, unsigned char g, unsigned char b);
  void readRegMV(E_MV2* motion) const;
  void readRegMV(short* x, short* y) const;
  void writeRegMV(const E_MV2* motion);
  void writeRegMV(short x, short y);

 private:
  friend class S_RegionStorage;

  void checkColorModel(bool reading) const;
  void checkMotionModel() const;

  int numberOfPels = 1;
  short objectID = -1;
  ColorModel primaryCM = CM_RGB;
  MotionModel primaryMM = MM_MV2;
  unsigned char red = 0;
  unsigned char green = 0;
  unsigned char blue = 0;
  short motionX = 0;
  short motionY = 0;
  E_RegionInfo* previousRegion = nullptr;
  E_RegionInfo* nextRegion = nullptr;
  short firstPelX;
  short firstPelY;
};

class VESKAR_EXPORT S_RegionStorage {
 public:
  S_RegionStorage() = default;
  S_RegionStorage(short width, short height);
  ~S_RegionStorage();
  // One owner per map and region list.
  S_RegionStorage(const S_RegionStorage&) = delete;
  S_RegionStorage& operator=(const S_RegionStorage&) = delete;

  void allocateStorage(short width, short height);
  void deallocateStorage();
  void clearStorage() { removeAllRegions(); }
  short isEmpty() const { return pelMap == nullptr ? 1 : 0; }

  int getWidth() const { return width; }
  int getHeight() const { return height; }
  long getFrame() const { return frame; }
  void setFrame(long frame);
  int getRegionNumber() const { return regionNumber; }
  E_RegionInfo* getRegionList() { return regionList; }
  E_RegionInfo* getNextRegion(const E_RegionInfo* region);

  E_RegionInfo* getPtr2PelRegion(short x, short y);
  const E_RegionInfo* getCPtr2PelRegion(short x, short y) const;

  E_RegionInfo* newRegion(short x, short y);
  int addPel2Region(E_RegionInfo* region, short x, short y);
  void removeRegion(E_RegionInfo*& region);
  void removeAllRegions();
  void removePelFromRegion(short x, short y);

  int getRegFirstPel(const E_RegionInfo* region, short* x, short* y) const;
  int getNextPel(short x, short y, short* nx, short* ny) const;

  int writeAsPGM(const char* path) const;

 private:
  int validCoordin(short x, short y) const;
  int checkIfRegHasPel(E_RegionInfo* region, short x, short y) const;
  E_PelConnect& pel(short x, short y) const { return pelMap[x][y]; }
  bool hasFreePel() const;
  bool writeLabels(std::FILE* file, bool wide) const;

  short width = -1;
  short height = -1;
  int frame = -1;
  int regionNumber = 0;
  E_RegionInfo* regionList = nullptr;
  E_PelConnect** pelMap = nullptr;
};
