// Output files of Dornick, all through the temporary-and-rename writer.
#include "app/OutputFile.h"

#include <sys/stat.h>

#include <cstdio>

#include "storage/PgmFormat.h"
#include "storage/T_AtomicFile.h"

// The same opening as the real write, dropped at once: an existing file stays as it was.
// A device or pipe is left alone: opening it twice could end what a reader sees.
void checkOutputCreatable(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) return;
  T_AtomicFile file(path.c_str());
  if (!file.isOpen()) pgm::failOnFile("failure in opening file %s\n", path.c_str());
  file.discard();
}

void writeOutputFile(const std::string& path, const std::string& bytes) {
  T_AtomicFile file(path.c_str());
  if (!file.isOpen()) pgm::failOnFile("failure in opening file %s\n", path.c_str());
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) == bytes.size();
  if (!file.commit() || !written) pgm::failOnFile("failure in closing file %s", path.c_str());
}

std::string extensionOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot + 1);
}
