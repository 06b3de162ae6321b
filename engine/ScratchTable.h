// Owns a block taken from the engine's guarded allocator; frees it on every path.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "storage/Report.h"

// The engine's allocator: a fatal error instead of a null block, and big
// dense blocks (every byte used) on huge pages where the system offers them.
// Free with std::free.
void* takeEngineBlock(long long size, bool dense = true);

// A frame-sized block of plain records, released with its owner.
template <class T>
class FrameBlock {
 public:
  T* take(long long count) {
    data_.reset(static_cast<T*>(takeEngineBlock(count * static_cast<long long>(sizeof(T)))));
    return data_.get();
  }
  // Zeroed, and for a big block without touching it: pages come in as written.
  T* takeZeroed(long long count) {
    void* block = std::calloc(static_cast<std::size_t>(count > 0 ? count : 1), sizeof(T));
    if (block == nullptr) reportFatal("M_RSST::rsst_emalloc(n) -> memory allocation error.");
    data_.reset(static_cast<T*>(block));
    return data_.get();
  }
  T* get() const { return data_.get(); }

 private:
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
  std::unique_ptr<T, Free> data_;
};

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
