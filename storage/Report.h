// Failure reporting in the system's two forms.
// Message texts are observable behaviour: callers pass them byte for byte,
// odd spelling included, and always as the argument of "%s".
//
// By default a fatal error ends the process. A caller that must outlive a
// failure (a language binding, a server) holds a FailureCatcher on its thread:
// while it exists, fatal errors throw veskar::Failure instead and warnings are
// collected in it instead of being printed. An engine or storage that threw
// is left half-way through its work and must not be used again.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "veskar_export.h"

namespace veskar {

class VESKAR_EXPORT Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message) : std::runtime_error(message) {}
  ~Failure() override;
};

// Scoped to one thread; catchers nest, the innermost one takes the failures.
class VESKAR_EXPORT FailureCatcher {
 public:
  FailureCatcher();
  ~FailureCatcher();
  FailureCatcher(const FailureCatcher&) = delete;
  FailureCatcher& operator=(const FailureCatcher&) = delete;

  // Warnings issued on this thread since the catcher was made, texts as passed.
  const std::vector<std::string>& getWarnings() const { return warnings; }

 private:
  friend bool takeWarning(const char* message);
  FailureCatcher* outer;
  std::vector<std::string> warnings;
};

// Throw Failure when a catcher is active on this thread; otherwise return.
VESKAR_EXPORT void takeFailure(const char* message);
VESKAR_EXPORT void takeFailure(const std::string& message);
// True when a catcher on this thread kept the warning.
VESKAR_EXPORT bool takeWarning(const char* message);

}  // namespace veskar

// A fatal error ends the process with status 1: a failure must never look
// like success to a calling script.
[[noreturn]] inline void reportFatal(const char* message) {
  veskar::takeFailure(message);
  std::fprintf(stderr, "\nERROR: %s\n", message);
  std::fflush(stderr);
  std::exit(1);
}

// The diagnostic dumps' messages carry their own line break and no frame.
[[noreturn]] inline void reportFatalUnframed(const char* message) {
  veskar::takeFailure(message);
  std::fprintf(stderr, "%s", message);
  std::fflush(stderr);
  std::exit(1);
}

inline void reportWarning(const char* message) {
  if (veskar::takeWarning(message)) return;
  std::fprintf(stderr, "\nWARNING: %s\n", message);
}
