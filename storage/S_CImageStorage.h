// Colour image held in one plane of its primary colour model; pixels convert on the way in and out.
#pragma once

#include "color/ColorElements.h"
#include "storage/Report.h"
#include "storage/T_Array.h"
#include "veskar_export.h"

// Any other value behaves like CM_NONE.
enum ColorModel { CM_NONE = 0, CM_RGB = 1, CM_YUV = 2, CM_HSV = 3 };

class VESKAR_EXPORT S_CImageStorage {
 public:
  S_CImageStorage() = default;
  S_CImageStorage(short width, short height, ColorModel model);
  ~S_CImageStorage();
  // One owner per plane: whole-image copies go through copyFrom.
  S_CImageStorage(const S_CImageStorage&) = delete;
  S_CImageStorage& operator=(const S_CImageStorage&) = delete;

  void allocateStorage(short width, short height, ColorModel model);
  void deallocateStorage();
  void copyFrom(const S_CImageStorage* source, ColorModel model);

  short getWidth() const { return width; }
  short getHeight() const { return height; }
  long getFrame() const { return frame; }
  void setFrame(long frame);
  ColorModel getPrimaryColor() const { return primaryColor; }
  inline short isEmpty() const;

  E_Rgb** getRgbArray();
  E_Yuv** getYuvArray();
  E_Hsv** getHsvArray();

  inline void writePixelRgb(short x, short y, const E_Rgb* color);
  inline void writePixelRgb(short x, short y, unsigned char r, unsigned char g, unsigned char b);
  inline void writePixelYuv(short x, short y, const E_Yuv* color);
  inline void writePixelYuv(short x, short y, unsigned char Y, unsigned char U, unsigned char V);
  inline void writePixelHsv(short x, short y, const E_Hsv* color);
  inline void writePixelHsv(short x, short y, unsigned short h, unsigned char s, unsigned char v);

  inline void readPixelRgb(short x, short y, E_Rgb* color) const;
  inline void readPixelRgb(short x, short y, unsigned char* r, unsigned char* g,
                           unsigned char* b) const;
  inline void readPixelYuv(short x, short y, E_Yuv* color) const;
  inline void readPixelYuv(short x, short y, unsigned char* Y, unsigned char* U,
                           unsigned char* V) const;
  inline void readPixelHsv(short x, short y, E_Hsv* color) const;
  inline void readPixelHsv(short x, short y, unsigned short* h, unsigned char* s,
                           unsigned char* v) const;

 private:
  static constexpr const char* kWriteWithoutModel =
      "S_ColorImage -> primary color plane has NOT been specified!";

  bool holdsPlane(ColorModel model, short width, short height) const;
  template <class E>
  void copyPixels(T_Array<E>& plane, const S_CImageStorage* source,
                  void (S_CImageStorage::*read)(short, short, E*) const);

  short width = -1;
  short height = -1;
  int frame = -1;
  ColorModel primaryColor = CM_NONE;
  T_Array<E_Rgb> rgbPlane;
  T_Array<E_Yuv> yuvPlane;
  T_Array<E_Hsv> hsvPlane;
};

inline short S_CImageStorage::isEmpty() const {
  switch (primaryColor) {
    case CM_RGB: return rgbPlane.isAllocated() ? 0 : 1;
    case CM_YUV: return yuvPlane.isAllocated() ? 0 : 1;
    case CM_HSV: return hsvPlane.isAllocated() ? 0 : 1;
    default: return 1;
  }
}

// Every pixel operation tests the model first; the plane's element access then
// reports a missing plane before bad coordinates.

inline void S_CImageStorage::writePixelRgb(short x, short y, unsigned char r, unsigned char g,
                                           unsigned char b) {
  switch (primaryColor) {
    case CM_RGB: *rgbPlane.getPtr2Element(x, y) = E_Rgb(r, g, b); return;
    case CM_YUV: {
      E_Yuv* pixel = yuvPlane.getPtr2Element(x, y);
      colorkernel::rgb2yuv(r, g, b, &pixel->y, &pixel->u, &pixel->v);
      return;
    }
    case CM_HSV: {
      E_Hsv* pixel = hsvPlane.getPtr2Element(x, y);
      colorkernel::rgb2hsv(r, g, b, &pixel->h, &pixel->s, &pixel->v);
      return;
    }
    default: reportFatal(kWriteWithoutModel);
  }
}

inline void S_CImageStorage::writePixelYuv(short x, short y, unsigned char Y, unsigned char U,
                                           unsigned char V) {
  switch (primaryColor) {
    case CM_RGB: {
      E_Rgb* pixel = rgbPlane.getPtr2Element(x, y);
      colorkernel::yuv2rgb(Y, U, V, &pixel->r, &pixel->g, &pixel->b);
      return;
    }
    case CM_YUV: *yuvPlane.getPtr2Element(x, y) = E_Yuv(Y, U, V); return;
    case CM_HSV: {
      E_Hsv* pixel = hsvPlane.getPtr2Element(x, y);
      colorkernel::yuv2hsv(Y, U, V, &pixel->h, &pixel->s, &pixel->v);
      return;
    }
    default: reportFatal(kWriteWithoutModel);
  }
}

inline void S_CImageStorage::writePixelHsv(short x, short y, unsigned short h, unsigned char s,
                                           unsigned char v) {
  switch (primaryColor) {
    case CM_RGB: {
      E_Rgb* pixel = rgbPlane.getPtr2Element(x, y);
      colorkernel::hsv2rgb(h, s, v, &pixel->r, &pixel->g, &pixel->b);
      return;
    }
    case CM_YUV: {
      E_Yuv* pixel = yuvPlane.getPtr2Element(x, y);
      colorkernel::hsv2yuv(h, s, v, &pixel->y, &pixel->u, &pixel->v);
      return;
    }
    case CM_HSV: *hsvPlane.getPtr2Element(x, y) = E_Hsv(h, s, v); return;
    default: reportFatal(kWriteWithoutModel);
  }
}

inline void S_CImageStorage::readPixelRgb(short x, short y, unsigned char* r, unsigned char* g,
                                          unsigned char* b) const {
  switch (primaryColor) {
    case CM_RGB: {
      const E_Rgb* pixel = rgbPlane.getCPtr2Element(x, y);
      *r = pixel->r;
      *g = pixel->g;
      *b = pixel->b;
      return;
    }
    case CM_YUV: {
      const E_Yuv* pixel = yuvPlane.getCPtr2Element(x, y);
      colorkernel::yuv2rgb(pixel->y, pixel->u, pixel->v, r, g, b);
      return;
    }
    case CM_HSV: {
      const E_Hsv* pixel = hsvPlane.getCPtr2Element(x, y);
      colorkernel::hsv2rgb(pixel->h, pixel->s, pixel->v, r, g, b);
      return;
    }
    default: reportFatal("S_CImageStorage::readPixelRgb(...) -> primary color model has NOT been specified!");
  }
}

inline void S_CImageStorage::readPixelYuv(short x, short y, unsigned char* Y, unsigned char* U,
                                          unsigned char* V) const {
  switch (primaryColor) {
    case CM_RGB: {
      const E_Rgb* pixel = rgbPlane.getCPtr2Element(x, y);
      colorkernel::rgb2yuv(pixel->r, pixel->g, pixel->b, Y, U, V);
      return;
    }
    case CM_YUV: {
      const E_Yuv* pixel = yuvPlane.getCPtr2Element(x, y);
      *Y = pixel->y;
      *U = pixel->u;
      *V = pixel->v;
      return;
    }
    case CM_HSV: {
      const E_Hsv* pixel = hsvPlane.getCPtr2Element(x, y);
      colorkernel::hsv2yuv(pixel->h, pixel->s, pixel->v, Y, U, V);
      return;
    }
    default: reportFatal("S_CImageStorage::readPixelYuv(...) -> primary color model has NOT been specified!");
  }
}

inline void S_CImageStorage::readPixelHsv(short x, short y, unsigned short* h, unsigned char* s,
                                          unsigned char* v) const {
  switch (primaryColor) {
    case CM_RGB: {
      const E_Rgb* pixel = rgbPlane.getCPtr2Element(x, y);
      colorkernel::rgb2hsv(pixel->r, pixel->g, pixel->b, h, s, v);
      return;
    }
    case CM_YUV: {
      const E_Yuv* pixel = yuvPlane.getCPtr2Element(x, y);
      colorkernel::yuv2hsv(pixel->y, pixel->u, pixel->v, h, s, v);
      return;
    }
    case CM_HSV: {
      const E_Hsv* pixel = hsvPlane.getCPtr2Element(x, y);
      *h = pixel->h;
      *s = pixel->s;
      *v = pixel->v;
      return;
    }
    default: reportFatal("S_CImageStorage::readPixelHsv(...) -> primary color model has NOT been specified!");
  }
}

inline void S_CImageStorage::writePixelRgb(short x, short y, const E_Rgb* color) {
  writePixelRgb(x, y, color->r, color->g, color->b);
}

inline void S_CImageStorage::writePixelYuv(short x, short y, const E_Yuv* color) {
  writePixelYuv(x, y, color->y, color->u, color->v);
}

inline void S_CImageStorage::writePixelHsv(short x, short y, const E_Hsv* color) {
  writePixelHsv(x, y, color->h, color->s, color->v);
}

inline void S_CImageStorage::readPixelRgb(short x, short y, E_Rgb* color) const {
  readPixelRgb(x, y, &color->r, &color->g, &color->b);
}

inline void S_CImageStorage::readPixelYuv(short x, short y, E_Yuv* color) const {
  readPixelYuv(x, y, &color->y, &color->u, &color->v);
}

inline void S_CImageStorage::readPixelHsv(short x, short y, E_Hsv* color) const {
  readPixelHsv(x, y, &color->h, &color->s, &color->v);
}
