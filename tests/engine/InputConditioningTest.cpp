// Tests of input conditioning: the working area read into L*u*v* planes and the two blur passes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

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

// Colours drawn from a pool of a few thousand, so that pixels both repeat
// colours seen shortly before and evict them; every pixel must still get its own.
TEST_F(WorkingAreaTest, RepeatedAndEvictedColoursConvertAsTheirOwn) {
  for (ColorModel model : {CM_RGB, CM_YUV}) {
    std::vector<E_Rgb> pool;
    uint32_t state = 12345;
    for (int i = 0; i < 3000; ++i) {
      state = state * 1664525u + 1013904223u;
      pool.emplace_back(state >> 24, (state >> 16) & 0xFF, (state >> 8) & 0xFF);
    }
    S_CImageStorage picture(160, 120, model);
    for (short x = 0; x < 160; ++x)
      for (short y = 0; y < 120; ++y) {
        state = state * 1664525u + 1013904223u;
        picture.writePixelRgb(x, y, &pool[(state >> 8) % pool.size()]);
      }
    EngineProbe converted;
    converted.convertInput2LUV(&picture, 1);
    int mismatches = 0;
    for (int x = 0; x < converted.width; ++x)
      for (int y = 0; y < converted.height; ++y) {
        unsigned char r, g, b;
        picture.readPixelRgb(static_cast<short>(x + 1), static_cast<short>(y + 1), &r, &g, &b);
        double L, u, v;
        T_ColorConverter::rgbPrime2luv(r, g, b, L, u, v);
        mismatches += converted.frame().smoothL.getPtr2Array()[x][y] != L || converted.frame().smoothU.getPtr2Array()[x][y] != u ||
                      converted.frame().smoothV.getPtr2Array()[x][y] != v;
      }
    EXPECT_EQ(mismatches, 0) << "model " << model;
  }
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

// The nine terms of every pixel, clamped at the borders and added i outer,
// j inner from 0, on planes of random values and of the smallest sizes.
TEST_F(BlurTest, EveryPixelIsTheLiteralSumToTheBit) {
  for (const auto& [width, height] : {std::pair{1, 1}, {2, 3}, {3, 2}, {1, 5}, {5, 1}, {7, 5}, {16, 9}}) {
    allocatePlanes(width, height, 0.0, 0.0, 0.0);
    std::vector<std::vector<double>> before(width, std::vector<double>(height));
    uint32_t state = 777;
    for (int x = 0; x < width; ++x)
      for (int y = 0; y < height; ++y) {
        state = state * 1664525u + 1013904223u;
        before[x][y] = (state >> 8) / 65536.0 - 128.0;
        engine.frame().smoothV.getPtr2Array()[x][y] = before[x][y];
      }
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<std::vector<double>> after(width, std::vector<double>(height));
      for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y) {
          double sum = 0;
          for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
              sum += before[std::clamp(x + i - 1, 0, width - 1)][std::clamp(y + j - 1, 0, height - 1)] * kernel(i, j);
          after[x][y] = sum;
        }
      before = after;
    }
    engine.gaussianBlur();
    int different = 0;
    for (int x = 0; x < width; ++x)
      for (int y = 0; y < height; ++y) different += engine.frame().smoothV.getPtr2Array()[x][y] != before[x][y];
    EXPECT_EQ(different, 0) << width << " x " << height;
    engine.frame().smoothL.deallocateArray();
    engine.frame().smoothU.deallocateArray();
    engine.frame().smoothV.deallocateArray();
  }
}
