// Scalar image storage: conversion rules between the five pixel types, copyFrom and messages.
#include "storage/S_ImageStorage.h"
#include "support/TestSupport.h"

namespace {

const char* const kNoType = "S_ColorImage -> primary color plane has NOT been specified!";

template <class To, class From>
To roundTrip(S_ImageStorage& image, From value) {
  image.writePixelValue(0, 0, &value);
  To read;
  image.readPixelValue(0, 0, &read);
  return read;
}

TEST(ImageStorageTest, NewStorageIsEmptyAndRefusesEveryPixel) {
  S_ImageStorage image;
  EXPECT_EQ(image.isEmpty(), 1);
  EXPECT_EQ(image.getFrame(), -1);
  int value = 3;
  double real = 0;
  EXPECT_FATAL(image.writePixelValue(0, 0, &value), kNoType);
  EXPECT_FATAL(image.readPixelValue(0, 0, &real), kNoType);
  EXPECT_FATAL(image.allocateStorage(2, 2, static_cast<PrimaryType>(6)), kNoType);
}

TEST(ImageStorageTest, NarrowingWrapsAndRealsTruncateTowardZero) {
  S_ImageStorage bytes(2, 2, PT_UCHAR);
  EXPECT_EQ((roundTrip<double>(bytes, 300)), 44.0);
  EXPECT_EQ((roundTrip<double>(bytes, -1.5)), 255.0);
  EXPECT_EQ((roundTrip<int>(bytes, 300.7)), 44);
  EXPECT_EQ((roundTrip<int>(bytes, short{-1})), 255);

  S_ImageStorage shorts(2, 2, PT_SHORT);
  EXPECT_EQ((roundTrip<int>(shorts, 70000)), 4464);
  EXPECT_EQ((roundTrip<int>(shorts, short{-1})), -1);  // sign-extended on the way out
  EXPECT_EQ((roundTrip<short>(shorts, static_cast<unsigned char>(200))), 200);
  EXPECT_EQ((roundTrip<unsigned char>(shorts, short{-1})), 255);

  S_ImageStorage ints(2, 2, PT_INT);
  EXPECT_EQ((roundTrip<int>(ints, 2.9)), 2);
  EXPECT_EQ((roundTrip<int>(ints, -2.9)), -2);
  EXPECT_EQ((roundTrip<float>(ints, -2.9f)), -2.0f);
}

TEST(ImageStorageTest, FloatPlaneRoundsDoublesToTheNearestFloat) {
  S_ImageStorage floats(1, 1, PT_FLOAT);
  const double read = roundTrip<double>(floats, 0.1);
  EXPECT_EQ(read, static_cast<double>(0.1f));
  EXPECT_NE(read, 0.1);
  S_ImageStorage doubles(1, 1, PT_DOUBLE);
  EXPECT_EQ((roundTrip<double>(doubles, 0.1)), 0.1);
}

TEST(ImageStorageTest, PlaneAccessAndCoordinatesAreChecked) {
  S_ImageStorage image(3, 2, PT_DOUBLE);
  EXPECT_FATAL(image.getFloatArray(), "S_ImageStorage -> this image type has NOT been alocated!");
  double value = 1.25;
  image.writePixelValue(2, 1, &value);
  EXPECT_EQ(image.getDoubleArray()[2][1], 1.25);
  EXPECT_FATAL(image.writePixelValue(3, 0, &value),
               "T_Array::getPtr2Element( short int x, short int y ), Wrong pixel coordinates!");
  EXPECT_FATAL(image.readPixelValue(0, 2, &value),
               "T_Array::getCPtr2Element( short int x, short int y ) const, Wrong pixel coordinates!");
  image.setFrame(-7);
  EXPECT_EQ(image.getFrame(), -1);
}

TEST(ImageStorageTest, CopyFromConvertsEveryPixelAndKeepsAMatchingPlane) {
  S_ImageStorage source(2, 1, PT_DOUBLE);
  const double values[2] = {2.9, -2.9};
  source.writePixelValue(0, 0, &values[0]);
  source.writePixelValue(1, 0, &values[1]);

  S_ImageStorage target(2, 1, PT_INT);
  target.setFrame(4);
  int** plane = target.getIntArray();
  target.copyFrom(&source, PT_INT);
  EXPECT_EQ(target.getIntArray(), plane);
  EXPECT_EQ(target.getFrame(), 4);
  EXPECT_EQ(plane[0][0], 2);
  EXPECT_EQ(plane[1][0], -2);

  target.copyFrom(&source, PT_UCHAR);
  EXPECT_EQ(target.getFrame(), -1);
  EXPECT_EQ(target.getUCharArray()[1][0], 254);

  const S_ImageStorage empty;
  EXPECT_FATAL(target.copyFrom(&empty, PT_INT),
               "T_Array::allocateArray( short int width, short int heigth ) -> Allocation error! (wrong array dimensions)");
}

}  // namespace
