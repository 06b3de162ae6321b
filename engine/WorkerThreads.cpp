// Running independent pieces of work on several threads.
#include "engine/WorkerThreads.h"

#include <atomic>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "storage/Report.h"

unsigned workerCount(unsigned threads, uint32_t count) {
  if (threads < 1) threads = 1;
  return count < threads ? (count > 0 ? count : 1) : threads;
}

void runOnWorkers(unsigned threads, uint32_t count, const std::function<void(uint32_t item, unsigned worker)>& work) {
  const unsigned workers = workerCount(threads, count);
  if (workers == 1) {
    for (uint32_t item = 0; item < count; ++item) work(item, 0);
    return;
  }
  std::atomic<uint32_t> nextItem{0};
  std::atomic<bool> failed{false};
  std::mutex failureLock;
  std::string failure;
  // Every thread, the caller's too, catches its failures: the first one is
  // told after all have stopped, on the caller's thread as usual.
  auto run = [&](unsigned worker) {
    veskar::FailureCatcher catcher;
    try {
      for (uint32_t item = nextItem++; item < count && !failed; item = nextItem++) work(item, worker);
    } catch (const veskar::Failure& error) {
      const std::lock_guard<std::mutex> hold(failureLock);
      if (!failed.exchange(true)) failure = error.what();
    } catch (const std::bad_alloc&) {
      const std::lock_guard<std::mutex> hold(failureLock);
      if (!failed.exchange(true)) failure = "M_RSST::rsst_emalloc(n) -> memory allocation error.";
    }
  };
  std::vector<std::thread> pool;
  pool.reserve(workers - 1);
  for (unsigned worker = 1; worker < workers; ++worker) pool.emplace_back(run, worker);
  run(0);
  for (std::thread& thread : pool) thread.join();
  if (failed) reportFatal(failure.c_str());
}
