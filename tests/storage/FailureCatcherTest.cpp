// A caller takes the library's failures on its thread; everyone else still sees the process end.
#include <string>
#include <thread>

#include "storage/Report.h"
#include "storage/S_RegionStorage.h"
#include "support/TestSupport.h"

namespace {

const char* const kUnallocated = "S_RegionStorage::addNewRegion(..) -> The storage has NOT been allocated yet!";
const char* const kFreePel = "S_RegionStorage::removePelFromRegion() -> Pel has NOT been assigned to any region!";

std::string fatalTextUnderCatcher(const std::function<void()>& action) {
  veskar::FailureCatcher catcher;
  try {
    action();
  } catch (const veskar::Failure& failure) {
    return failure.what();
  }
  return "(no failure)";
}

TEST(FailureCatcherTest, FatalErrorsThrowWhileACatcherIsHeldAndEndTheProcessAfterwards) {
  S_RegionStorage storage;
  std::string text;
  const std::string err = captureStderr([&] { text = fatalTextUnderCatcher([&] { storage.newRegion(0, 0); }); });
  EXPECT_EQ(text, kUnallocated);
  EXPECT_EQ(err, "");
  // The storage is still usable for what did not fail.
  storage.allocateStorage(2, 2);
  EXPECT_EQ(storage.newRegion(1, 1)->getNumberOfPels(), 1);
  S_RegionStorage unallocated;
  EXPECT_FATAL(unallocated.newRegion(0, 0), kUnallocated);
}

TEST(FailureCatcherTest, FileFailuresOfTheLabelMapThrowTheirPrintedText) {
  S_RegionStorage storage(1, 1);
  storage.newRegion(0, 0)->setObjectID(0);
  EXPECT_EQ(fatalTextUnderCatcher([&] { storage.writeAsPGM("/nonexistent-dir/labels.pgm"); }),
            "failure in opening file /nonexistent-dir/labels.pgm\n");
  EXPECT_EQ(fatalTextUnderCatcher([&] { storage.writeAsPGM("/dev/full"); }), "failure in closing file /dev/full");
}

TEST(FailureCatcherTest, WarningsAreKeptByTheInnermostCatcherInsteadOfPrinted) {
  S_RegionStorage storage(2, 2);
  veskar::FailureCatcher outer;
  std::string err = captureStderr([&] {
    {
      veskar::FailureCatcher inner;
      storage.removePelFromRegion(0, 0);
      EXPECT_EQ(inner.getWarnings(), std::vector<std::string>{kFreePel});
    }
    storage.removePelFromRegion(1, 1);
  });
  EXPECT_EQ(err, "");
  EXPECT_EQ(outer.getWarnings(), std::vector<std::string>{kFreePel});
}

// A catcher belongs to the thread that made it: a failure elsewhere still ends the process.
TEST(FailureCatcherTest, ACatcherOnOneThreadDoesNotTakeAnotherThreadsFailure) {
  EXPECT_FATAL(
      {
        veskar::FailureCatcher catcher;
        std::thread worker([] {
          S_RegionStorage storage;
          storage.newRegion(0, 0);
        });
        worker.join();
      },
      kUnallocated);
  const std::string err = captureStderr([] {
    veskar::FailureCatcher catcher;
    std::thread worker([] {
      S_RegionStorage storage(1, 1);
      storage.removePelFromRegion(0, 0);
    });
    worker.join();
    EXPECT_TRUE(catcher.getWarnings().empty());
  });
  EXPECT_EQ(err, warningText(kFreePel));
}

}  // namespace
