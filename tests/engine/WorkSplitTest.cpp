// The work split: every item in exactly one part, parts in item order, and a
// part's failure or warning reaching the caller as if it had run there.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "engine/WorkSplit.h"
#include "storage/Report.h"

namespace {

TEST(WorkSplitTest, PartsCoverTheItemsInOrder) {
  for (unsigned threads : {0u, 1u, 2u, 3u, 8u}) {
    for (long long count : {0LL, 1LL, 2LL, 5LL, 1000LL}) {
      std::vector<std::atomic<int>> visits(static_cast<size_t>(count));
      std::vector<long long> begins(partCount(threads, count), -1), ends(begins.size(), -1);
      splitWork(threads, count, [&](unsigned part, long long begin, long long end) {
        begins[part] = begin;
        ends[part] = end;
        for (long long i = begin; i < end; ++i) ++visits[static_cast<size_t>(i)];
      });
      for (size_t p = 0; p < begins.size(); ++p) {
        EXPECT_LT(begins[p], ends[p]) << threads << " threads, " << count << " items: part " << p << " empty";
        EXPECT_EQ(begins[p], p == 0 ? 0 : ends[p - 1]) << threads << " threads, " << count << " items";
      }
      for (const std::atomic<int>& v : visits) EXPECT_EQ(v, 1) << threads << " threads, " << count << " items";
    }
  }
}

TEST(WorkSplitTest, WeightedPartsBalanceTheWeightAndKeepTheOrder) {
  const std::vector<uint64_t> weights = {90, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 100};
  std::vector<long long> begins(3, -1), ends(3, -1);
  splitWorkByWeight(3, weights, [&](unsigned part, long long begin, long long end) {
    begins[part] = begin;
    ends[part] = end;
  });
  EXPECT_EQ(begins, (std::vector<long long>{0, 1, 11}));
  EXPECT_EQ(ends, (std::vector<long long>{1, 11, 12}));
}

TEST(WorkSplitTest, APartsFailureAndWarningsReachTheCallersCatcher) {
  veskar::FailureCatcher catcher;
  std::atomic<int> finished{0};
  try {
    splitWork(3, 3, [&](unsigned part, long long, long long) {
      if (part == 1) reportWarning("part one warns");
      if (part == 2) reportFatal("part two fails");
      ++finished;
    });
    ADD_FAILURE() << "the failure of part 2 was lost";
  } catch (const veskar::Failure& failure) {
    EXPECT_EQ(std::string(failure.what()), "part two fails");
  }
  EXPECT_EQ(finished, 2);
  EXPECT_EQ(catcher.getWarnings(), std::vector<std::string>{"part one warns"});
}

}  // namespace
