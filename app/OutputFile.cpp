// Output files of Dornick, all through the temporary-and-rename writer.
#include "app/OutputFile.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "storage/PgmFormat.h"
#include "storage/T_AtomicFile.h"

namespace {

// What writing to a path would change: an existing file, or a name not yet
// taken in a folder. Devices, pipes and streams are not comparable.
struct FileIdentity {
  bool comparable = false;
  dev_t device = 0;
  ino_t inode = 0;
  std::string newName;  // empty for an existing file

  bool operator==(const FileIdentity& other) const {
    return comparable && other.comparable && device == other.device && inode == other.inode &&
           newName == other.newName;
  }
};

[[noreturn]] void refuseOutputs(const std::string& why) {
  std::fprintf(stderr, "Dornick: %s\n", why.c_str());
  std::exit(1);
}

FileIdentity identityOf(const std::string& path) {
  FileIdentity identity;
  if (T_AtomicFile::ownStreamNamedBy(path) >= 0) return identity;
  struct stat status;
  if (stat(path.c_str(), &status) == 0) {
    if (S_ISREG(status.st_mode)) identity = {true, status.st_dev, status.st_ino, ""};
    return identity;
  }
  if (lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode))
    refuseOutputs(path + " is a symbolic link to a file that does not exist; name the file itself");
  const std::filesystem::path name(path);
  const std::string folder = name.has_parent_path() ? name.parent_path().string() : ".";
  if (stat(folder.c_str(), &status) == 0) identity = {true, status.st_dev, status.st_ino, name.filename().string()};
  return identity;
}

std::string reasonFor(int error) {
  if (error == EPERM) return "it belongs to another user, in a folder where only owners may replace files";
  return std::strerror(error);
}

}  // namespace

void checkOutputIdentities(const std::string& inputPath, const std::vector<std::string>& outputPaths) {
  FileIdentity input;
  struct stat status;
  if (stat(inputPath.c_str(), &status) == 0 && S_ISREG(status.st_mode))
    input = {true, status.st_dev, status.st_ino, ""};
  std::vector<FileIdentity> outputs;
  for (const std::string& path : outputPaths) {
    const FileIdentity output = identityOf(path);
    if (output == input) refuseOutputs(path + " is the input file; an output never replaces the input");
    for (size_t earlier = 0; earlier < outputs.size(); ++earlier)
      if (output == outputs[earlier])
        refuseOutputs(outputPaths[earlier] + " and " + path + " are one file; each output needs its own");
    outputs.push_back(output);
  }
}

// The same opening as the real write, dropped at once: an existing file stays as it was.
// A device or pipe is left alone: opening it twice could end what a reader sees.
void checkOutputCreatable(const std::string& path) {
  struct stat status {};
  if (T_AtomicFile::ownStreamNamedBy(path) < 0 && stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) &&
      !S_ISDIR(status.st_mode))
    return;
  T_AtomicFile file(path.c_str());
  if (!file.isOpen()) {
    std::fprintf(stderr, "Dornick: %s cannot be written: %s\n", path.c_str(), reasonFor(file.failure()).c_str());
    pgm::failOnFile("failure in opening file %s\n", path.c_str());
  }
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
  std::string extension = path.substr(dot + 1);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}
