// Static colour conversions: 8-bit models through the shared kernels, XYZ and L*u*v* in double.
#include "color/T_ColorConverter.h"

#include <cmath>

using colorkernel::kOneOver255;

namespace {

// White point of the L*u*v* space (Yn = 1).
constexpr double kWhiteU = 0.197839;
constexpr double kWhiteV = 0.468342;
// The power-law curve of R'G'B': decoding exponent, encoding exponent.
constexpr double kPrimeDecode = 2.22222222;
constexpr double kPrimeEncode = 0.45;

void linearRgb2xyz(double r, double g, double b, double& X, double& Y, double& Z) {
  X = 0.412453 * r + 0.35758 * g + 0.180423 * b;
  Y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
  Z = 0.019334 * r + 0.119193 * g + 0.950227 * b;
}

void xyz2linearRgb(double X, double Y, double Z, double& r, double& g, double& b) {
  r = 3.2404813432 * X - 1.5371515163 * Y - 0.4985363262 * Z;
  g = -0.96925495 * X + 1.8759900015 * Y + 0.0415559266 * Z;
  b = 0.0556466391 * X - 0.2040413384 * Y + 1.0573110696 * Z;
}

}  // namespace

T_ColorConverter& T_ColorConverter::operator=(const T_ColorConverter&) { return *this; }

int T_ColorConverter::round_double2int(double x) { return colorkernel::roundHalfDown(x); }

unsigned char T_ColorConverter::round_double2uchar(double x) { return colorkernel::nearest8(x); }

int T_ColorConverter::round_float2int(float x) { return colorkernel::roundHalfDown(x); }

// A negative whole number goes one lower (-2.0 -> -3).
int T_ColorConverter::floor_double2int(double x) {
  return x >= 0 ? static_cast<int>(x) : static_cast<int>(x - 1);
}

// A positive whole number goes one higher (2.0 -> 3).
int T_ColorConverter::ceil_double2int(double x) {
  return x > 0 ? static_cast<int>(x + 1) : static_cast<int>(x);
}

void T_ColorConverter::rgb2yuv(unsigned char R, unsigned char G, unsigned char B,
                               unsigned char* Y, unsigned char* U, unsigned char* V) {
  colorkernel::rgb2yuv(R, G, B, Y, U, V);
}

void T_ColorConverter::yuv2rgb(unsigned char Y, unsigned char U, unsigned char V,
                               unsigned char* R, unsigned char* G, unsigned char* B) {
  colorkernel::yuv2rgb(Y, U, V, R, G, B);
}

void T_ColorConverter::rgb2hsv(unsigned char R, unsigned char G, unsigned char B,
                               unsigned short* H, unsigned char* S, unsigned char* V) {
  colorkernel::rgb2hsv(R, G, B, H, S, V);
}

void T_ColorConverter::hsv2rgb(unsigned short H, unsigned char S, unsigned char V,
                               unsigned char* R, unsigned char* G, unsigned char* B) {
  colorkernel::hsv2rgb(H, S, V, R, G, B);
}

void T_ColorConverter::yuv2hsv(unsigned char Y, unsigned char U, unsigned char V,
                               unsigned short* H, unsigned char* S, unsigned char* Vout) {
  colorkernel::yuv2hsv(Y, U, V, H, S, Vout);
}

void T_ColorConverter::hsv2yuv(unsigned short H, unsigned char S, unsigned char V,
                               unsigned char* Y, unsigned char* U, unsigned char* Vout) {
  colorkernel::hsv2yuv(H, S, V, Y, U, Vout);
}

// Odd symmetry keeps the sign of out-of-gamut values.
double T_ColorConverter::gammaCorrection(double x, double exponent) {
  return x >= 0 ? std::pow(x, exponent) : -std::pow(-x, exponent);
}

double T_ColorConverter::gammaCorrection(double x, double exponent, double range) {
  return x >= 0 ? range * std::pow(x / range, exponent) : -(range * std::pow(-x / range, exponent));
}

void T_ColorConverter::rgb2xyz(unsigned char R, unsigned char G, unsigned char B, double& X,
                               double& Y, double& Z) {
  linearRgb2xyz(R * kOneOver255, G * kOneOver255, B * kOneOver255, X, Y, Z);
}

void T_ColorConverter::rgbPrime2xyz(unsigned char R, unsigned char G, unsigned char B, double& X,
                                    double& Y, double& Z) {
  linearRgb2xyz(gammaCorrection(R * kOneOver255, kPrimeDecode),
                gammaCorrection(G * kOneOver255, kPrimeDecode),
                gammaCorrection(B * kOneOver255, kPrimeDecode), X, Y, Z);
}

void T_ColorConverter::xyz2rgb(double X, double Y, double Z, unsigned char& R, unsigned char& G,
                               unsigned char& B) {
  double r, g, b;
  xyz2linearRgb(X, Y, Z, r, g, b);
  R = colorkernel::halfUp8(r * 255);
  G = colorkernel::halfUp8(g * 255);
  B = colorkernel::halfUp8(b * 255);
}

// Negative linear values stay negative through the odd gamma curve and clamp to 0.
void T_ColorConverter::xyz2rgbPrime(double X, double Y, double Z, unsigned char& R,
                                    unsigned char& G, unsigned char& B) {
  double r, g, b;
  xyz2linearRgb(X, Y, Z, r, g, b);
  R = colorkernel::halfUp8(gammaCorrection(r, kPrimeEncode) * 255);
  G = colorkernel::halfUp8(gammaCorrection(g, kPrimeEncode) * 255);
  B = colorkernel::halfUp8(gammaCorrection(b, kPrimeEncode) * 255);
}

// The cube root uses the constant 0.33333333, not an exact third.
void T_ColorConverter::xyz2luv(double X, double Y, double Z, double& L, double& u, double& v) {
  if (Y == 0) {
    L = u = v = 0;
    return;
  }
  L = Y >= 0.008856 ? 116 * std::pow(Y, 0.33333333) - 16 : 903.3 * Y;
  const double d = X + (15 * Y + 3 * Z);
  u = L * (4 * X / d - kWhiteU) * 13;
  v = (9 * Y / d - kWhiteV) * L * 13;
}

// The constants are the doubles nearest 1/116, 1/903.3, 1/13 and 1/3.
void T_ColorConverter::luv2xyz(double L, double u, double v, double& X, double& Y, double& Z) {
  if (L == 0) {
    X = Y = Z = 0;
    return;
  }
  Y = L >= 8 ? std::pow((L + 16) * 0.008620689655172414, 3) : L * 0.0011070519207350825;
  const double vPrime = v * 0.07692307692307693 / L + kWhiteV;
  const double uPrime = u * 0.07692307692307693 / L + kWhiteU;
  X = Y * uPrime * 2.25 / vPrime;
  Z = ((9 / vPrime - 15) * Y - X) * 0.3333333333333333;
}

void T_ColorConverter::rgb2luv(unsigned char R, unsigned char G, unsigned char B, double& L,
                               double& u, double& v) {
  double X, Y, Z;
  rgb2xyz(R, G, B, X, Y, Z);
  xyz2luv(X, Y, Z, L, u, v);
}

void T_ColorConverter::rgbPrime2luv(unsigned char R, unsigned char G, unsigned char B, double& L,
                                    double& u, double& v) {
  double X, Y, Z;
  rgbPrime2xyz(R, G, B, X, Y, Z);
  xyz2luv(X, Y, Z, L, u, v);
}

void T_ColorConverter::luv2rgb(double L, double u, double v, unsigned char& R, unsigned char& G,
                               unsigned char& B) {
  double X, Y, Z;
  luv2xyz(L, u, v, X, Y, Z);
  xyz2rgb(X, Y, Z, R, G, B);
}

void T_ColorConverter::luv2rgbPrime(double L, double u, double v, unsigned char& R,
                                    unsigned char& G, unsigned char& B) {
  double X, Y, Z;
  luv2xyz(L, u, v, X, Y, Z);
  xyz2rgbPrime(X, Y, Z, R, G, B);
}

RGBGammaCorrector::RGBGammaCorrector(double range, double exponent) {
  for (int i = 0; i < 256; ++i)
    table[i] = colorkernel::halfUp8(T_ColorConverter::gammaCorrection(i, exponent, range));
}

void RGBGammaCorrector::rgbGammaCorrection(unsigned char R, unsigned char G, unsigned char B,
                                           unsigned char& R2, unsigned char& G2,
                                           unsigned char& B2) const {
  R2 = table[R];
  G2 = table[G];
  B2 = table[B];
}

RgbPrimeToLuv::RgbPrimeToLuv() {
  for (int i = 0; i < 256; ++i) linear[i] = T_ColorConverter::gammaCorrection(i * kOneOver255, kPrimeDecode);
}

void RgbPrimeToLuv::convert(unsigned char R, unsigned char G, unsigned char B, double& L, double& u,
                            double& v) const {
  double X, Y, Z;
  linearRgb2xyz(linear[R], linear[G], linear[B], X, Y, Z);
  T_ColorConverter::xyz2luv(X, Y, Z, L, u, v);
}
