// Single-channel image held in one plane of its primary pixel type; values convert on the way in and out.
#pragma once

#include "storage/T_Array.h"
#include "veskar_export.h"

// Any other value behaves like PT_NONE.
enum PrimaryType { PT_NONE = 0, PT_UCHAR = 1, PT_SHORT = 2, PT_FLOAT = 3, PT_INT = 4, PT_DOUBLE = 5 };

class VESKAR_EXPORT S_ImageStorage {
 public:
  S_ImageStorage() = default;
  S_ImageStorage(short width, short height, PrimaryType type);
  ~S_ImageStorage();
  // One owner per plane: whole-image copies go through copyFrom.
  S_ImageStorage(const S_ImageStorage&) = delete;
  S_ImageStorage& operator=(const S_ImageStorage&) = delete;

  void allocateStorage(short width, short height, PrimaryType type);
  void deallocateStorage();
  void copyFrom(const S_ImageStorage* source, PrimaryType type);

  short getWidth() const { return width; }
  short getHeight() const { return height; }
  long getFrame() const { return frame; }
  void setFrame(long frame);
  PrimaryType getPrimaryType() const { return primaryType; }
  short isEmpty() const;

  unsigned char** getUCharArray();
  short** getShortArray();
  float** getFloatArray();
  int** getIntArray();
  double** getDoubleArray();

  void readPixelValue(short x, short y, unsigned char* value) const;
  void readPixelValue(short x, short y, short* value) const;
  void readPixelValue(short x, short y, float* value) const;
  void readPixelValue(short x, short y, int* value) const;
  void readPixelValue(short x, short y, double* value) const;
  void writePixelValue(short x, short y, const unsigned char* value);
  void writePixelValue(short x, short y, const short* value);
  void writePixelValue(short x, short y, const float* value);
  void writePixelValue(short x, short y, const int* value);
  void writePixelValue(short x, short y, const double* value);

 private:
  template <class V>
  void readValue(short x, short y, V* value) const;
  template <class V>
  void writeValue(short x, short y, V value);
  template <class E>
  E** planeTable(T_Array<E>& plane, PrimaryType type);
  template <class E>
  void copyPixels(E** table, const S_ImageStorage* source);

  short width = -1;
  short height = -1;
  int frame = -1;
  PrimaryType primaryType = PT_NONE;
  T_Array<unsigned char> ucharPlane;
  T_Array<short> shortPlane;
  T_Array<float> floatPlane;
  T_Array<int> intPlane;
  T_Array<double> doublePlane;
};
