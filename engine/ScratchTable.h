// The engine's guarded allocator and the owners of the blocks it hands out.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "storage/Report.h"

// The engine's allocator: a fatal error instead of a null block. Blocks of a
// few megabytes and more start on a huge-page boundary and, when the whole
// block is used (dense), are offered huge pages: the merges touch them in no
// order a cache can follow. Free with std::free.
inline void* takeEngineBlock(long long size, bool dense = true) {
  if (size <= 0) reportFatal("M_RSST::rsst_emalloc(n) -> Wrong size: <= 0!");
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const bool big = dense && static_cast<unsigned long long>(size) >= 2 * kHugePage;
  const std::size_t alignment = big ? kHugePage : 64;  // 64: a region record fills one cache line
  const std::size_t rounded = (static_cast<std::size_t>(size) + alignment - 1) / alignment * alignment;
  void* block = std::aligned_alloc(alignment, rounded);
  if (block == nullptr) reportFatal("M_RSST::rsst_emalloc(n) -> memory allocation error.");
#ifdef MADV_HUGEPAGE
  if (big) madvise(block, rounded, MADV_HUGEPAGE);
#endif
  return block;
}

// A frame-sized block of plain records, released with its owner. Taking a
// block again gives the old one back first.
template <class T>
class FrameBlock {
 public:
  T* take(long long count) {
    data_.reset();
    data_.reset(static_cast<T*>(takeEngineBlock(count * static_cast<long long>(sizeof(T)))));
    return data_.get();
  }
  // Zeroed, and for a big block without touching it: pages come in as written.
  T* takeZeroed(long long count) {
    data_.reset();
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
