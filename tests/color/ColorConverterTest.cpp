// Colour conversions: rounding rules, worked examples, zero guards and round trips.
#include <algorithm>
#include <array>
#include <cstdlib>

#include "color/T_ColorConverter.h"
#include "support/TestSupport.h"

namespace {

using C = T_ColorConverter;
using Triple = std::array<int, 3>;

Triple yuvOf(int r, int g, int b) {
  unsigned char y, u, v;
  C::rgb2yuv(r, g, b, &y, &u, &v);
  return {y, u, v};
}

Triple rgbOfYuv(int y, int u, int v) {
  unsigned char r, g, b;
  C::yuv2rgb(y, u, v, &r, &g, &b);
  return {r, g, b};
}

Triple hsvOf(int r, int g, int b) {
  unsigned short h;
  unsigned char s, v;
  C::rgb2hsv(r, g, b, &h, &s, &v);
  return {h, s, v};
}

Triple rgbOfHsv(int h, int s, int v) {
  unsigned char r = 7, g = 7, b = 7;
  C::hsv2rgb(h, s, v, &r, &g, &b);
  return {r, g, b};
}

int largestDifference(const Triple& a, const Triple& b) {
  int d = 0;
  for (int i = 0; i < 3; ++i) d = std::max(d, std::abs(a[i] - b[i]));
  return d;
}

TEST(RoundingRulesTest, NearestRuleRoundsHalvesDownAndClamps) {
  EXPECT_EQ(C::round_double2uchar(2.5), 2);
  EXPECT_EQ(C::round_double2uchar(2.51), 3);
  EXPECT_EQ(C::round_double2uchar(-0.7), 0);
  EXPECT_EQ(C::round_double2uchar(254.5), 254);
  EXPECT_EQ(C::round_double2uchar(254.6), 255);
  EXPECT_EQ(C::round_double2uchar(300.0), 255);
}

TEST(RoundingRulesTest, IntegerRoundingTruncatesNegativesTowardZero) {
  EXPECT_EQ(C::round_double2int(2.5), 2);
  EXPECT_EQ(C::round_double2int(2.6), 3);
  EXPECT_EQ(C::round_double2int(-2.7), -2);
  EXPECT_EQ(C::round_float2int(2.5f), 2);
  EXPECT_EQ(C::round_float2int(2.75f), 3);
  EXPECT_EQ(C::round_float2int(-2.7f), -2);
}

TEST(RoundingRulesTest, FloorAndCeilStepPastWholeNumbers) {
  EXPECT_EQ(C::floor_double2int(-2.0), -3);
  EXPECT_EQ(C::floor_double2int(-2.5), -3);
  EXPECT_EQ(C::floor_double2int(2.7), 2);
  EXPECT_EQ(C::floor_double2int(0.0), 0);
  EXPECT_EQ(C::ceil_double2int(2.0), 3);
  EXPECT_EQ(C::ceil_double2int(2.1), 3);
  EXPECT_EQ(C::ceil_double2int(-2.7), -2);
  EXPECT_EQ(C::ceil_double2int(0.0), 0);
}

// range 2, exponent 2 tabulates i*i/2: exact halves show the half-up rule.
TEST(RoundingRulesTest, GammaTableRoundsHalvesUpAndTakesRangeFirst) {
  unsigned char r, g, b;
  RGBGammaCorrector(2, 2).rgbGammaCorrection(1, 3, 30, r, g, b);
  EXPECT_EQ(Triple({r, g, b}), Triple({1, 5, 255}));
  RGBGammaCorrector(255, 0.5).rgbGammaCorrection(0, 64, 255, r, g, b);
  EXPECT_EQ(Triple({r, g, b}), Triple({0, 128, 255}));  // 255 * sqrt(64 / 255) = 127.75
}

TEST(RoundingRulesTest, GammaCorrectionIsOddInX) {
  EXPECT_DOUBLE_EQ(C::gammaCorrection(4.0, 0.5), 2.0);
  EXPECT_DOUBLE_EQ(C::gammaCorrection(-4.0, 0.5), -2.0);
  EXPECT_DOUBLE_EQ(C::gammaCorrection(50.0, 0.5, 200.0), 100.0);
  EXPECT_DOUBLE_EQ(C::gammaCorrection(-50.0, 0.5, 200.0), -100.0);
}

TEST(YuvConversionTest, WorkedExamples) {
  EXPECT_EQ(yuvOf(0, 0, 0), Triple({0, 128, 128}));
  EXPECT_EQ(yuvOf(255, 255, 255), Triple({255, 128, 128}));
  EXPECT_EQ(yuvOf(255, 0, 0), Triple({76, 85, 255}));
  EXPECT_EQ(yuvOf(0, 255, 0), Triple({150, 43, 21}));
  EXPECT_EQ(yuvOf(0, 0, 255), Triple({29, 255, 107}));
  EXPECT_EQ(rgbOfYuv(128, 128, 128), Triple({128, 128, 128}));
  EXPECT_EQ(rgbOfYuv(76, 85, 255), Triple({254, 0, 0}));  // truncation does not give 255 back
  EXPECT_EQ(rgbOfYuv(0, 0, 0), Triple({0, 135, 0}));
}

TEST(YuvConversionTest, RoundTripStaysWithinThreeLevels) {
  int worst = 0;
  for (int r = 0; r < 256; r += 5)
    for (int g = 0; g < 256; g += 5)
      for (int b = 0; b < 256; b += 5) {
        const Triple yuv = yuvOf(r, g, b);
        worst = std::max(worst, largestDifference(rgbOfYuv(yuv[0], yuv[1], yuv[2]), {r, g, b}));
      }
  EXPECT_LE(worst, 3);
}

TEST(HsvConversionTest, WorkedExamples) {
  EXPECT_EQ(hsvOf(255, 0, 0), Triple({0, 255, 255}));
  EXPECT_EQ(hsvOf(0, 255, 0), Triple({120, 255, 255}));
  EXPECT_EQ(hsvOf(0, 0, 255), Triple({240, 255, 255}));
  EXPECT_EQ(hsvOf(200, 100, 50), Triple({20, 150, 200}));
  EXPECT_EQ(hsvOf(10, 20, 200), Triple({237, 190, 200}));
  EXPECT_EQ(hsvOf(100, 100, 100), Triple({0, 0, 100}));
  EXPECT_EQ(rgbOfHsv(360, 255, 255), Triple({255, 0, 0}));
  EXPECT_EQ(rgbOfHsv(300, 255, 255), Triple({255, 0, 255}));
  EXPECT_EQ(rgbOfHsv(30, 100, 200), Triple({200, 150, 100}));
}

// -30.99 truncates to -30 (hue 330), where floor rounding would give 329.
TEST(HsvConversionTest, NegativeHueTruncatesTowardZero) {
  EXPECT_EQ(hsvOf(151, 0, 78), Triple({330, 151, 151}));
  EXPECT_EQ(hsvOf(255, 0, 1), Triple({0, 255, 255}));  // -0.24 -> 0
}

TEST(HsvConversionTest, ZeroSaturationIgnoresHueAndHueAbove360WritesNothing) {
  for (int hue : {0, 45, 123, 359, 360, 1000}) EXPECT_EQ(rgbOfHsv(hue, 0, 77), Triple({77, 77, 77}));
  EXPECT_EQ(rgbOfHsv(400, 100, 200), Triple({7, 7, 7}));  // the preset outputs survive
}

TEST(HsvConversionTest, RoundTripsReturnPrimariesAndGreys) {
  for (const Triple& rgb : {Triple{255, 0, 0}, Triple{0, 255, 0}, Triple{0, 0, 255},
                            Triple{200, 100, 50}, Triple{10, 20, 200}, Triple{0, 0, 0},
                            Triple{99, 99, 99}, Triple{255, 255, 255}}) {
    const Triple hsv = hsvOf(rgb[0], rgb[1], rgb[2]);
    EXPECT_EQ(rgbOfHsv(hsv[0], hsv[1], hsv[2]), rgb);
  }
  EXPECT_EQ(rgbOfHsv(0, 255, 255), Triple({255, 0, 0}));  // (255, 0, 1) comes back without its blue
}

// Whole degrees and truncated negative hues cost at most one degree: 255 / 60 + 1 levels.
TEST(HsvConversionTest, RoundTripStaysWithinOneDegreeOfHue) {
  int worst = 0;
  for (int r = 0; r < 256; r += 5)
    for (int g = 0; g < 256; g += 5)
      for (int b = 0; b < 256; b += 5) {
        const Triple hsv = hsvOf(r, g, b);
        EXPECT_LE(hsv[0], 359);
        worst = std::max(worst, largestDifference(rgbOfHsv(hsv[0], hsv[1], hsv[2]), {r, g, b}));
      }
  EXPECT_LE(worst, 5);
}

TEST(HsvConversionTest, CompositesGoThroughEightBitRgb) {
  unsigned short h;
  unsigned char s, v, y, u, vv;
  C::yuv2hsv(76, 85, 255, &h, &s, &v);  // via (254, 0, 0)
  EXPECT_EQ(Triple({h, s, v}), Triple({0, 254, 254}));
  C::hsv2yuv(0, 255, 255, &y, &u, &vv);  // via (255, 0, 0)
  EXPECT_EQ(Triple({y, u, vv}), Triple({76, 85, 255}));
}

TEST(LuvConversionTest, ZeroLuminanceAndZeroLightnessGiveZero) {
  double L = 1, u = 1, v = 1, X = 1, Y = 1, Z = 1;
  C::xyz2luv(0.3, 0.0, 0.7, L, u, v);
  EXPECT_EQ(L, 0.0);
  EXPECT_EQ(u, 0.0);
  EXPECT_EQ(v, 0.0);
  C::luv2xyz(0.0, 12.0, -7.0, X, Y, Z);
  EXPECT_EQ(X, 0.0);
  EXPECT_EQ(Y, 0.0);
  EXPECT_EQ(Z, 0.0);
  C::rgb2luv(0, 0, 0, L, u, v);
  EXPECT_EQ(L, 0.0);
}

TEST(LuvConversionTest, WhiteHasLightness100AndNoChroma) {
  double X, Y, Z, L, u, v;
  C::rgb2xyz(255, 255, 255, X, Y, Z);
  EXPECT_NEAR(X, 0.950456, 1e-9);
  EXPECT_NEAR(Y, 1.0, 1e-9);
  EXPECT_NEAR(Z, 1.088754, 1e-9);
  C::rgb2luv(255, 255, 255, L, u, v);
  EXPECT_NEAR(L, 100.0, 1e-9);
  EXPECT_NEAR(u, 0.0, 0.001);
  EXPECT_NEAR(v, 0.0, 0.001);
}

// Mid grey: linear Y = 128/255 gives L 76.2; decoded with exponent 2.22222222
// Y = 0.2162 gives L 53.6.
TEST(LuvConversionTest, PrimeInputIsDecodedBeforeTheMatrix) {
  double L, u, v;
  C::rgb2luv(128, 128, 128, L, u, v);
  EXPECT_NEAR(L, 76.19, 0.01);
  C::rgbPrime2luv(128, 128, 128, L, u, v);
  EXPECT_NEAR(L, 53.62, 0.01);
}

TEST(LuvConversionTest, DarkColoursUseTheLinearBranchBothWays) {
  double L, u, v, X, Y, Z;
  C::xyz2luv(0.001, 0.002, 0.003, L, u, v);
  EXPECT_NEAR(L, 903.3 * 0.002, 1e-12);
  C::luv2xyz(L, u, v, X, Y, Z);
  EXPECT_NEAR(X, 0.001, 1e-12);
  EXPECT_NEAR(Y, 0.002, 1e-12);
  EXPECT_NEAR(Z, 0.003, 1e-12);
}

TEST(LuvConversionTest, OutOfGamutPrimeValuesClampAtBothEnds) {
  unsigned char r, g, b;
  C::xyz2rgbPrime(0.0, 0.0, 1.0, r, g, b);  // linear red is negative, linear blue above 1
  EXPECT_EQ(r, 0);
  EXPECT_EQ(b, 255);
}

TEST(LuvConversionTest, RoundTripsReturnEveryColourOfTheGrid) {
  int worst = 0, worstPrime = 0;
  for (int r = 0; r < 256; r += 3)
    for (int g = 0; g < 256; g += 3)
      for (int b = 0; b < 256; b += 3) {
        double L, u, v;
        unsigned char r2, g2, b2;
        C::rgb2luv(r, g, b, L, u, v);
        C::luv2rgb(L, u, v, r2, g2, b2);
        worst = std::max(worst, largestDifference({r2, g2, b2}, {r, g, b}));
        C::rgbPrime2luv(r, g, b, L, u, v);
        C::luv2rgbPrime(L, u, v, r2, g2, b2);
        worstPrime = std::max(worstPrime, largestDifference({r2, g2, b2}, {r, g, b}));
      }
  EXPECT_EQ(worst, 0);
  EXPECT_EQ(worstPrime, 0);
}

TEST(LuvConversionTest, TabulatedPrimeConversionGivesTheSameBits) {
  const RgbPrimeToLuv tabulated;
  int different = 0;
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; g += (r % 17 == 0 ? 1 : 51))
      for (int b = 0; b < 256; b += 5) {
        double L, u, v, L2, u2, v2;
        C::rgbPrime2luv(r, g, b, L, u, v);
        tabulated.convert(r, g, b, L2, u2, v2);
        different += L != L2 || u != u2 || v != v2;
      }
  EXPECT_EQ(different, 0);
}

}  // namespace
