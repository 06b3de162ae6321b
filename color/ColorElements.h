// Colour elements: one 8-bit colour value in RGB, YUV or HSV, convertible between the three.
#pragma once

#include "color/T_ColorConverter.h"
#include "veskar_export.h"

class E_Yuv;
class E_Hsv;

// Conversions go through the kernels of T_ColorConverter.h, so an element and the
// static routine always agree to the bit.
class VESKAR_EXPORT E_Rgb {
 public:
  E_Rgb() = default;
  E_Rgb(unsigned char r, unsigned char g, unsigned char b) : r(r), g(g), b(b) {}
  E_Rgb(const E_Rgb&) = default;
  explicit E_Rgb(const E_Rgb* source) : E_Rgb(*source) {}
  explicit E_Rgb(const E_Yuv* source) { convertFromYuv(source); }
  explicit E_Rgb(const E_Hsv* source) { convertFromHsv(source); }
  E_Rgb& operator=(const E_Rgb&) = default;

  inline void convertFromYuv(const E_Yuv* source);
  inline void convertFromHsv(const E_Hsv* source);  // a hue above 360 leaves the value as it is

  unsigned char r = 0;
  unsigned char g = 0;
  unsigned char b = 0;
};

class VESKAR_EXPORT E_Yuv {
 public:
  E_Yuv() = default;
  E_Yuv(unsigned char y, unsigned char u, unsigned char v) : y(y), u(u), v(v) {}
  E_Yuv(const E_Yuv&) = default;
  explicit E_Yuv(const E_Yuv* source) : E_Yuv(*source) {}
  explicit E_Yuv(const E_Rgb* source) { convertFromRgb(source); }
  explicit E_Yuv(const E_Hsv* source) { convertFromHsv(source); }
  E_Yuv& operator=(const E_Yuv&) = default;

  inline void convertFromRgb(const E_Rgb* source);
  inline void convertFromHsv(const E_Hsv* source);

  unsigned char y = 0;
  unsigned char u = 0;
  unsigned char v = 0;
};

// h is in degrees 0-359 (360 reads as 0), s the chroma max - min, v the maximum.
class VESKAR_EXPORT E_Hsv {
 public:
  E_Hsv() = default;
  E_Hsv(unsigned short h, unsigned char s, unsigned char v) : h(h), s(s), v(v) {}
  E_Hsv(const E_Hsv&) = default;
  explicit E_Hsv(const E_Hsv* source) : E_Hsv(*source) {}
  explicit E_Hsv(const E_Rgb* source) { convertFromRgb(source); }
  explicit E_Hsv(const E_Yuv* source) { convertFromYuv(source); }
  E_Hsv& operator=(const E_Hsv&) = default;

  inline void convertFromRgb(const E_Rgb* source);
  inline void convertFromYuv(const E_Yuv* source);

  unsigned short h = 0;
  unsigned char s = 0;
  unsigned char v = 0;
};

inline void E_Rgb::convertFromYuv(const E_Yuv* source) {
  colorkernel::yuv2rgb(source->y, source->u, source->v, &r, &g, &b);
}

inline void E_Rgb::convertFromHsv(const E_Hsv* source) {
  colorkernel::hsv2rgb(source->h, source->s, source->v, &r, &g, &b);
}

inline void E_Yuv::convertFromRgb(const E_Rgb* source) {
  colorkernel::rgb2yuv(source->r, source->g, source->b, &y, &u, &v);
}

inline void E_Yuv::convertFromHsv(const E_Hsv* source) {
  colorkernel::hsv2yuv(source->h, source->s, source->v, &y, &u, &v);
}

inline void E_Hsv::convertFromRgb(const E_Rgb* source) {
  colorkernel::rgb2hsv(source->r, source->g, source->b, &h, &s, &v);
}

inline void E_Hsv::convertFromYuv(const E_Yuv* source) {
  colorkernel::yuv2hsv(source->y, source->u, source->v, &h, &s, &v);
}
