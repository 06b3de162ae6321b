// Work cut into contiguous parts, one thread each. The cut depends on the item
// count and the thread count alone, so no result depends on timing.
#pragma once

#include <cstdint>
#include <vector>

// Runs call(context, part) for every part below parts: part 0 on the calling
// thread, each other one on a thread of its own; returns when all are done.
// Then, part by part, the calling thread issues the part's warnings and
// raises its fatal error or exception again, as if the part had run there.
void runParts(unsigned parts, void (*call)(const void* context, unsigned part), const void* context);

// How many parts count items are cut into for threads threads: none empty.
inline unsigned partCount(unsigned threads, long long count) {
  if (count <= 0) return 0;
  const unsigned parts = threads < 1 ? 1 : threads;
  return count < static_cast<long long>(parts) ? static_cast<unsigned>(count) : parts;
}

// Where part p of parts starts when count items are cut.
inline long long partStart(long long count, unsigned parts, unsigned part) { return count * part / parts; }

// Calls work(part, begin, end) once per part of [0, count).
template <class Work>
void splitWork(unsigned threads, long long count, const Work& work) {
  const unsigned parts = partCount(threads, count);
  if (parts == 0) return;
  if (parts == 1) {
    work(0u, 0LL, count);
    return;
  }
  struct Job {
    const Work* work;
    long long count;
    unsigned parts;
  };
  const Job job{&work, count, parts};
  runParts(
      parts,
      [](const void* context, unsigned part) {
        const Job& j = *static_cast<const Job*>(context);
        (*j.work)(part, partStart(j.count, j.parts, part), partStart(j.count, j.parts, part + 1));
      },
      &job);
}

// As splitWork, with the cut balancing the summed weights of the items
// instead of their number: each item goes to the part the middle of its
// weight falls in, so a part may be empty.
template <class Work>
void splitWorkByWeight(unsigned threads, const std::vector<uint64_t>& weights, const Work& work) {
  const unsigned parts = partCount(threads, static_cast<long long>(weights.size()));
  uint64_t total = 0;
  for (uint64_t w : weights) total += w;
  std::vector<long long> starts(parts + 1, static_cast<long long>(weights.size()));
  if (parts > 0) starts[0] = 0;
  uint64_t before = 0;
  unsigned part = 0;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    const uint64_t owner = total == 0 ? 0 : (2 * before + weights[i]) * parts / (2 * total);
    while (part < owner && part + 1 < parts) starts[++part] = static_cast<long long>(i);
    before += weights[i];
  }
  splitWork(parts, parts, [&](unsigned p, long long, long long) { work(p, starts[p], starts[p + 1]); });
}
