// Temporary-file-and-rename output.
#include "storage/T_AtomicFile.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The permissions a plain fopen would have given a new file.
mode_t newFileMode() {
  const mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// In a folder where only owners may remove files (the sticky bit, as on /tmp),
// another user's file cannot be renamed over, whatever its own bits say.
bool mayReplace(const std::string& target, const struct stat& file) {
  struct stat folder;
  if (stat(folderOf(target).c_str(), &folder) != 0 || (folder.st_mode & S_ISVTX) == 0) return true;
  const uid_t me = geteuid();
  return me == 0 || me == file.st_uid || me == folder.st_uid;
}

// The temporaries being written, where a signal handler can find them: a slot
// is claimed atomically and holds its name only while it is marked full.
constexpr int kTrackedTemporaries = 16;
struct TrackedTemporary {
  std::atomic<int> state{0};  // 0 free, 1 being filled, 2 names a temporary
  char name[PATH_MAX];
};
TrackedTemporary trackedTemporaries[kTrackedTemporaries];

int trackTemporary(const std::string& name) {
  if (name.size() >= PATH_MAX) return -1;
  for (int slot = 0; slot < kTrackedTemporaries; ++slot) {
    int expected = 0;
    TrackedTemporary& tracked = trackedTemporaries[slot];
    if (!tracked.state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(tracked.name, name.c_str(), name.size() + 1);
    tracked.state.store(2);
    return slot;
  }
  return -1;
}

// Signals that end the process with a clean-up stay blocked while a temporary
// is created and recorded, so that none is left unrecorded.
class EndingSignalsBlocked {
 public:
  EndingSignalsBlocked() {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGALRM}) sigaddset(&ending, signal);
    pthread_sigmask(SIG_BLOCK, &ending, &previous);
  }
  ~EndingSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
  EndingSignalsBlocked(const EndingSignalsBlocked&) = delete;
  EndingSignalsBlocked& operator=(const EndingSignalsBlocked&) = delete;

 private:
  sigset_t previous;
};

// N when path is exactly "/dev/fd/N" or "/proc/self/fd/N" (or this process's number for self).
int descriptorInPath(const std::string& path) {
  std::string number;
  for (const std::string& prefix :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"), "/proc/" + std::to_string(getpid()) + "/fd/"})
    if (path.compare(0, prefix.size(), prefix) == 0) number = path.substr(prefix.size());
  if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::atoi(number.c_str());
}

}  // namespace

int T_AtomicFile::ownStreamNamedBy(const std::string& path) {
  // Each step resolves the folder and then at most one link at the end, so the
  // magic links under /proc/self/fd are recognised before they are followed.
  std::string current = path;
  for (int step = 0; step < 8; ++step) {
    if (descriptorInPath(current) >= 0) return descriptorInPath(current);
    char folder[PATH_MAX];
    if (realpath(folderOf(current).c_str(), folder) == nullptr) return -1;
    const std::string resolvedFolder = std::string(folder) == "/" ? "" : folder;
    current = resolvedFolder + "/" + nameOf(current);
    if (descriptorInPath(current) >= 0) return descriptorInPath(current);
    char link[PATH_MAX];
    const ssize_t length = readlink(current.c_str(), link, sizeof link - 1);
    if (length <= 0) return -1;
    link[length] = '\0';
    current = link[0] == '/' ? std::string(link) : resolvedFolder + "/" + link;
  }
  return -1;
}

T_AtomicFile::T_AtomicFile(const char* path) : targetPath(path) {
  const int stream = ownStreamNamedBy(targetPath);
  if (stream >= 0) {
    openOwnStream(stream);
    return;
  }
  struct stat link;
  struct stat status;
  if (stat(path, &status) != 0) {
    // A link to nothing: writing would make a file the link happens to name.
    if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
      error = ENOENT;
      return;
    }
    openTemporary(targetPath, nullptr);
    return;
  }
  if (S_ISDIR(status.st_mode)) {
    error = EISDIR;
    return;
  }
  if (!S_ISREG(status.st_mode)) {
    openDirectly(targetPath);
    return;
  }
  // A file the user may not write stays as it is, even though its folder would let us replace it.
  if (access(path, W_OK) != 0) {
    error = errno;
    return;
  }
  // Through a symbolic link the file it names is replaced, not the link.
  std::string target = targetPath;
  char resolved[PATH_MAX];
  if (realpath(path, resolved) != nullptr) target = resolved;
  if (!mayReplace(target, status)) {
    error = EPERM;
    return;
  }
  openTemporary(target, &status);
}

T_AtomicFile::~T_AtomicFile() { discard(); }

bool T_AtomicFile::openTemporary(const std::string& target, const struct stat* existing) {
  targetPath = target;
  const std::string folder = folderOf(target);
  const std::string prefix = "/.part-XXXXXX";
  // The temporary takes the end of the target's name, cut so that it is no
  // longer than the folder allows.
  const long pathconfLimit = pathconf(folder.c_str(), _PC_NAME_MAX);
  const size_t nameLimit = pathconfLimit > 0 ? static_cast<size_t>(pathconfLimit) : NAME_MAX;
  std::string suffix = "-" + nameOf(target);
  const size_t room = nameLimit - (prefix.size() - 1);
  if (suffix.size() > room) suffix = "-" + suffix.substr(suffix.size() - (room - 1));
  const std::string pattern = folder + prefix + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  EndingSignalsBlocked blocked;
  const int descriptor = mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
  if (descriptor < 0) {
    error = errno;
    return false;
  }
  writtenPath = name.data();
  tracked = trackTemporary(writtenPath);
  if (existing != nullptr) {
    // Owner first: a change of owner may clear permission bits.
    if (existing->st_uid != geteuid() || existing->st_gid != getegid())
      (void)!fchown(descriptor, existing->st_uid, existing->st_gid);
    fchmod(descriptor, existing->st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID));
  } else {
    fchmod(descriptor, newFileMode());
  }
  file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    error = errno;
    close(descriptor);
    unlink(writtenPath.c_str());
    forgetTemporary();
    return false;
  }
  return true;
}

// Without O_TRUNC: a device or pipe is written to, never cut short.
bool T_AtomicFile::openDirectly(const std::string& target) {
  direct = true;
  writtenPath = target;
  const int descriptor = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (descriptor >= 0) file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    error = errno;
    if (descriptor >= 0) close(descriptor);
  }
  return file != nullptr;
}

// A copy of the descriptor shares its offset and its append mode; what the
// process printed to it before comes first.
bool T_AtomicFile::openOwnStream(int descriptor) {
  direct = true;
  writtenPath = targetPath;
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) {
    error = flags < 0 ? errno : EBADF;
    return false;
  }
  std::fflush(nullptr);
  const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (copy >= 0) file = fdopen(copy, "wb");
  if (file == nullptr) {
    error = errno;
    if (copy >= 0) close(copy);
  }
  return file != nullptr;
}

// Flushes, syncs and closes; true when every step succeeded.
bool T_AtomicFile::finish() {
  bool written = std::fflush(file) == 0 && !std::ferror(file);
  if (!written) error = errno;
  if (written && !direct && fsync(fileno(file)) != 0) {
    error = errno;
    written = false;
  }
  if (std::fclose(file) != 0 && written) {
    error = errno;
    written = false;
  }
  file = nullptr;
  return written;
}

bool T_AtomicFile::commit() {
  if (file == nullptr) return false;
  const bool written = finish();
  if (direct) return written;
  if (written && std::rename(writtenPath.c_str(), targetPath.c_str()) == 0) {
    forgetTemporary();
    return true;
  }
  if (written) error = errno;
  unlink(writtenPath.c_str());
  forgetTemporary();
  return false;
}

void T_AtomicFile::discard() {
  if (file != nullptr) {
    std::fclose(file);
    file = nullptr;
  }
  if (!direct && !writtenPath.empty()) unlink(writtenPath.c_str());
  forgetTemporary();
}

void T_AtomicFile::forgetTemporary() {
  if (tracked >= 0) trackedTemporaries[tracked].state.store(0);
  tracked = -1;
  writtenPath.clear();
}

void T_AtomicFile::removeTemporaries() {
  for (TrackedTemporary& tracked : trackedTemporaries)
    if (tracked.state.load() == 2) unlink(tracked.name);
}
