// Tests of input conditioning: the working area read into L*u*v* planes and the two blur passes.
#include <gtest/gtest.h>

#include "EngineProbe.h"
#include "color/T_ColorConverter.h"
#include "support/ImageDrawing.h"
#include "support/TestSupport.h"

namespace {

// A colour that differs from pixel to pixel, so a shifted read shows.
E_Rgb colourAt(int x, int y) {
  return E_Rgb(static_cast<unsigned char>(8 * x), static_cast<unsigned char>(7 * y),
               static_cast<unsigned char>(200 - 3 * x - 2 * y));
}

void drawRamp(S_CImageStorage& image, int width, int height) {
  image.allocateStorage(static_cast<short>(width), static_cast<short>(height), CM_RGB);
  for (short y = 0; y < height; ++y)
    for (short x = 0; x < width; ++x) {
      const E_Rgb c = colourAt(x, y);
      image.writePixelRgb(x, y, c.r, c.g, c.b);
    }
}

}  // namespace

class WorkingAreaTest : public testing::Test {
 protected:
  // Every working pixel must hold the L*u*v* of image pixel (margin + x, margin + y).
  void expectReadFrom(int margin) {
    int mismatches = 0;
    for (int x = 0; x < engine.width; ++x) {
      for (int y = 0; y < engine.height; ++y) {
        const E_Rgb c = colourAt(margin + x, margin + y);
        double L, u, v;
        T_ColorConverter::rgbPrime2luv(c.r, c.g, c.b, L, u, v);
        if (engine.frame().smoothL.getPtr2Array()[x][y] != L || engine.frame().smoothU.getPtr2Array()[x][y] != u ||
            engine.frame().smoothV.getPtr2Array()[x][y] != v)
          ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0);
  }

  EngineProbe engine;
  S_CImageStorage image;
};

TEST_F(WorkingAreaTest, OddSizesLoseTheLastColumnAndRow) {
  drawRamp(image, 7, 9);
  engine.convertInput2LUV(&image, 0);
  EXPECT_EQ(engine.width, 6);
  EXPECT_EQ(engine.height, 8);
  EXPECT_EQ(engine.frame().smoothL.getWidth(), 6);
  EXPECT_EQ(engine.frame().smoothV.getHeight(), 8);
  expectReadFrom(0);
}

TEST_F(WorkingAreaTest, MarginShiftsTheReadOnBothAxes) {
  drawRamp(image, 30, 30);
  engine.convertInput2LUV(&image, 2);
  EXPECT_EQ(engine.width, 26);
  EXPECT_EQ(engine.height, 26);
  expectReadFrom(2);
}

TEST_F(WorkingAreaTest, OddSizeAfterTheMarginIsEvenedToo) {
  drawRamp(image, 31, 12);
  engine.convertInput2LUV(&image, 3);
  EXPECT_EQ(engine.width, 24);  // 31 - 6 = 25
  EXPECT_EQ(engine.height, 6);
  expectReadFrom(3);
}

TEST_F(WorkingAreaTest, ConvertingTwiceWithoutReleaseIsFatal) {
  drawRamp(image, 8, 8);
  engine.convertInput2LUV(&image, 0);
  EXPECT_FATAL(engine.convertInput2LUV(&image, 0),
               "T_array::allocateArray( short int width, short int heigth ), Array already allocated!");
}

TEST_F(WorkingAreaTest, BlurWithoutPlanesIsFatal) {
  EXPECT_FATAL(engine.gaussianBlur(), "T_Array::getPtr2Array( void ), Array has NOT been allocated!");
}

class BlurTest : public testing::Test {
 protected:
  static double kernel(int i, int j) {
    static const double g[3] = {0.2236, 0.5477, 0.2236};
    return g[i] * g[j];
  }
  // One pass over a flat neighbourhood, the terms summed i outer, j inner.
  static double passOverFlat(double value) {
    double sum = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) sum += value * kernel(i, j);
    return sum;
  }
  // Weight of offset (dx, dy) in the kernel applied twice; 0 outside the 5 x 5.
  static double twoPassWeight(int dx, int dy) {
    double weight = 0;
    for (int i1 = 0; i1 < 3; ++i1)
      for (int j1 = 0; j1 < 3; ++j1)
        for (int i2 = 0; i2 < 3; ++i2)
          for (int j2 = 0; j2 < 3; ++j2)
            if (i1 + i2 - 2 == dx && j1 + j2 - 2 == dy) weight += kernel(i1, j1) * kernel(i2, j2);
    return weight;
  }
  void allocatePlanes(int width, int height, double l, double u, double v) {
    engine.width = static_cast<int16_t>(width);
    engine.height = static_cast<int16_t>(height);
    fill(engine.frame().smoothL.allocateArray(engine.width, engine.height), l);
    fill(engine.frame().smoothU.allocateArray(engine.width, engine.height), u);
    fill(engine.frame().smoothV.allocateArray(engine.width, engine.height), v);
  }
  void fill(double** plane, double value) {
    for (int x = 0; x < engine.width; ++x)
      for (int y = 0; y < engine.height; ++y) plane[x][y] = value;
  }
  int countDifferent(T_Array<double>& plane, double expected) {
    int different = 0;
    for (int x = 0; x < engine.width; ++x)
      for (int y = 0; y < engine.height; ++y) different += plane.getPtr2Array()[x][y] != expected;
    return different;
  }

  EngineProbe engine;
};

TEST_F(BlurTest, FlatPlanesShrinkByTheKernelSumSquaredEverywhere) {
  allocatePlanes(6, 4, 70.0, -35.5, 12.25);
  engine.gaussianBlur();
  // Clamping repeats the border value, so border pixels see a flat neighbourhood too.
  EXPECT_EQ(countDifferent(engine.frame().smoothL, passOverFlat(passOverFlat(70.0))), 0);
  EXPECT_EQ(countDifferent(engine.frame().smoothU, passOverFlat(passOverFlat(-35.5))), 0);
  EXPECT_EQ(countDifferent(engine.frame().smoothV, passOverFlat(passOverFlat(12.25))), 0);
  const double factor = passOverFlat(1.0);
  EXPECT_NEAR(factor, 0.98982601, 1e-12);
  EXPECT_NEAR(engine.frame().smoothL.getPtr2Array()[0][0], 70.0 * factor * factor, 1e-12);
}

TEST_F(BlurTest, SingleBrightPixelSpreadsOverFiveByFive) {
  allocatePlanes(10, 10, 0.0, 0.0, 0.0);
  engine.frame().smoothL.getPtr2Array()[4][5] = 100.0;
  engine.frame().smoothV.getPtr2Array()[5][4] = -50.0;
  engine.gaussianBlur();
  double** L = engine.frame().smoothL.getPtr2Array();
  double** V = engine.frame().smoothV.getPtr2Array();
  for (int x = 0; x < 10; ++x) {
    for (int y = 0; y < 10; ++y) {
      EXPECT_NEAR(L[x][y], 100.0 * twoPassWeight(x - 4, y - 5), 1e-12) << x << "," << y;
      EXPECT_NEAR(V[x][y], -50.0 * twoPassWeight(x - 5, y - 4), 1e-12) << x << "," << y;
    }
  }
  EXPECT_GT(L[2][3], 0.0);  // the corner of the 5 x 5 is reached
  double total = 0;
  for (int x = 0; x < 10; ++x)
    for (int y = 0; y < 10; ++y) total += L[x][y];
  EXPECT_NEAR(total, 100.0 * passOverFlat(1.0) * passOverFlat(1.0), 1e-10);
  EXPECT_EQ(countDifferent(engine.frame().smoothU, 0.0), 0);
}
