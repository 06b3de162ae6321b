// Owns a block taken from the engine's guarded allocator; frees it on every path.
#pragma once

#include <cstddef>
#include <cstdlib>

template <class T>
class ScratchTable {
 public:
  explicit ScratchTable(void* block) : data_(static_cast<T*>(block)) {}
  ~ScratchTable() { std::free(data_); }
  ScratchTable(const ScratchTable&) = delete;
  ScratchTable& operator=(const ScratchTable&) = delete;

  T& operator[](std::size_t i) { return data_[i]; }
  T* get() { return data_; }

 private:
  T* data_;
};
