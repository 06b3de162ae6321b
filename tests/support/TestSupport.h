// Helpers shared by every test executable: fatal-exit matching, stderr capture, temporary files.
#pragma once

#include <functional>
#include <string>

#include <gtest/gtest.h>

// Escapes every regular-expression character so that the text matches only itself.
std::string literally(const std::string& text);

// The statement must end the process with status 1 after printing exactly this fatal
// message as the last thing on standard error.
#define EXPECT_FATAL(statement, message)                \
  EXPECT_EXIT(statement, testing::ExitedWithCode(1),    \
              literally("\nERROR: " + std::string(message) + "\n") + "$")

// Inside a death-test statement: sends standard output to standard error, so that
// messages a statement prints on standard output can be matched.
void stdoutToStderr();

// Runs action and returns what it wrote to standard error (warnings).
std::string captureStderr(const std::function<void()>& action);

// The text of a warning as it appears on standard error.
std::string warningText(const std::string& message);

// A path in the test temporary directory, unique within the run, removed on destruction.
class TempFile {
 public:
  explicit TempFile(const std::string& stem);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  const std::string& path() const { return filePath; }
  bool exists() const;
  std::string contents() const;  // the bytes of the file, empty when it does not exist

 private:
  std::string filePath;
};
