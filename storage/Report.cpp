// The per-thread failure catchers behind reportFatal and reportWarning.
#include "storage/Report.h"

namespace veskar {

namespace {

thread_local FailureCatcher* activeCatcher = nullptr;

}  // namespace

// Out of line, so that the library holds the one type identity callers catch by.
Failure::~Failure() = default;

FailureCatcher::FailureCatcher() : outer(activeCatcher) { activeCatcher = this; }

FailureCatcher::~FailureCatcher() { activeCatcher = outer; }

void takeFailure(const char* message) {
  if (activeCatcher != nullptr) throw Failure(message);
}

void takeFailure(const std::string& message) { takeFailure(message.c_str()); }

bool takeWarning(const char* message) {
  if (activeCatcher == nullptr) return false;
  activeCatcher->warnings.emplace_back(message);
  return true;
}

}  // namespace veskar
