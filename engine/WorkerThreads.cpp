// Running independent pieces of work on several threads, as parts of a work split.
#include "engine/WorkerThreads.h"

#include <atomic>
#include <new>

#include "engine/WorkSplit.h"
#include "storage/Report.h"

unsigned workerCount(unsigned threads, uint32_t count) {
  if (threads < 1) threads = 1;
  return count < threads ? (count > 0 ? count : 1) : threads;
}

// Each worker is one part; the parts take the items in turn as they come
// free, and after a failure no part takes another.
void runOnWorkers(unsigned threads, uint32_t count, const std::function<void(uint32_t item, unsigned worker)>& work) {
  const unsigned workers = workerCount(threads, count);
  std::atomic<uint32_t> nextItem{0};
  std::atomic<bool> failed{false};
  splitWork(workers, workers, [&](unsigned worker, long long, long long) {
    try {
      for (uint32_t item = nextItem++; item < count && !failed; item = nextItem++) work(item, worker);
    } catch (const std::bad_alloc&) {
      failed = true;
      reportFatal("M_RSST::rsst_emalloc(n) -> memory allocation error.");
    } catch (...) {
      failed = true;
      throw;
    }
  });
}
