// An output file that appears whole or not at all.
#pragma once

#include <cstdio>
#include <string>

#include "veskar_export.h"

// Writes go to a temporary file in the target's folder, which commit() renames
// over the target once everything is flushed and synced. Until then, and after
// any failure, an existing file of that name is untouched and the temporary is
// removed (also when the object goes out of scope uncommitted).
//
// A target that exists but is not a regular file (a device such as /dev/null, a
// pipe) cannot be replaced by a rename and is written directly instead.
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
  // target's file name as its end, so a writer that goes by extension still sees it.
  const std::string& temporaryPath() const { return writtenPath; }

  // True once the target holds everything written; false on any failure, with the
  // temporary removed. The stream is closed either way.
  bool commit();
  // Drops what was written.
  void discard();
  // errno of the first failure, 0 when none.
  int failure() const { return error; }

 private:
  bool openTemporary(const std::string& target);
  bool openDirectly(const std::string& target);
  bool finish();

  std::string targetPath;
  std::string writtenPath;
  std::FILE* file = nullptr;
  bool direct = false;
  int error = 0;
};
