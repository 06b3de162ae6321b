// Failure reporting in the system's two forms.
// Message texts are observable behaviour: callers pass them byte for byte,
// odd spelling included, and always as the argument of "%s".
#pragma once

#include <cstdio>
#include <cstdlib>

// A fatal error ends the process with status 1: a failure must never look
// like success to a calling script.
[[noreturn]] inline void reportFatal(const char* message) {
  std::fprintf(stderr, "\nERROR: %s\n", message);
  std::fflush(stderr);
  std::exit(1);
}

// The diagnostic dumps' messages carry their own line break and no frame.
[[noreturn]] inline void reportFatalUnframed(const char* message) {
  std::fprintf(stderr, "%s", message);
  std::fflush(stderr);
  std::exit(1);
}

inline void reportWarning(const char* message) {
  std::fprintf(stderr, "\nWARNING: %s\n", message);
}
