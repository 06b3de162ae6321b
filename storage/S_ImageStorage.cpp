// Scalar image storage: one plane of five possible pixel types, converted per pixel.
#include "storage/S_ImageStorage.h"

#include <type_traits>

namespace {

constexpr const char* kWithoutType = "S_ColorImage -> primary color plane has NOT been specified!";

// Integers wrap to the target's low-order bits; reals are truncated toward zero
// through a 64-bit integer first (300.7 -> uchar 44, -1.5 -> uchar 255).
template <class To, class From>
To convertPixel(From value) {
  if constexpr (std::is_floating_point_v<From> && std::is_integral_v<To>)
    return static_cast<To>(static_cast<long long>(value));
  else
    return static_cast<To>(value);
}

}  // namespace

S_ImageStorage::S_ImageStorage(short width, short height, PrimaryType type) {
  allocateStorage(width, height, type);
}

S_ImageStorage::~S_ImageStorage() { deallocateStorage(); }

void S_ImageStorage::allocateStorage(short width, short height, PrimaryType type) {
  deallocateStorage();
  this->width = width;
  this->height = height;
  primaryType = type;
  switch (type) {
    case PT_UCHAR: ucharPlane.allocateArray(width, height); break;
    case PT_SHORT: shortPlane.allocateArray(width, height); break;
    case PT_FLOAT: floatPlane.allocateArray(width, height); break;
    case PT_INT: intPlane.allocateArray(width, height); break;
    case PT_DOUBLE: doublePlane.allocateArray(width, height); break;
    default: reportFatal(kWithoutType);
  }
}

void S_ImageStorage::deallocateStorage() {
  ucharPlane.deallocateArray();
  shortPlane.deallocateArray();
  floatPlane.deallocateArray();
  intPlane.deallocateArray();
  doublePlane.deallocateArray();
  primaryType = PT_NONE;
  width = height = -1;
  frame = -1;
}

short S_ImageStorage::isEmpty() const {
  switch (primaryType) {
    case PT_UCHAR: return ucharPlane.isAllocated() ? 0 : 1;
    case PT_SHORT: return shortPlane.isAllocated() ? 0 : 1;
    case PT_FLOAT: return floatPlane.isAllocated() ? 0 : 1;
    case PT_INT: return intPlane.isAllocated() ? 0 : 1;
    case PT_DOUBLE: return doublePlane.isAllocated() ? 0 : 1;
    default: return 1;
  }
}

void S_ImageStorage::setFrame(long frame) {
  this->frame = frame < 0 ? -1 : static_cast<int>(frame);
}

// A plane of the wanted type and size is reused, and keeps its frame number.
void S_ImageStorage::copyFrom(const S_ImageStorage* source, PrimaryType type) {
  if (primaryType != type || isEmpty() != 0 || width != source->width || height != source->height)
    allocateStorage(source->width, source->height, type);
  switch (type) {
    case PT_UCHAR: copyPixels(getUCharArray(), source); break;
    case PT_SHORT: copyPixels(getShortArray(), source); break;
    case PT_FLOAT: copyPixels(getFloatArray(), source); break;
    case PT_INT: copyPixels(getIntArray(), source); break;
    case PT_DOUBLE: copyPixels(getDoubleArray(), source); break;
    default: break;  // allocateStorage has refused the type already
  }
}

// The source's read checks its type, plane and bounds, and converts.
template <class E>
void S_ImageStorage::copyPixels(E** table, const S_ImageStorage* source) {
  for (short x = 0; x < width; ++x)
    for (short y = 0; y < height; ++y) source->readPixelValue(x, y, &table[x][y]);
}

template <class E>
E** S_ImageStorage::planeTable(T_Array<E>& plane, PrimaryType type) {
  if (primaryType != type || !plane.isAllocated())
    reportFatal("S_ImageStorage -> this image type has NOT been alocated!");
  return plane.getPtr2Array();
}

unsigned char** S_ImageStorage::getUCharArray() { return planeTable(ucharPlane, PT_UCHAR); }
short** S_ImageStorage::getShortArray() { return planeTable(shortPlane, PT_SHORT); }
float** S_ImageStorage::getFloatArray() { return planeTable(floatPlane, PT_FLOAT); }
int** S_ImageStorage::getIntArray() { return planeTable(intPlane, PT_INT); }
double** S_ImageStorage::getDoubleArray() { return planeTable(doublePlane, PT_DOUBLE); }

template <class V>
void S_ImageStorage::readValue(short x, short y, V* value) const {
  switch (primaryType) {
    case PT_UCHAR: *value = convertPixel<V>(*ucharPlane.getCPtr2Element(x, y)); return;
    case PT_SHORT: *value = convertPixel<V>(*shortPlane.getCPtr2Element(x, y)); return;
    case PT_FLOAT: *value = convertPixel<V>(*floatPlane.getCPtr2Element(x, y)); return;
    case PT_INT: *value = convertPixel<V>(*intPlane.getCPtr2Element(x, y)); return;
    case PT_DOUBLE: *value = convertPixel<V>(*doublePlane.getCPtr2Element(x, y)); return;
    default: reportFatal(kWithoutType);
  }
}

template <class V>
void S_ImageStorage::writeValue(short x, short y, V value) {
  switch (primaryType) {
    case PT_UCHAR: *ucharPlane.getPtr2Element(x, y) = convertPixel<unsigned char>(value); return;
    case PT_SHORT: *shortPlane.getPtr2Element(x, y) = convertPixel<short>(value); return;
    case PT_FLOAT: *floatPlane.getPtr2Element(x, y) = convertPixel<float>(value); return;
    case PT_INT: *intPlane.getPtr2Element(x, y) = convertPixel<int>(value); return;
    case PT_DOUBLE: *doublePlane.getPtr2Element(x, y) = convertPixel<double>(value); return;
    default: reportFatal(kWithoutType);
  }
}

void S_ImageStorage::readPixelValue(short x, short y, unsigned char* value) const { readValue(x, y, value); }
void S_ImageStorage::readPixelValue(short x, short y, short* value) const { readValue(x, y, value); }
void S_ImageStorage::readPixelValue(short x, short y, float* value) const { readValue(x, y, value); }
void S_ImageStorage::readPixelValue(short x, short y, int* value) const { readValue(x, y, value); }
void S_ImageStorage::readPixelValue(short x, short y, double* value) const { readValue(x, y, value); }

void S_ImageStorage::writePixelValue(short x, short y, const unsigned char* value) { writeValue(x, y, *value); }
void S_ImageStorage::writePixelValue(short x, short y, const short* value) { writeValue(x, y, *value); }
void S_ImageStorage::writePixelValue(short x, short y, const float* value) { writeValue(x, y, *value); }
void S_ImageStorage::writePixelValue(short x, short y, const int* value) { writeValue(x, y, *value); }
void S_ImageStorage::writePixelValue(short x, short y, const double* value) { writeValue(x, y, *value); }
