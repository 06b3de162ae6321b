// What Dornick does with inputs and surroundings that work against it.
#include <filesystem>
#include <set>

#include "DornickRun.h"

namespace {

class HostileInputTest : public DornickRunTest {
 protected:
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      found.insert(entry.path().filename().string());
    return found;
  }
};

// A full disk, simulated by a file-size limit of 8 blocks (SIGXFSZ ignored, so the
// write fails instead of killing the program): the run fails, the earlier map stays
// whole, and no partial file is left beside it.
TEST_F(HostileInputTest, FailedWriteKeepsTheExistingMapAndLeavesNoPartialFile) {
  const std::string image = writePpm("in.ppm", 160, 120, [](int x, int y) {
    return Rgb{static_cast<unsigned char>(x * 7 % 256), static_cast<unsigned char>(y * 5), 90};
  });
  const std::string fullDisk = "trap '' XFSZ; ulimit -f 8;";
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"AS", image, path("out.pgm"), "300"},
        std::vector<std::string>{"GL", image, path("out.pgm"), "2"}}) {
    const ProcessResult complete = run(arguments);
    ASSERT_EQ(complete.status, 0) << complete.err;
    const std::string before = readFile(path("out.pgm"));
    ASSERT_GT(before.size(), 8u * 1024u);  // larger than the limit whatever the block size

    const ProcessResult failed = runAfter(fullDisk, arguments);
    EXPECT_EQ(failed.status, 1) << arguments[0];
    EXPECT_NE(failed.out.find("failure in closing file " + path("out.pgm")), std::string::npos) << failed.out;
    EXPECT_EQ(readFile(path("out.pgm")), before) << arguments[0];
    EXPECT_EQ(names(), (std::set<std::string>{"in.ppm", "out.pgm", "stdout.txt", "stderr.txt"}));
  }
}

}  // namespace
