// Per-colour conversions between the library's colour models and the three 8-bit rounding rules.
#pragma once

#include "veskar_export.h"

// The rounding rules and the 8-bit RGB/YUV/HSV formulas are inline kernels shared by
// the static routines, the colour elements and the image storages: one copy of each
// formula keeps every path bit-identical, and per-pixel conversion costs no call.
namespace colorkernel {

// Stored reciprocals: whole-image conversions multiply rather than divide.
constexpr double kOneOver60 = 0.016666666666666666;
constexpr double kOneOver255 = 0.00392156862745098;

// Truncates, then adds one only when the fraction is above one half:
// 2.5 -> 2, and a negative value keeps its truncation (-2.7 -> -2).
inline int roundHalfDown(double x) {
  const int t = static_cast<int>(x);
  return x - t > 0.5 ? t + 1 : t;
}

// nearest-8. The range tests come before the truncation so that no value
// (not even NaN) reaches an undefined conversion; results are unchanged.
inline unsigned char nearest8(double x) {
  if (!(x >= 0.0)) return 0;
  if (x >= 255.0) return 255;
  return static_cast<unsigned char>(roundHalfDown(x));
}

// truncate-8: no rounding at all.
inline unsigned char truncate8(double x) {
  if (!(x >= 0.0)) return 0;
  if (x > 255.0) return 255;
  return static_cast<unsigned char>(x);
}

// half-up-8: 2.5 -> 3.
inline unsigned char halfUp8(double x) {
  if (!(x >= 0.0)) return 0;
  if (x > 255.0) return 255;
  return static_cast<unsigned char>(x + 0.5);
}

inline void rgb2yuv(unsigned char R, unsigned char G, unsigned char B, unsigned char* Y,
                    unsigned char* U, unsigned char* V) {
  *Y = nearest8(0.587 * G + 0.299 * R + 0.114 * B);
  *U = nearest8(0.5 * B - (0.169 * R + 0.332 * G) + 128);
  *V = nearest8(0.5 * R - 0.419 * G - 0.0813 * B + 128);
}

inline void yuv2rgb(unsigned char Y, unsigned char U, unsigned char V, unsigned char* R,
                    unsigned char* G, unsigned char* B) {
  const double u = U - 128;
  const double v = V - 128;
  *R = truncate8(Y + 1.4075 * v);
  *G = truncate8(Y - 0.3455 * u - 0.7169 * v);
  *B = truncate8(Y + 1.779 * u);
}

// The hue tests run R, G, B in turn, so R wins ties with G or B and G wins ties with B.
inline void rgb2hsv(unsigned char R, unsigned char G, unsigned char B, unsigned short* H,
                    unsigned char* S, unsigned char* V) {
  int max = R > G ? R : G;
  int min = R < G ? R : G;
  if (B > max) max = B;
  if (B < min) min = B;
  const int delta = max - min;
  *S = static_cast<unsigned char>(delta);
  *V = static_cast<unsigned char>(max);
  if (delta == 0) {
    *H = 0;
    return;
  }
  double h;
  if (R == max)
    h = static_cast<double>(G - B) / delta * 60;
  else if (G == max)
    h = (static_cast<double>(B - R) / delta + 2) * 60;
  else
    h = (static_cast<double>(R - G) / delta + 4) * 60;
  int hue = roundHalfDown(h);
  if (hue < 0) hue += 360;
  *H = static_cast<unsigned short>(hue);
}

inline void storeNearest8(double r, double g, double b, unsigned char* R, unsigned char* G,
                          unsigned char* B) {
  *R = nearest8(r);
  *G = nearest8(g);
  *B = nearest8(b);
}

// S is the chroma (max - min), so the smallest component is v - s, not v * (1 - s).
// A hue above 360 gives no sector and leaves the outputs as they were.
inline void hsv2rgb(unsigned short H, unsigned char S, unsigned char V, unsigned char* R,
                    unsigned char* G, unsigned char* B) {
  if (S == 0) {
    *R = *G = *B = V;
    return;
  }
  const double e = (H == 360 ? 0 : H) * kOneOver60;
  const double v = V * kOneOver255;
  const double s = S * kOneOver255;
  const int sector = static_cast<int>(e);
  const double f = e - sector;
  const double p = (v - s) * 255;
  const double q = (v - s * f) * 255;
  const double t = (v - s * (1 - f)) * 255;
  const double w = v * 255;
  switch (sector) {
    case 0: storeNearest8(w, t, p, R, G, B); break;
    case 1: storeNearest8(q, w, p, R, G, B); break;
    case 2: storeNearest8(p, w, t, R, G, B); break;
    case 3: storeNearest8(p, q, w, R, G, B); break;
    case 4: storeNearest8(t, p, w, R, G, B); break;
    case 5: storeNearest8(w, p, q, R, G, B); break;
    default: break;
  }
}

inline void yuv2hsv(unsigned char Y, unsigned char U, unsigned char V, unsigned short* H,
                    unsigned char* S, unsigned char* Vout) {
  unsigned char r, g, b;
  yuv2rgb(Y, U, V, &r, &g, &b);
  rgb2hsv(r, g, b, H, S, Vout);
}

// A hue above 360 leaves the intermediate RGB black.
inline void hsv2yuv(unsigned short H, unsigned char S, unsigned char V, unsigned char* Y,
                    unsigned char* U, unsigned char* Vout) {
  unsigned char r = 0, g = 0, b = 0;
  hsv2rgb(H, S, V, &r, &g, &b);
  rgb2yuv(r, g, b, Y, U, Vout);
}

}  // namespace colorkernel

class VESKAR_EXPORT T_ColorConverter {
 public:
  T_ColorConverter() = default;
  T_ColorConverter(const T_ColorConverter&) = default;
  T_ColorConverter& operator=(const T_ColorConverter& other);  // stateless: does nothing

  static int round_double2int(double x);
  static unsigned char round_double2uchar(double x);
  static int round_float2int(float x);
  static int floor_double2int(double x);
  static int ceil_double2int(double x);

  static void rgb2yuv(unsigned char R, unsigned char G, unsigned char B, unsigned char* Y,
                      unsigned char* U, unsigned char* V);
  static void yuv2rgb(unsigned char Y, unsigned char U, unsigned char V, unsigned char* R,
                      unsigned char* G, unsigned char* B);
  static void rgb2hsv(unsigned char R, unsigned char G, unsigned char B, unsigned short* H,
                      unsigned char* S, unsigned char* V);
  static void hsv2rgb(unsigned short H, unsigned char S, unsigned char V, unsigned char* R,
                      unsigned char* G, unsigned char* B);
  static void yuv2hsv(unsigned char Y, unsigned char U, unsigned char V, unsigned short* H,
                      unsigned char* S, unsigned char* Vout);
  static void hsv2yuv(unsigned short H, unsigned char S, unsigned char V, unsigned char* Y,
                      unsigned char* U, unsigned char* Vout);

  static double gammaCorrection(double x, double exponent);
  static double gammaCorrection(double x, double exponent, double range);

  static void rgb2xyz(unsigned char R, unsigned char G, unsigned char B, double& X, double& Y,
                      double& Z);
  static void rgbPrime2xyz(unsigned char R, unsigned char G, unsigned char B, double& X,
                           double& Y, double& Z);
  static void xyz2rgb(double X, double Y, double Z, unsigned char& R, unsigned char& G,
                      unsigned char& B);
  static void xyz2rgbPrime(double X, double Y, double Z, unsigned char& R, unsigned char& G,
                           unsigned char& B);
  static void xyz2luv(double X, double Y, double Z, double& L, double& u, double& v);
  static void luv2xyz(double L, double u, double v, double& X, double& Y, double& Z);
  static void rgb2luv(unsigned char R, unsigned char G, unsigned char B, double& L, double& u,
                      double& v);
  static void rgbPrime2luv(unsigned char R, unsigned char G, unsigned char B, double& L,
                           double& u, double& v);
  static void luv2rgb(double L, double u, double v, unsigned char& R, unsigned char& G,
                      unsigned char& B);
  static void luv2rgbPrime(double L, double u, double v, unsigned char& R, unsigned char& G,
                           unsigned char& B);
};

// One gamma curve over 8-bit RGB, tabulated once so a pixel costs three lookups.
class VESKAR_EXPORT RGBGammaCorrector {
 public:
  RGBGammaCorrector(double range, double exponent);  // range first, unlike gammaCorrection
  void rgbGammaCorrection(unsigned char R, unsigned char G, unsigned char B, unsigned char& R2,
                          unsigned char& G2, unsigned char& B2) const;

 private:
  unsigned char table[256];
};

// rgbPrime2luv with the decoding curve tabulated: the same L*u*v* for every colour,
// without the three powers per pixel.
class VESKAR_EXPORT RgbPrimeToLuv {
 public:
  RgbPrimeToLuv();
  void convert(unsigned char R, unsigned char G, unsigned char B, double& L, double& u, double& v) const;

 private:
  double linear[256];
};
