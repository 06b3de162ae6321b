// Runs Dornick as a process inside a scratch folder of its own and reads what it left.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

struct ProcessResult {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
};

struct Rgb {
  unsigned char r, g, b;
};

// A label map split into its header text and its samples (16-bit ones read low byte first).
struct ParsedLabelMap {
  std::string header;
  int width = 0;
  int height = 0;
  int maxValue = 0;
  std::vector<unsigned> samples;
  unsigned at(int x, int y) const { return samples.at(static_cast<size_t>(y) * width + x); }
};

class DornickRunTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::string path(const std::string& name) const { return (folder / name).string(); }
  bool exists(const std::string& name) const { return std::filesystem::exists(folder / name); }
  ProcessResult run(const std::vector<std::string>& arguments) const { return runAfter("", arguments); }
  // Runs shell commands first (limits, traps) in the shell that then becomes Dornick.
  ProcessResult runAfter(const std::string& shellCommands, const std::vector<std::string>& arguments) const;
  // Binary PPM, so that every test draws exactly the image it needs.
  std::string writePpm(const std::string& name, int width, int height,
                       const std::function<Rgb(int x, int y)>& colorAt) const;
  std::string writeBlankPpm(const std::string& name, int width, int height) const;

  static std::string readFile(const std::string& path);
  // Fails the test (and returns an empty map) when the bytes are not a complete label map.
  static ParsedLabelMap parseLabelMap(const std::string& bytes);

  std::filesystem::path folder;
};

std::string dataFile(const std::string& name);

extern const char* const kUsageText;
