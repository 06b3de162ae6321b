// Rewrites the golden label maps from the current engine. Run only through
// scripts/regenerate-golden-maps.sh, for an intended change of the results.
#include <cstdio>
#include <fstream>
#include <string>

#include "support/GoldenMaps.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DATA_DIR\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  for (const auto& [name, input] : kGoldenImages) {
    S_CImageStorage image;
    const std::string error = readPpm(folder + "/" + input, image);
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::vector<GoldenMap> maps;
    for (const GoldenRequest& request : kGoldenRequests) maps.push_back(segmentForGolden(image, request));
    std::ofstream(folder + "/golden/" + name + ".labels", std::ios::binary) << formatGoldenMaps(name, maps);
    std::printf("%-20s", name.c_str());
    for (const GoldenMap& map : maps) std::printf(" %4d", map.regions);
    std::printf(" regions\n");
  }
  return 0;
}
