// Outputs appear whole or not at all: temporary beside the target, rename on success.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "storage/S_RegionStorage.h"
#include "storage/T_AtomicFile.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;

namespace {

class AtomicFileTest : public testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("atomic_" + std::to_string(getpid()) + "_" +
                                          testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  std::string path(const std::string& name) const { return (folder / name).string(); }
  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
  }
  std::string contents(const std::string& name) const {
    std::ifstream file(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::set<std::string> names() const {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.insert(entry.path().filename().string());
    return found;
  }

  fs::path folder;
};

TEST_F(AtomicFileTest, TargetChangesOnlyAtCommitAndNoTemporaryStays) {
  put("map.pgm", "old");
  {
    T_AtomicFile output(path("map.pgm").c_str());
    ASSERT_TRUE(output.isOpen());
    std::fputs("new contents", output.stream());
    std::fflush(output.stream());
    EXPECT_EQ(contents("map.pgm"), "old");
    // Same folder (a rename never crosses file systems) and the target's name at the end.
    EXPECT_EQ(fs::path(output.temporaryPath()).parent_path(), folder);
    EXPECT_EQ(output.temporaryPath().substr(output.temporaryPath().size() - 8), "-map.pgm");
    EXPECT_EQ(names().size(), 2u);
    EXPECT_TRUE(output.commit());
  }
  EXPECT_EQ(contents("map.pgm"), "new contents");
  EXPECT_EQ(names(), std::set<std::string>{"map.pgm"});
}

TEST_F(AtomicFileTest, UncommittedOrDiscardedWritesLeaveTheTargetAsItWas) {
  put("map.pgm", "old");
  {
    T_AtomicFile output(path("map.pgm").c_str());
    std::fputs("half", output.stream());
  }
  T_AtomicFile discarded(path("fresh.pgm").c_str());
  std::fputs("half", discarded.stream());
  discarded.discard();
  EXPECT_FALSE(discarded.commit());
  EXPECT_EQ(contents("map.pgm"), "old");
  EXPECT_EQ(names(), std::set<std::string>{"map.pgm"});
}

// The full disk: a file-size limit makes the writes fail part-way (SIGXFSZ ignored, as
// a program that handles its errors would).
TEST_F(AtomicFileTest, WriteFailingPartWayKeepsTheOldFileAndRemovesTheTemporary) {
  put("map.pgm", "old");
  rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool committed = true;
  {
    T_AtomicFile output(path("map.pgm").c_str());
    const std::string block(1000, 'x');
    for (int i = 0; i < 10; ++i) std::fwrite(block.data(), 1, block.size(), output.stream());
    committed = output.commit();
    EXPECT_EQ(output.failure(), EFBIG);
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(committed);
  EXPECT_EQ(contents("map.pgm"), "old");
  EXPECT_EQ(names(), std::set<std::string>{"map.pgm"});
}

TEST_F(AtomicFileTest, TargetsThatMayNotBeReplacedAreNotOpened) {
  fs::create_directory(folder / "sub");
  EXPECT_FALSE(T_AtomicFile(path("sub").c_str()).isOpen());
  EXPECT_FALSE(T_AtomicFile(path("missing/map.pgm").c_str()).isOpen());
  // A link to nothing is not replaced by a file, nor is a file made where it points.
  fs::create_symlink(path("nowhere.pgm"), path("dangling.pgm"));
  EXPECT_FALSE(T_AtomicFile(path("dangling.pgm").c_str()).isOpen());
  EXPECT_TRUE(fs::is_symlink(path("dangling.pgm")));
  if (geteuid() != 0) {  // root writes through any permission bits
    put("locked.pgm", "old");
    fs::permissions(path("locked.pgm"), fs::perms::owner_read);
    EXPECT_FALSE(T_AtomicFile(path("locked.pgm").c_str()).isOpen());
    EXPECT_EQ(contents("locked.pgm"), "old");
  }
  EXPECT_TRUE(fs::is_directory(folder / "sub"));
  std::set<std::string> left = names();
  left.erase("locked.pgm");
  EXPECT_EQ(left, (std::set<std::string>{"sub", "dangling.pgm"}));  // no temporary left behind
}

// A device is written, never replaced: a rename over /dev/null would destroy it.
TEST_F(AtomicFileTest, DevicesAreWrittenInPlace) {
  T_AtomicFile output("/dev/null");
  ASSERT_TRUE(output.isOpen());
  EXPECT_EQ(output.temporaryPath(), "/dev/null");
  std::fputs("discarded", output.stream());
  EXPECT_TRUE(output.commit());
  struct stat status;
  ASSERT_EQ(stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
}

TEST_F(AtomicFileTest, NewFileGetsTheUsualPermissionsAndALinkedFileIsReplacedThroughTheLink) {
  const mode_t mask = umask(022);
  {
    T_AtomicFile output(path("new.pgm").c_str());
    EXPECT_TRUE(output.commit());
  }
  umask(mask);
  EXPECT_EQ(fs::status(path("new.pgm")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::others_read);

  put("real.pgm", "old");
  fs::create_symlink(path("real.pgm"), path("link.pgm"));
  T_AtomicFile output(path("link.pgm").c_str());
  std::fputs("new", output.stream());
  EXPECT_TRUE(output.commit());
  EXPECT_TRUE(fs::is_symlink(path("link.pgm")));
  EXPECT_EQ(contents("real.pgm"), "new");

  // A replaced file keeps its permission bits.
  fs::permissions(path("real.pgm"), fs::perms::owner_read | fs::perms::owner_write);
  T_AtomicFile again(path("real.pgm").c_str());
  EXPECT_TRUE(again.commit());
  EXPECT_EQ(fs::status(path("real.pgm")).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

// The temporary's name is cut to what the folder allows, keeping the target's end.
TEST_F(AtomicFileTest, NamesUpToTheSystemsLimitAreWritten) {
  const std::string name = std::string(251, 'n') + ".pgm";
  T_AtomicFile output(path(name).c_str());
  ASSERT_TRUE(output.isOpen()) << std::strerror(output.failure());
  EXPECT_EQ(output.temporaryPath().substr(output.temporaryPath().size() - 8), "nnnn.pgm");
  std::fputs("new", output.stream());
  EXPECT_TRUE(output.commit());
  EXPECT_EQ(contents(name), "new");
}

// What a signal handler calls before the process ends: no temporary is left.
TEST_F(AtomicFileTest, OpenTemporariesCanAllBeRemovedAtOnce) {
  T_AtomicFile first(path("a.pgm").c_str());
  T_AtomicFile second(path("b.pgm").c_str());
  ASSERT_EQ(names().size(), 2u);
  T_AtomicFile::removeTemporaries();
  EXPECT_EQ(names(), std::set<std::string>{});
  EXPECT_FALSE(first.commit());
}

// A name for one of the process's own streams writes to the stream as it is
// open: after what is already there when it appends, never replacing the file.
TEST_F(AtomicFileTest, OwnStreamsAreWrittenAsTheyAreOpen) {
  put("log.txt", "old\n");
  const int descriptor = open(path("log.txt").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(descriptor, 0);
  for (const std::string name : {"/dev/fd/" + std::to_string(descriptor), "/proc/self/fd/" + std::to_string(descriptor)}) {
    EXPECT_EQ(T_AtomicFile::ownStreamNamedBy(name), descriptor) << name;
    T_AtomicFile output(name.c_str());
    ASSERT_TRUE(output.isOpen()) << name;
    std::fputs("new\n", output.stream());
    EXPECT_TRUE(output.commit());
  }
  close(descriptor);
  EXPECT_EQ(contents("log.txt"), "old\nnew\nnew\n");
  EXPECT_EQ(names(), std::set<std::string>{"log.txt"});
  EXPECT_EQ(T_AtomicFile::ownStreamNamedBy("/dev/stdout"), 1);
  EXPECT_EQ(T_AtomicFile::ownStreamNamedBy(path("log.txt")), -1);
}

}  // namespace
