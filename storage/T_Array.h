// Checked 2-D array indexed [x][y]: columns side by side in one block, so a
// freed image-sized array goes back to the system at once.
#pragma once

#include <cstddef>
#include <new>

#include "storage/Report.h"

template <class T>
class T_Array {
 public:
  T_Array() = default;
  ~T_Array() { deallocateArray(); }
  T_Array(const T_Array&) = delete;  // whole-image copies go through the storages' copyFrom
  T_Array& operator=(const T_Array&) = delete;

  T** allocateArray(short width, short heigth) {
    if (width < 0 || heigth < 0)
      reportFatal("T_Array::allocateArray( short int width, short int heigth ) -> Allocation error! (wrong array dimensions)");
    // Refuse before storing the sizes: the columns still held must be freed
    // with the width they were allocated with.
    if (columns != nullptr)
      reportFatal("T_array::allocateArray( short int width, short int heigth ), Array already allocated!");
    this->width = width;
    this->height = heigth;
    columns = new (std::nothrow) T*[width > 0 ? width : 1];
    if (columns == nullptr) reportAllocationFailure();
    // Value-initialised: class elements start at zero; scalars are cleared
    // too, which costs little and keeps reads of unwritten pixels defined.
    const std::size_t elements = static_cast<std::size_t>(width) * static_cast<std::size_t>(heigth);
    block = new (std::nothrow) T[elements > 0 ? elements : 1]();
    if (block == nullptr) reportAllocationFailure();
    for (short x = 0; x < width; ++x) columns[x] = block + static_cast<std::size_t>(x) * static_cast<std::size_t>(heigth);
    return columns;
  }

  void deallocateArray() {
    if (columns == nullptr) return;
    delete[] block;
    block = nullptr;
    delete[] columns;
    columns = nullptr;
  }

  T* getPtr2Element(short x, short y) {
    checkInside(x, y, "T_Array::getPtr2Element( short int x, short int y ), Array has NOT been allocated!",
                "T_Array::getPtr2Element( short int x, short int y ), Wrong pixel coordinates!");
    return &columns[x][y];
  }

  const T* getCPtr2Element(short x, short y) const {
    checkInside(x, y, "T_Array::getCPtr2Element( short int x, short int y ) const, Array has NOT been allocated!",
                "T_Array::getCPtr2Element( short int x, short int y ) const, Wrong pixel coordinates!");
    return &columns[x][y];
  }

  void writeElement(short x, short y, const T& element) {
    checkInside(x, y, "T_Array::writeElement( short int x, short int y, const T& element ), Array has NOT been allocated yet!",
                "T_Array::writeElement( short int x, short int y, const T& element ), Wrong pixel coordinates!");
    columns[x][y] = element;
  }

  T** getPtr2Array() {
    if (columns == nullptr) reportFatal("T_Array::getPtr2Array( void ), Array has NOT been allocated!");
    return columns;
  }

  bool isAllocated() const { return columns != nullptr; }
  short getWidth() const { return width; }
  short getHeight() const { return height; }

 private:
  // Allocation is tested before the bounds, so a fresh array always reports that first.
  void checkInside(short x, short y, const char* unallocated, const char* outside) const {
    if (columns == nullptr) reportFatal(unallocated);
    if (x < 0 || x >= width || y < 0 || y >= height) reportFatal(outside);
  }
  [[noreturn]] static void reportAllocationFailure() {
    reportFatal("T_array::allocateArray( short int width, short int heigth ), Memory allocation error!");
  }

  short width = -1;
  short height = -1;
  T** columns = nullptr;
  T* block = nullptr;
};
