// Colour and motion elements: worked examples and agreement with the static routines.
#include <array>

#include "color/ColorElements.h"
#include "color/MotionElements.h"
#include "support/TestSupport.h"

namespace {

using Triple = std::array<int, 3>;

Triple of(const E_Rgb& c) { return {c.r, c.g, c.b}; }
Triple of(const E_Yuv& c) { return {c.y, c.u, c.v}; }
Triple of(const E_Hsv& c) { return {c.h, c.s, c.v}; }

static_assert(sizeof(E_Rgb) == 3 && sizeof(E_Yuv) == 3, "planes hold three bytes per pixel");

TEST(ColorElementsTest, WorkedExamples) {
  const E_Rgb blue(0, 0, 255);
  const E_Hsv blueHsv(&blue);
  EXPECT_EQ(of(blueHsv), Triple({240, 255, 255}));
  E_Rgb back;
  back.convertFromHsv(&blueHsv);
  EXPECT_EQ(of(back), Triple({0, 0, 255}));

  const E_Yuv redYuv(76, 85, 255);
  EXPECT_EQ(of(E_Rgb(&redYuv)), Triple({254, 0, 0}));
  const E_Rgb red(255, 0, 0);
  EXPECT_EQ(of(E_Yuv(&red)), Triple({76, 85, 255}));

  const E_Hsv greyHsv(123, 0, 77);
  EXPECT_EQ(of(E_Rgb(&greyHsv)), Triple({77, 77, 77}));
  const E_Rgb grey(90, 90, 90);
  EXPECT_EQ(of(E_Hsv(&grey)), Triple({0, 0, 90}));
}

TEST(ColorElementsTest, ConversionFromHueAbove360LeavesTheTargetUnchanged) {
  const E_Hsv outside(400, 10, 200);
  E_Rgb target(1, 2, 3);
  target.convertFromHsv(&outside);
  EXPECT_EQ(of(target), Triple({1, 2, 3}));
  EXPECT_EQ(of(E_Hsv(1000, 5, 6)), Triple({1000, 5, 6}));  // stored as given
}

// Elements, constructed or converted in place, give the static routine's bytes.
TEST(ColorElementsTest, EveryPathAgreesWithTheStaticRoutines) {
  for (int a = 0; a < 256; a += 5)
    for (int b = 0; b < 256; b += 5)
      for (int c = 0; c < 256; c += 5) {
        const E_Rgb rgb(a, b, c);
        const E_Yuv yuv(a, b, c);
        unsigned char r, g, bl, y, u, v, s, val;
        unsigned short h;
        T_ColorConverter::rgb2yuv(a, b, c, &y, &u, &v);
        E_Yuv fromRgb;
        fromRgb.convertFromRgb(&rgb);
        ASSERT_EQ(of(E_Yuv(&rgb)), Triple({y, u, v}));
        ASSERT_EQ(of(fromRgb), Triple({y, u, v}));
        T_ColorConverter::rgb2hsv(a, b, c, &h, &s, &val);
        ASSERT_EQ(of(E_Hsv(&rgb)), Triple({h, s, val}));
        T_ColorConverter::yuv2rgb(a, b, c, &r, &g, &bl);
        ASSERT_EQ(of(E_Rgb(&yuv)), Triple({r, g, bl}));
        T_ColorConverter::yuv2hsv(a, b, c, &h, &s, &val);
        E_Hsv fromYuv;
        fromYuv.convertFromYuv(&yuv);
        ASSERT_EQ(of(E_Hsv(&yuv)), Triple({h, s, val}));
        ASSERT_EQ(of(fromYuv), Triple({h, s, val}));
      }
  for (int hue = 0; hue <= 360; ++hue)
    for (int s = 0; s < 256; s += 15)
      for (int v = 0; v < 256; v += 15) {
        const E_Hsv hsv(hue, s, v);
        unsigned char r, g, b, y, u, vv;
        T_ColorConverter::hsv2rgb(hue, s, v, &r, &g, &b);
        ASSERT_EQ(of(E_Rgb(&hsv)), Triple({r, g, b}));
        T_ColorConverter::hsv2yuv(hue, s, v, &y, &u, &vv);
        E_Yuv fromHsv;
        fromHsv.convertFromHsv(&hsv);
        ASSERT_EQ(of(E_Yuv(&hsv)), Triple({y, u, vv}));
        ASSERT_EQ(of(fromHsv), Triple({y, u, vv}));
      }
}

TEST(MotionElementsTest, ValuesKeepTheirOrderAndEightParametersAreCopied) {
  const E_MV2 vector(-3, 7);
  EXPECT_EQ(E_MV2(&vector).mvx, -3);
  EXPECT_EQ(E_MV2(&vector).mvy, 7);

  const float values[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const E_MV8 model(values);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(model.p[i], values[i]);
    EXPECT_EQ(E_MV8().p[i], 0.0f);
  }
  E_MV8 assigned;
  assigned = values + 1;
  EXPECT_EQ(assigned.p[0], 2.0f);
  EXPECT_EQ(assigned.p[7], 9.0f);
  static_assert(sizeof(E_MV8) == 8 * sizeof(float), "exactly eight parameters");
}

}  // namespace
