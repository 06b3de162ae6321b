// Colour image storage: allocation, release, whole-image copy and plane access.
#include "storage/S_CImageStorage.h"

S_CImageStorage::S_CImageStorage(short width, short height, ColorModel model) {
  allocateStorage(width, height, model);
}

S_CImageStorage::~S_CImageStorage() { deallocateStorage(); }

void S_CImageStorage::allocateStorage(short width, short height, ColorModel model) {
  deallocateStorage();
  primaryColor = model;
  this->width = width;
  this->height = height;
  switch (model) {
    case CM_RGB: rgbPlane.allocateArray(width, height); break;
    case CM_YUV: yuvPlane.allocateArray(width, height); break;
    case CM_HSV: hsvPlane.allocateArray(width, height); break;
    default: reportFatal("S_CImageStorage::allocateStorage() -> primary color has NOT been specified!");
  }
}

void S_CImageStorage::deallocateStorage() {
  rgbPlane.deallocateArray();
  yuvPlane.deallocateArray();
  hsvPlane.deallocateArray();
  primaryColor = CM_NONE;
  width = height = -1;
  frame = -1;
}

// A plane of the wanted model and size is reused, and keeps its frame number.
void S_CImageStorage::copyFrom(const S_CImageStorage* source, ColorModel model) {
  if (!holdsPlane(model, source->width, source->height))
    allocateStorage(source->width, source->height, model);
  switch (model) {
    case CM_RGB: copyPixels(rgbPlane, source, &S_CImageStorage::readPixelRgb); break;
    case CM_YUV: copyPixels(yuvPlane, source, &S_CImageStorage::readPixelYuv); break;
    case CM_HSV: copyPixels(hsvPlane, source, &S_CImageStorage::readPixelHsv); break;
    default: break;  // allocateStorage has refused the model already
  }
}

bool S_CImageStorage::holdsPlane(ColorModel model, short width, short height) const {
  return primaryColor == model && isEmpty() == 0 && this->width == width &&
         this->height == height;
}

// The source's read converts each pixel to the target model; a source without a
// model fails there with the read message of that target model.
template <class E>
void S_CImageStorage::copyPixels(T_Array<E>& plane, const S_CImageStorage* source,
                                 void (S_CImageStorage::*read)(short, short, E*) const) {
  for (short x = 0; x < width; ++x)
    for (short y = 0; y < height; ++y) {
      E pixel;
      (source->*read)(x, y, &pixel);
      plane.writeElement(x, y, pixel);
    }
}

void S_CImageStorage::setFrame(long frame) {
  this->frame = frame < 0 ? -1 : static_cast<int>(frame);
}

E_Rgb** S_CImageStorage::getRgbArray() {
  if (primaryColor != CM_RGB || !rgbPlane.isAllocated())
    reportFatal("S_CImageStorage::getRgbArray() -> this color array is NOT from the primary type!");
  return rgbPlane.getPtr2Array();
}

E_Yuv** S_CImageStorage::getYuvArray() {
  if (primaryColor != CM_YUV || !yuvPlane.isAllocated())
    reportFatal("S_CImageStorage::getYuvArray() -> this color array is NOT from the primary type!");
  return yuvPlane.getPtr2Array();
}

E_Hsv** S_CImageStorage::getHsvArray() {
  if (primaryColor != CM_HSV || !hsvPlane.isAllocated())
    reportFatal("S_CImageStorage::getHsvArray() -> this color array is NOT from the primary type!");
  return hsvPlane.getPtr2Array();
}
