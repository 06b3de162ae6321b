// Colour image storage: missing-model messages, cross-model pixels, copyFrom and frame rules.
#include <array>

#include "storage/S_CImageStorage.h"
#include "support/TestSupport.h"

namespace {

using Triple = std::array<int, 3>;

const char* const kWriteNoModel = "S_ColorImage -> primary color plane has NOT been specified!";
const char* const kGetOutside = "T_Array::getPtr2Element( short int x, short int y ), Wrong pixel coordinates!";
const char* const kReadOutside = "T_Array::getCPtr2Element( short int x, short int y ) const, Wrong pixel coordinates!";

Triple rgbAt(const S_CImageStorage& image, short x, short y) {
  E_Rgb c;
  image.readPixelRgb(x, y, &c);
  return {c.r, c.g, c.b};
}

Triple yuvAt(const S_CImageStorage& image, short x, short y) {
  unsigned char Y, U, V;
  image.readPixelYuv(x, y, &Y, &U, &V);
  return {Y, U, V};
}

Triple hsvAt(const S_CImageStorage& image, short x, short y) {
  E_Hsv c;
  image.readPixelHsv(x, y, &c);
  return {c.h, c.s, c.v};
}

TEST(CImageStorageTest, NewStorageIsEmptyAndEveryPixelOperationNamesTheMissingModel) {
  S_CImageStorage image;
  EXPECT_EQ(image.isEmpty(), 1);
  EXPECT_EQ(image.getWidth(), -1);
  EXPECT_EQ(image.getHeight(), -1);
  EXPECT_EQ(image.getFrame(), -1);
  E_Rgb rgb;
  E_Hsv hsv;
  unsigned char a, b, c;
  EXPECT_FATAL(image.writePixelRgb(0, 0, &rgb), kWriteNoModel);
  EXPECT_FATAL(image.writePixelYuv(0, 0, 1, 2, 3), kWriteNoModel);
  EXPECT_FATAL(image.writePixelHsv(0, 0, &hsv), kWriteNoModel);
  EXPECT_FATAL(image.readPixelRgb(0, 0, &rgb),
               "S_CImageStorage::readPixelRgb(...) -> primary color model has NOT been specified!");
  EXPECT_FATAL(image.readPixelYuv(0, 0, &a, &b, &c),
               "S_CImageStorage::readPixelYuv(...) -> primary color model has NOT been specified!");
  EXPECT_FATAL(image.readPixelHsv(0, 0, &hsv),
               "S_CImageStorage::readPixelHsv(...) -> primary color model has NOT been specified!");
  EXPECT_FATAL(image.allocateStorage(2, 2, CM_NONE),
               "S_CImageStorage::allocateStorage() -> primary color has NOT been specified!");
}

TEST(CImageStorageTest, PixelsConvertOnTheWayInAndOut) {
  S_CImageStorage rgbImage(3, 2, CM_RGB);
  rgbImage.writePixelYuv(0, 0, 76, 85, 255);
  EXPECT_EQ(rgbAt(rgbImage, 0, 0), Triple({254, 0, 0}));  // yuv2rgb truncates
  rgbImage.writePixelRgb(1, 0, 255, 0, 0);
  EXPECT_EQ(yuvAt(rgbImage, 1, 0), Triple({76, 85, 255}));
  EXPECT_EQ(hsvAt(rgbImage, 1, 0), Triple({0, 255, 255}));

  S_CImageStorage hsvImage(3, 2, CM_HSV);
  hsvImage.writePixelRgb(2, 1, 100, 100, 100);
  EXPECT_EQ(hsvAt(hsvImage, 2, 1), Triple({0, 0, 100}));
  EXPECT_EQ(rgbAt(hsvImage, 2, 1), Triple({100, 100, 100}));
  hsvImage.writePixelYuv(0, 1, 76, 85, 255);  // through (254, 0, 0)
  EXPECT_EQ(hsvAt(hsvImage, 0, 1), Triple({0, 254, 254}));

  S_CImageStorage yuvImage(3, 2, CM_YUV);
  yuvImage.writePixelHsv(1, 1, 0, 255, 255);  // through (255, 0, 0)
  EXPECT_EQ(yuvAt(yuvImage, 1, 1), Triple({76, 85, 255}));
  EXPECT_EQ(hsvAt(yuvImage, 1, 1), Triple({0, 254, 254}));  // back through (254, 0, 0)
}

TEST(CImageStorageTest, ZeroSaturationWritesGreyThroughBothOverloads) {
  S_CImageStorage image(4, 1, CM_RGB);
  for (unsigned short hue : {0, 90, 200, 359}) {
    const E_Hsv grey(hue, 0, 77);
    image.writePixelHsv(0, 0, &grey);
    image.writePixelHsv(1, 0, hue, 0, 33);
    EXPECT_EQ(rgbAt(image, 0, 0), Triple({77, 77, 77}));
    EXPECT_EQ(rgbAt(image, 1, 0), Triple({33, 33, 33}));
  }
}

TEST(CImageStorageTest, CoordinatesAreCheckedAgainstTheStorageSize) {
  S_CImageStorage image(5, 4, CM_YUV);
  image.writePixelRgb(4, 3, 255, 0, 0);  // the last valid pixel
  EXPECT_EQ(yuvAt(image, 4, 3), Triple({76, 85, 255}));
  EXPECT_FATAL(image.writePixelRgb(5, 0, 1, 2, 3), kGetOutside);
  EXPECT_FATAL(image.writePixelYuv(0, -1, 1, 2, 3), kGetOutside);
  EXPECT_FATAL(rgbAt(image, 0, 4), kReadOutside);
  EXPECT_FATAL(image.getRgbArray(), "S_CImageStorage::getRgbArray() -> this color array is NOT from the primary type!");
  EXPECT_FATAL(image.allocateStorage(-2, 4, CM_RGB),
               "T_Array::allocateArray( short int width, short int heigth ) -> Allocation error! (wrong array dimensions)");
  E_Yuv** plane = image.getYuvArray();
  plane[2][1] = E_Yuv(9, 8, 7);
  EXPECT_EQ(yuvAt(image, 2, 1), Triple({9, 8, 7}));
}

TEST(CImageStorageTest, FrameIsMinusOneWhenUnknownOrReallocated) {
  S_CImageStorage image(2, 2, CM_RGB);
  image.setFrame(-5);
  EXPECT_EQ(image.getFrame(), -1);
  image.setFrame(12);
  EXPECT_EQ(image.getFrame(), 12);
  image.allocateStorage(2, 2, CM_RGB);
  EXPECT_EQ(image.getFrame(), -1);
  image.deallocateStorage();
  EXPECT_EQ(image.isEmpty(), 1);
  EXPECT_EQ(image.getPrimaryColor(), CM_NONE);
}

class CImageCopyTest : public testing::Test {
 protected:
  void SetUp() override {
    source.allocateStorage(3, 2, CM_RGB);
    for (short x = 0; x < 3; ++x)
      for (short y = 0; y < 2; ++y) source.writePixelRgb(x, y, 255 - 60 * x, 40 * y, 17);
  }
  S_CImageStorage source;
  S_CImageStorage target;
};

TEST_F(CImageCopyTest, SameModelAndSizeKeepsThePlaneAndFrame) {
  target.allocateStorage(3, 2, CM_YUV);
  target.setFrame(8);
  E_Yuv** before = target.getYuvArray();
  target.copyFrom(&source, CM_YUV);
  EXPECT_EQ(target.getFrame(), 8);
  EXPECT_EQ(target.getYuvArray(), before);
  for (short x = 0; x < 3; ++x)
    for (short y = 0; y < 2; ++y) EXPECT_EQ(yuvAt(target, x, y), yuvAt(source, x, y));
}

TEST_F(CImageCopyTest, OtherModelOrSizeReallocatesAndResetsTheFrame) {
  target.allocateStorage(3, 2, CM_RGB);
  target.setFrame(8);
  target.copyFrom(&source, CM_HSV);
  EXPECT_EQ(target.getFrame(), -1);
  EXPECT_EQ(target.getPrimaryColor(), CM_HSV);
  EXPECT_EQ(hsvAt(target, 2, 1), hsvAt(source, 2, 1));
  target.allocateStorage(4, 2, CM_RGB);
  target.setFrame(8);
  target.copyFrom(&source, CM_RGB);
  EXPECT_EQ(target.getFrame(), -1);
  EXPECT_EQ(target.getWidth(), 3);
  EXPECT_EQ(rgbAt(target, 1, 1), Triple({195, 40, 17}));
}

TEST_F(CImageCopyTest, EmptySourceOrMissingModelIsFatal) {
  const S_CImageStorage empty;
  EXPECT_FATAL(target.copyFrom(&empty, CM_RGB),
               "T_Array::allocateArray( short int width, short int heigth ) -> Allocation error! (wrong array dimensions)");
  EXPECT_FATAL(target.copyFrom(&source, CM_NONE),
               "S_CImageStorage::allocateStorage() -> primary color has NOT been specified!");
}

}  // namespace
