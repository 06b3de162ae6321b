// Tests of the region geometry measures: complexity, merged geometry, shape and border costs,
// border jaggedness, boundary strength and image-border contact.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DescriptorStates.h"

namespace {

const std::vector<std::string> kHalves(6, "RRRRGGGG");

// A red 3x3 block and a blue 2x2 block, apart, on green.
const std::vector<std::string> kApart = {
    "GGGGGGGGGGGG", "GGGGGGGGGGGG", "GGRRRGGGGGGG", "GGRRRGGGGGGG", "GGRRRGGGGGGG", "GGGGGGGGGGGG",
    "GGGGGGGGGGGG", "GGGGGGGGGGGG", "GGGGGGGGBBGG", "GGGGGGGGBBGG", "GGGGGGGGGGGG", "GGGGGGGGGGGG"};

// 70 x 56: border bands one pixel wide, so the band is exactly the outermost ring.
std::vector<std::string> bandScene(int x0, int x1, int y0, int y1) {
  std::vector<std::string> rows(56, std::string(70, 'G'));
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) rows[y][x] = 'R';
  return rows;
}

struct Geometry {
  double borderCost, shapeCost, mergedComplexity;
};

Geometry geometryOf(EngineProbe& probe, EngineProbe::RSSTRegion* a, EngineProbe::RSSTRegion* b) {
  Geometry g{};
  probe.geometricCosts(a, b, g.borderCost, g.shapeCost, g.mergedComplexity);
  return g;
}

struct Jaggedness {
  double borderCost;
  unsigned commonPixels;
  double shareA, shareB;
};

Jaggedness jaggednessOf(EngineProbe& probe, EngineProbe::RSSTRegion* a, EngineProbe::RSSTRegion* b) {
  Jaggedness j{};
  probe.computeJaggOfContours(a, b, j.borderCost, j.commonPixels, j.shareA, j.shareB);
  return j;
}

}  // namespace

TEST(ShapeComplexityTest, RatioAtOrBelowThreePointFiveReportsTheFloor) {
  PairProbe probe;
  probe.a()->pixelCount = 100;
  probe.place(0, 5, 5, 35.0f);
  EXPECT_EQ(probe.computeShapeComplexity(probe.a()), 3.5);
  probe.contours[0].reset(12, 12);
  probe.place(0, 5, 5, 30.0f);
  EXPECT_EQ(probe.computeShapeComplexity(probe.a()), 3.5);
  probe.contours[0].reset(12, 12);
  probe.place(0, 5, 5, 36.0f);
  EXPECT_DOUBLE_EQ(probe.computeShapeComplexity(probe.a()), 3.6);
}

TEST(MergedGeometryTest, PairWithoutSharedBorderCostsOneAndSumsBothContours) {
  DrawnProbe probe;
  probe.prepare(kApart, 3);
  EngineProbe::RSSTRegion* red = probe.regionAt(3, 3);
  EngineProbe::RSSTRegion* blue = probe.regionAt(8, 8);
  double common = -1, merged = -1;
  probe.geometryIfMerged(red, blue, common, merged);
  const double expectedMerged = 12 * 1.2071 / std::sqrt(13.0);  // 8 + 4 interior contour pixels
  EXPECT_EQ(common, 0.0);
  EXPECT_NEAR(merged, expectedMerged, 1e-5);
  const Geometry g = geometryOf(probe, red, blue);
  EXPECT_EQ(g.borderCost, 1.0);
  EXPECT_EQ(g.mergedComplexity, merged);
  EXPECT_NEAR(g.shapeCost, 1 - ((3.5 / expectedMerged - 0.727) / 1.45 + 0.4), 1e-6);  // both parts floored
  const Jaggedness j = jaggednessOf(probe, red, blue);
  EXPECT_EQ(j.borderCost, 1.0);
  EXPECT_EQ(j.commonPixels, 0u);
}

TEST(MergedGeometryTest, StraightSharedBorderCountsBothSidesOfEveryRow) {
  DrawnProbe probe;
  probe.prepare(kHalves, 2);
  EngineProbe::RSSTRegion* red = probe.regionAt(0, 0);
  EngineProbe::RSSTRegion* green = probe.regionAt(7, 0);
  EXPECT_EQ(jaggednessOf(probe, red, green).commonPixels, 12u);
  double common = 0, merged = 0;
  probe.geometryIfMerged(red, green, common, merged);
  EXPECT_NEAR(common, 2 + 4 * 1.2071, 1e-5);  // two ring pixels, four interior ones
  EXPECT_EQ(merged, 3.5);                     // the rest, 20 ring pixels over sqrt(48), is floored
  EXPECT_NEAR(geometryOf(probe, red, green).borderCost, 1 - (2 + 4 * 1.2071) / (12 + 4 * 1.2071), 1e-6);
}

// A has 4 pixels and one lone contour pixel of length la; B has 12 pixels, a
// long contour pixel facing A (so B is always the more complex part) and a
// lone pixel of length lr. The merged region keeps la + lr over sqrt(16).
class ShapeCostTest : public testing::Test {
 protected:
  Geometry shapeCase(float la, float lr) {
    PairProbe probe;
    probe.a()->pixelCount = 4;
    probe.b()->pixelCount = 12;
    probe.place(0, 2, 2, la);
    probe.paint(0, 7, 6);
    probe.place(1, 6, 6, 10000.0f);
    probe.place(1, 9, 9, lr);
    return geometryOf(probe, probe.a(), probe.b());
  }
};

TEST_F(ShapeCostTest, GainIsLinearBetweenTheTwoRatiosAndClampedOutside) {
  const Geometry exact = shapeCase(727, 1273);  // 363.5 / 500 = 0.727
  EXPECT_EQ(exact.mergedComplexity, 500.0);
  EXPECT_DOUBLE_EQ(exact.shapeCost, 0.6);
  EXPECT_EQ(exact.borderCost, 1.0);  // only B faces A; the shared length is the smaller side
  EXPECT_DOUBLE_EQ(shapeCase(20, 20).shapeCost, 0.41172413793103446);  // ratio 1
  EXPECT_NEAR(shapeCase(1597, 403).shapeCost, 0.0, 1e-12);           // ratio 1.597
  EXPECT_EQ(shapeCase(16, 4).shapeCost, 0.0);                          // ratio 1.6
  EXPECT_NEAR(shapeCase(147, 1853).shapeCost, 1.0, 1e-12);           // ratio 0.147
  EXPECT_EQ(shapeCase(10, 1000).shapeCost, 1.0);                       // ratio 0.0198
}

TEST_F(ShapeCostTest, BothComplexitiesAreFlooredBeforeTheRatio) {
  const Geometry floored = shapeCase(2, 2);  // A: 1, merged: 1, both become 3.5
  EXPECT_EQ(floored.mergedComplexity, 3.5);
  EXPECT_DOUBLE_EQ(floored.shapeCost, 0.41172413793103446);
}

// Along row 5: A at 3 (code 80, lone) and 4 (code 81, facing B); B at 5 (code
// 200, facing A) and 6 (code 0, lone, length 3).
TEST(BorderJaggednessTest, CodeEightyIsNotJaggedEightyOneIs) {
  PairProbe probe;
  probe.place(0, 3, 5, 2.0f, 80);
  probe.place(0, 4, 5, 2.0f, 81);
  probe.place(1, 5, 5, 1.0f, 200);
  probe.place(1, 6, 5, 3.0f, 0);
  const Jaggedness j = jaggednessOf(probe, probe.a(), probe.b());
  EXPECT_EQ(j.commonPixels, 2u);
  EXPECT_EQ(j.shareA, 0.5);              // 2 of 4
  EXPECT_EQ(j.shareB, 0.25);             // 1 of 4
  EXPECT_EQ(j.borderCost, 1 - 1.0 / 4);  // min(2, 1) over the shorter length 4
}

TEST(BorderJaggednessTest, ContourWhollyOnTheImageEdgeHasShareZero) {
  DrawnProbe probe;
  probe.prepare(std::vector<std::string>(6, "RGGGGGGG"), 2);
  const Jaggedness j = jaggednessOf(probe, probe.regionAt(0, 0), probe.regionAt(5, 3));
  ASSERT_EQ(probe.contourAt(0, 0).lengthNoIB, 0.0f);
  EXPECT_FALSE(std::isnan(j.shareA));
  EXPECT_EQ(j.shareA, 0.0);
  EXPECT_EQ(j.commonPixels, 12u);
}

// A record that dropped pixels beyond its capacity can end up storing none
// while its region still has neighbours: the shares must not become 0/0.
TEST(EmptiedContourTest, SharesOfAnEmptyStoredContourAreZeroNotNaN) {
  PairProbe probe;
  probe.place(1, 5, 5, 1.2071f, 200);
  probe.paint(0, 4, 5);
  probe.setColor(0, 50, 0, 0, 1);
  probe.setColor(1, 50, 0, 0, 1);
  ASSERT_EQ(probe.contours[0].nPixels, 0u);
  for (T_Array<double>* plane : {&probe.frame().smoothL, &probe.frame().smoothU, &probe.frame().smoothV}) plane->allocateArray(12, 12);
  const EngineProbe::PairMeasures m = probe.measurePair(probe.a(), probe.b());
  EXPECT_EQ(m.borderCost, 1.0);
  EXPECT_FALSE(std::isnan(m.combinedCost()));
  const Jaggedness j = jaggednessOf(probe, probe.a(), probe.b());
  EXPECT_EQ(j.borderCost, 1.0);
  EXPECT_EQ(probe.computeBoundaryStrength(probe.a(), probe.b()), 1.0);
}

// Halves with a flat step of 10 in L between them; single pels of the green
// column next to the border are then changed to make weak or just-strong steps.
class BoundaryStrengthTest : public testing::Test {
 protected:
  void SetUp() override {
    probe.prepare(kHalves, 2);
    for (int x = 0; x < 8; ++x)
      for (int y = 0; y < 6; ++y) setStep(x, y, x < 4 ? 50.0 : 60.0);
    red = probe.regionAt(0, 0);
    green = probe.regionAt(7, 0);
  }
  void setStep(int x, int y, double L) {
    probe.frame().smoothL.getPtr2Array()[x][y] = L;
    probe.frame().smoothU.getPtr2Array()[x][y] = 0.0;
    probe.frame().smoothV.getPtr2Array()[x][y] = 0.0;
  }
  DrawnProbe probe;
  EngineProbe::RSSTRegion* red = nullptr;
  EngineProbe::RSSTRegion* green = nullptr;
};

TEST_F(BoundaryStrengthTest, StrongStepsGiveOneAndTheRingIsIgnored) {
  EXPECT_EQ(probe.computeBoundaryStrength(red, green), 1.0);
  setStep(4, 0, 50.0);  // no step at all, but on the outermost ring
  setStep(4, 5, 50.0);
  EXPECT_EQ(probe.computeBoundaryStrength(red, green), 1.0);
  setStep(4, 2, 52.0);  // squared step exactly 4: still strong
  EXPECT_EQ(probe.computeBoundaryStrength(red, green), 1.0);
}

TEST_F(BoundaryStrengthTest, WeakPixelsReduceStrengthByTheirShareOfTheShorterContour) {
  setStep(4, 2, 51.0);  // squared step 1
  const double expected = 1 - 1.2071 / (12 + 4 * 1.2071);
  EXPECT_NEAR(probe.computeBoundaryStrength(red, green), expected, 1e-6);
  EXPECT_NEAR(probe.computeBoundaryStrength(green, red), expected, 1e-6);
}

TEST(ImageBorderContactTest, BorderAwayFromTheBandGivesNoContact) {
  DrawnProbe probe;
  probe.prepare(bandScene(30, 39, 20, 29), 2);
  ASSERT_EQ(probe.borderBandX, 1);
  ASSERT_EQ(probe.borderLimitY, 54);
  EngineProbe::RSSTRegion* square = probe.regionAt(30, 20);
  EngineProbe::RSSTRegion* field = probe.regionAt(0, 0);
  EXPECT_EQ(probe.calcNumberOfCommonPixelsIB(square, field), 0u);
  EXPECT_EQ(probe.calcNumberOfCommonPixelsIB(field, square), 0u);
  EXPECT_FALSE(probe.bImageBorderRegions(square, field));
  EXPECT_FALSE(probe.bImageBorderRegions(field, square));
  EXPECT_EQ(probe.countImageBorderPixels(square), 0);
  EXPECT_EQ(probe.countImageBorderPixels(field), 248);
}

// A 10 x 10 square on the left edge: 28 of its 36 contour pixels face the
// field, two of them in the band; its band pixels (10) are fewer than the field's.
TEST(ImageBorderContactTest, BorderReachingTheBandAddsTheSmallerBandCount) {
  DrawnProbe probe;
  probe.prepare(bandScene(0, 9, 10, 19), 2);
  EngineProbe::RSSTRegion* square = probe.regionAt(0, 10);
  EngineProbe::RSSTRegion* field = probe.regionAt(69, 0);
  ASSERT_EQ(probe.contourAt(0, 10).nPixels, 36u);
  EXPECT_EQ(probe.countImageBorderPixels(square), 10);
  EXPECT_EQ(probe.countImageBorderPixels(field), 238);
  EXPECT_EQ(probe.calcNumberOfCommonPixelsIB(square, field), 38u);
  EXPECT_EQ(probe.calcNumberOfCommonPixelsIB(field, square), 38u);
  EXPECT_TRUE(probe.bImageBorderRegions(square, field));
  EXPECT_TRUE(probe.bImageBorderRegions(field, square));
}
