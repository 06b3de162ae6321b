// An output file that appears whole or not at all.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "veskar_export.h"

// Writes go to a temporary file in the target's folder, which commit() renames
// over the target once everything is flushed and synced. Until then, and after
// any failure, an existing file of that name is untouched and the temporary is
// removed (also when the object goes out of scope uncommitted). The new file
// keeps an existing target's permission bits (and owner, where allowed).
//
// Not everything may be replaced by a rename, so these are written in place:
// a target that exists but is not a regular file (a device such as /dev/null, a
// pipe) is opened for writing without being truncated, and a name for one of the
// process's own open streams (/dev/stdout, /dev/fd/N, /proc/self/fd/N) writes to
// that stream as it is open, appending where it appends.
//
// Not opened at all: a folder, a file the user may not write, another user's
// file in a folder that lets only owners remove files (sticky, as /tmp), and a
// symbolic link whose target does not exist (the link is never replaced).
class VESKAR_EXPORT T_AtomicFile {
 public:
  explicit T_AtomicFile(const char* path);
  ~T_AtomicFile();
  T_AtomicFile(const T_AtomicFile&) = delete;
  T_AtomicFile& operator=(const T_AtomicFile&) = delete;

  // False when the temporary could not be created (or the target may not be replaced).
  bool isOpen() const { return file != nullptr; }
  std::FILE* stream() const { return file; }
  // The file being written, for writers that open files by name. It keeps the
  // end of the target's file name, so a writer that goes by extension still sees it.
  const std::string& temporaryPath() const { return writtenPath; }

  // True once the target holds everything written; false on any failure, with the
  // temporary removed. The stream is closed either way.
  bool commit();
  // Drops what was written.
  void discard();
  // errno of the first failure, 0 when none.
  int failure() const { return error; }

  // Removes the temporary of every T_AtomicFile still open in the process. Uses
  // only async-signal-safe calls, for a signal handler that ends the process.
  static void removeTemporaries();

  // The descriptor that path names when it is one of the process's own open
  // streams, else -1.
  static int ownStreamNamedBy(const std::string& path);

 private:
  bool openTemporary(const std::string& target, const struct stat* existing);
  bool openDirectly(const std::string& target);
  bool openOwnStream(int descriptor);
  bool finish();
  void forgetTemporary();

  std::string targetPath;
  std::string writtenPath;
  std::FILE* file = nullptr;
  bool direct = false;
  int tracked = -1;  // slot of the temporary among those removeTemporaries() sees
  int error = 0;
};
