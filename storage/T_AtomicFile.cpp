// Temporary-file-and-rename output.
#include "storage/T_AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
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

}  // namespace

T_AtomicFile::T_AtomicFile(const char* path) : targetPath(path) {
  std::string target = targetPath;
  struct stat status;
  if (stat(path, &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      error = EISDIR;
      return;
    }
    if (!S_ISREG(status.st_mode)) {
      openDirectly(target);
      return;
    }
    // A file the user may not write stays as it is, even though its folder would let us replace it.
    if (access(path, W_OK) != 0) {
      error = errno;
      return;
    }
    // Through a symbolic link the file it names is replaced, not the link.
    char resolved[PATH_MAX];
    if (realpath(path, resolved) != nullptr) target = resolved;
  }
  openTemporary(target);
}

T_AtomicFile::~T_AtomicFile() { discard(); }

bool T_AtomicFile::openTemporary(const std::string& target) {
  targetPath = target;
  const std::string suffix = "-" + nameOf(target);
  std::string pattern = folderOf(target) + "/.part-XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int descriptor = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (descriptor < 0) {
    error = errno;
    return false;
  }
  writtenPath = name.data();
  fchmod(descriptor, newFileMode());
  file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    error = errno;
    close(descriptor);
    unlink(writtenPath.c_str());
    writtenPath.clear();
    return false;
  }
  return true;
}

bool T_AtomicFile::openDirectly(const std::string& target) {
  direct = true;
  writtenPath = target;
  file = std::fopen(target.c_str(), "wb");
  if (file == nullptr) error = errno;
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
    writtenPath.clear();
    return true;
  }
  if (written) error = errno;
  unlink(writtenPath.c_str());
  writtenPath.clear();
  return false;
}

void T_AtomicFile::discard() {
  if (file != nullptr) {
    std::fclose(file);
    file = nullptr;
  }
  if (!direct && !writtenPath.empty()) unlink(writtenPath.c_str());
  writtenPath.clear();
}
