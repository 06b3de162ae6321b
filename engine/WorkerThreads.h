// Running independent pieces of work on several threads.
#pragma once

#include <cstdint>
#include <functional>

// Calls work(item, worker) once for every item 0..count-1, on at most threads
// threads (the caller's among them; worker numbers them from 0). Items go out
// in order as threads come free, so work must not depend on which thread or
// when. A fatal error on any thread is reported on the caller's thread once
// every thread has stopped.
void runOnWorkers(unsigned threads, uint32_t count, const std::function<void(uint32_t item, unsigned worker)>& work);

// The worker count runOnWorkers uses for a request: 0 and 1 mean the caller's
// thread alone, and no more threads than items.
unsigned workerCount(unsigned threads, uint32_t count);
