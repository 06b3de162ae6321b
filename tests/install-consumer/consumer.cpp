// A program outside the project, built against an installed Veskar: two flat
// halves segment into two regions.
#include <cstdio>

#include "engine/M_RSST.h"
#include "engine/Veskar.h"
#include "storage/S_CImageStorage.h"
#include "storage/S_RegionStorage.h"

int main() {
  const short width = 32, height = 24;
  S_CImageStorage image(width, height, CM_RGB);
  for (short y = 0; y < height; ++y)
    for (short x = 0; x < width; ++x)
      image.writePixelRgb(x, y, x < width / 2 ? 220 : 30, 90, x < width / 2 ? 40 : 200);
  S_RegionStorage regions;
  M_RSST engine;
  engine.processFrame(image, regions, 2, 0, 0);
  const int left = regions.getCPtr2PelRegion(0, 0)->getObjectID();
  const int right = regions.getCPtr2PelRegion(width - 1, height - 1)->getObjectID();
  std::printf("Veskar %s: %d regions\n", veskarVersion(), regions.getRegionNumber());
  return regions.getRegionNumber() == 2 && left != right ? 0 : 1;
}
