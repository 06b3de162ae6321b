// The fast mode: maps that do not depend on the thread count, well formed, with the count asked for.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/M_RSST.h"
#include "support/GoldenMaps.h"
#include "support/ImageDrawing.h"

namespace {

struct Request {
  unsigned wanted;
  unsigned regionFloor;
};
// As Dornick asks: without a count the rules decide, down to 255 at most.
const Request kNoCount{0, 255};

struct Map {
  int regions = 0;
  std::vector<int> labels;
};

Map segment(S_CImageStorage& image, Request request, bool fast, unsigned threads = 1) {
  M_RSST engine;
  engine.fastMode = fast;
  engine.threadCount = threads;
  S_RegionStorage result;
  engine.processFrame(image, result, request.wanted, request.regionFloor, 0);
  return Map{result.getRegionNumber(), labelsOf(result)};
}

void readPhoto(const std::string& name, S_CImageStorage& image) {
  ASSERT_EQ(readPpm(std::string(TEST_DATA_DIR) + "/golden/" + name + ".ppm", image), "") << name;
}

// Blocks of flat colour under noise, wide enough to span several tiles.
void drawBlocks(S_CImageStorage& image, int cell) {
  drawNoisyScene(image, {"RGBKW", "YgCMO", "BWRGK", "OMgYC"}, cell, 40, 7);
}

void drawCheckerboard(S_CImageStorage& image, int width, int height) {
  image.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  for (short y = 0; y < height; ++y)
    for (short x = 0; x < width; ++x) {
      const unsigned char v = (x + y) % 2 == 0 ? 0 : 255;
      image.writePixelRgb(x, y, v, v, v);
    }
}

// Labels 0..n-1 on every pel, each region in one 4-connected piece, and the
// count asked for (at most the floor without one).
void expectWellFormed(S_CImageStorage& image, const Map& map, Request request, const std::string& what) {
  std::set<int> used(map.labels.begin(), map.labels.end());
  ASSERT_FALSE(used.empty()) << what;
  EXPECT_EQ(*used.begin(), 0) << what;
  EXPECT_EQ(*used.rbegin(), map.regions - 1) << what;
  EXPECT_EQ(used.size(), static_cast<size_t>(map.regions)) << what;
  EXPECT_EQ(splitRegions(map.labels, image.getWidth(), image.getHeight()), 0) << what;
  if (request.wanted != 0) EXPECT_EQ(map.regions, static_cast<int>(request.wanted)) << what;
  else EXPECT_LE(map.regions, static_cast<int>(request.regionFloor)) << what;
}

}  // namespace

TEST(FastModeTest, MapDoesNotDependOnTheThreadCount) {
  S_CImageStorage photo, blocks;
  readPhoto("astronaut_256x256", photo);  // four tiles
  drawBlocks(blocks, 80);                  // 400 x 320: twelve tiles of four shapes
  for (S_CImageStorage* image : {&photo, &blocks}) {
    for (const Request request : {kNoCount, Request{40, 0}}) {
      const Map single = segment(*image, request, true, 1);
      for (unsigned threads : {2u, 4u}) {
        const Map several = segment(*image, request, true, threads);
        EXPECT_EQ(several.regions, single.regions) << threads << " threads";
        EXPECT_EQ(several.labels, single.labels) << threads << " threads, wanted " << request.wanted;
      }
    }
  }
}

TEST(FastModeTest, MapsAreWellFormedWithTheCountAskedFor) {
  S_CImageStorage hubble, rocket, checker, grey;
  readPhoto("hubble_161x121", hubble);
  readPhoto("rocket_240x161", rocket);
  drawCheckerboard(checker, 300, 200);  // single pixels: every merge moves a big region's means
  fillUniform(grey, 260, 260, 128, 128, 128);
  const std::vector<std::pair<std::string, S_CImageStorage*>> images{
      {"hubble", &hubble}, {"rocket", &rocket}, {"checkerboard", &checker}, {"grey", &grey}};
  for (const auto& [name, image] : images)
    for (const Request request : {kNoCount, Request{10, 0}, Request{40, 0}, Request{300, 0}})
      expectWellFormed(*image, segment(*image, request, true, 2), request, name + " wanted " + std::to_string(request.wanted));
}

// With no more working pixels than the first stage keeps, the tiles and their
// graph merge nothing, and what follows is the exact mode's.
TEST(FastModeTest, ImagesTheFirstStageLeavesWholeGiveTheExactMap) {
  S_CImageStorage tiny, small;
  drawImage(tiny, {"RRGGB", "RRGGB", "KKWWB", "KKWWB", "YYYYY"});  // working 4 x 4
  drawNoisyScene(small, {"RGB", "KWY"}, 8, 30, 3);                  // 24 x 16: 384 pixels
  for (const Request request : {kNoCount, Request{3, 0}}) {
    const Map exact = segment(tiny, request, false);
    const Map fast = segment(tiny, request, true, 2);
    EXPECT_EQ(fast.regions, exact.regions);
    EXPECT_EQ(fast.labels, exact.labels);
    expectWellFormed(tiny, fast, request, "5 x 5");
  }
  const Request firstStageOnly{400, 0};  // above the pixel count: nothing merges at all
  EXPECT_EQ(segment(small, firstStageOnly, true).labels, segment(small, firstStageOnly, false).labels);
}

TEST(FastModeTest, ImagesNarrowerThanATileOrEndingInANarrowOne) {
  S_CImageStorage narrow, ragged;
  drawNoisyScene(narrow, {"RG", "BK", "WY", "gC", "MO"}, 30, 40, 5);  // 60 x 150: one column of tiles
  drawNoisyScene(ragged, {"RGBKW", "YgCMO"}, 26, 40, 9);              // 130 x 52: the last tile 2 wide
  for (S_CImageStorage* image : {&narrow, &ragged}) {
    const std::string size = std::to_string(image->getWidth()) + " x " + std::to_string(image->getHeight());
    for (const Request request : {kNoCount, Request{10, 0}}) {
      const Map single = segment(*image, request, true, 1);
      expectWellFormed(*image, single, request, size);
      EXPECT_EQ(segment(*image, request, true, 3).labels, single.labels) << size;
    }
  }
}
