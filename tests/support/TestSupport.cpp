// Helpers shared by every test executable.
#include "TestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

std::string literally(const std::string& text) {
  static const std::string kSpecial = "\\^$.|?*+()[]{}";
  std::string pattern;
  for (const char c : text) {
    if (kSpecial.find(c) != std::string::npos) pattern += '\\';
    pattern += c;
  }
  return pattern;
}

void stdoutToStderr() {
  std::fflush(stdout);
  dup2(fileno(stderr), fileno(stdout));
}

std::string captureStderr(const std::function<void()>& action) {
  testing::internal::CaptureStderr();
  action();
  return testing::internal::GetCapturedStderr();
}

std::string warningText(const std::string& message) { return "\nWARNING: " + message + "\n"; }

TempFile::TempFile(const std::string& stem) {
  static int counter = 0;
  std::ostringstream name;
  name << testing::TempDir() << "veskar_" << getpid() << "_" << counter++ << "_" << stem;
  filePath = name.str();
  std::remove(filePath.c_str());
}

TempFile::~TempFile() { std::remove(filePath.c_str()); }

bool TempFile::exists() const { return std::ifstream(filePath).good(); }

std::string TempFile::contents() const {
  std::ifstream in(filePath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
