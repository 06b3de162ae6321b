// Whole-frame segmentation of synthetic scenes whose right answer is plain to see.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "EngineProbe.h"
#include "EngineSteps.h"
#include "support/ImageDrawing.h"

namespace {

// Wanted counts from 256 up stop the engine after its first stage: the later
// stages end as soon as the wanted count is reached.
const unsigned kFirstStageOnly = 256;

int colourKey(S_CImageStorage& image, int x, int y) {
  unsigned char r = 0, g = 0, b = 0;
  image.readPixelRgb(static_cast<short>(x), static_cast<short>(y), &r, &g, &b);
  return r << 16 | g << 8 | b;
}

double distanceFromCentre(int x, int y, double centre) { return std::hypot(x - centre, y - centre); }

}  // namespace

class SceneTest : public testing::Test {
 protected:
  void segment(unsigned wanted) {
    engine.processFrame(image, result, wanted, 0, 0);
    labels = labelsOf(result);
  }
  // Labels 0..n-1 on every pel, each region in one connected piece.
  void expectWellFormed(int regions) {
    EXPECT_EQ(result.getRegionNumber(), regions);
    std::set<int> used(labels.begin(), labels.end());
    EXPECT_EQ(used.size(), static_cast<size_t>(regions));
    EXPECT_EQ(*used.begin(), 0);
    EXPECT_EQ(*used.rbegin(), regions - 1);
    EXPECT_EQ(splitRegions(labels, image.getWidth(), image.getHeight()), 0);
  }
  // Regions whose pels do not all share one input colour.
  int mixedRegions() {
    std::map<int, std::set<int>> coloursByLabel;
    for (int y = 0; y < image.getHeight(); ++y)
      for (int x = 0; x < image.getWidth(); ++x)
        coloursByLabel[labels[x + y * image.getWidth()]].insert(colourKey(image, x, y));
    int mixed = 0;
    for (const auto& entry : coloursByLabel) mixed += entry.second.size() > 1;
    return mixed;
  }
  int labelAt(int x, int y) const { return labels[x + y * image.getWidth()]; }
  std::vector<int> regionColour(int x, int y) {
    unsigned char r = 0, g = 0, b = 0;
    result.getPtr2PelRegion(static_cast<short>(x), static_cast<short>(y))->readRegRgb(&r, &g, &b);
    return {r, g, b};
  }

  EngineProbe engine;
  S_CImageStorage image;
  S_RegionStorage result;
  std::vector<int> labels;
};

class TwoHalvesTest : public SceneTest {
 protected:
  void SetUp() override { drawNoisyScene(image, {"RB", "RB"}, 16, 0, 1); }  // 32 x 32
};

TEST_F(TwoHalvesTest, FirstStageNeverMixesTheHalves) {
  segment(kFirstStageOnly);
  expectWellFormed(256);
  EXPECT_EQ(mixedRegions(), 0);
}

TEST_F(TwoHalvesTest, TwoWantedGivesExactlyTheHalves) {
  segment(2);
  expectWellFormed(2);
  EXPECT_EQ(mixedRegions(), 0);
  EXPECT_NE(labelAt(0, 0), labelAt(31, 31));
  const std::vector<int> left = regionColour(0, 0), right = regionColour(31, 0);
  EXPECT_GT(left[0], left[2]);  // reddish
  EXPECT_GT(right[2], right[0]);  // bluish
}

class DiscTest : public SceneTest {
 protected:
  static constexpr double kCentre = 23.5, kRadius = 10.0;
  void SetUp() override {
    fillUniform(image, 48, 48, 120, 120, 120);
    for (short y = 0; y < 48; ++y)
      for (short x = 0; x < 48; ++x)
        if (distanceFromCentre(x, y, kCentre) <= kRadius) image.writePixelRgb(x, y, 250, 220, 30);
  }
  // Labels of the pels clearly inside and clearly outside: the blur reaches two pels.
  std::set<int> labelsWhere(bool inside) {
    std::set<int> found;
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 48; ++x) {
        const double d = distanceFromCentre(x, y, kCentre);
        if (inside ? d < kRadius - 2.5 : d > kRadius + 2.5) found.insert(labelAt(x, y));
      }
    }
    return found;
  }
};

TEST_F(DiscTest, FirstStageKeepsDiscAndBackgroundApart) {
  segment(kFirstStageOnly);
  expectWellFormed(256);
  const std::set<int> inside = labelsWhere(true), outside = labelsWhere(false);
  for (int label : inside) EXPECT_EQ(outside.count(label), 0u) << label;
}

TEST_F(DiscTest, TwoWantedGivesDiscAndBackground) {
  segment(2);
  expectWellFormed(2);
  const std::set<int> inside = labelsWhere(true), outside = labelsWhere(false);
  ASSERT_EQ(inside.size(), 1u);
  ASSERT_EQ(outside.size(), 1u);
  EXPECT_NE(*inside.begin(), *outside.begin());
}

class GradientTest : public SceneTest {
 protected:
  // Red rises and blue falls from left to right; every column has its own colour.
  void drawGradient(int amplitude) {
    S_CImageStorage noise;
    drawNoisyScene(noise, {std::string(48, 'K')}, 1, amplitude, 17);
    image.allocateStorage(48, 32, CM_RGB);
    for (short y = 0; y < 32; ++y) {
      for (short x = 0; x < 48; ++x) {
        unsigned char r = 0, g = 0, b = 0;
        noise.readPixelRgb(static_cast<short>((x + 7 * y) % 48), 0, &r, &g, &b);
        image.writePixelRgb(x, y, static_cast<unsigned char>(5 * x + r), static_cast<unsigned char>(100 + g),
                            static_cast<unsigned char>(200 - 4 * x + b));
      }
    }
  }
};

TEST_F(GradientTest, CleanGradientRegionsStayInsideOneColumn) {
  drawGradient(0);
  segment(300);
  expectWellFormed(300);
  EXPECT_EQ(mixedRegions(), 0);  // one colour per column, so one column per region
}

TEST_F(GradientTest, NoisyGradientGivesWellFormedRegions) {
  drawGradient(12);
  segment(300);
  expectWellFormed(300);
  segment(5);
  expectWellFormed(5);
}

// Regression: the fast smallest-region search forced different merges from
// the literal scan once a merge had changed the minimum size.
TEST(WholeFrameSearchTest, LiteralAndFastSearchesSegmentAlike) {
  S_CImageStorage image;
  drawNoisyScene(image, {"RGB", "KWY", "CMO"}, 8, 20, 21);
  EngineProbe fast, literal;
  literal.useLiteralPaths(true);
  S_RegionStorage fastResult, literalResult;
  fast.processFrame(image, fastResult, 6, 0, 0);
  literal.processFrame(image, literalResult, 6, 0, 0);
  EXPECT_EQ(labelsOf(fastResult), labelsOf(literalResult));
  EXPECT_EQ(coloursOf(fastResult), coloursOf(literalResult));
}
