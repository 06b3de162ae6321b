// The threads behind splitWork, and the way a part's failure reaches the caller.
#include "engine/WorkSplit.h"

#include <exception>
#include <functional>
#include <string>
#include <system_error>
#include <thread>

#include "storage/Report.h"

namespace {

// What a part left behind. No part ends the run while others still work, and
// one on a thread of its own could not reach the caller's catcher (a catcher
// only guards the thread that made it): every part is caught, and the caller
// hears of it once all have stopped.
struct PartOutcome {
  std::vector<std::string> warnings;
  bool failed = false;
  std::string failure;
  std::exception_ptr exception;
};

void runCaught(void (*call)(const void*, unsigned), const void* context, unsigned part, PartOutcome& outcome) {
  veskar::FailureCatcher catcher;
  try {
    call(context, part);
  } catch (const veskar::Failure& failure) {
    outcome.failed = true;
    outcome.failure = failure.what();
  } catch (...) {
    outcome.exception = std::current_exception();
  }
  outcome.warnings = catcher.getWarnings();
}

}  // namespace

void runParts(unsigned parts, void (*call)(const void* context, unsigned part), const void* context) {
  std::vector<PartOutcome> outcomes(parts);
  std::vector<std::thread> helpers;
  helpers.reserve(parts);
  unsigned started = 1;
  try {
    for (; started < parts; ++started)
      helpers.emplace_back(runCaught, call, context, started, std::ref(outcomes[started]));
  } catch (const std::system_error&) {
    // No more threads to be had: the parts left run here, after the first.
  }
  runCaught(call, context, 0, outcomes[0]);
  for (unsigned part = started; part < parts; ++part) runCaught(call, context, part, outcomes[part]);
  for (std::thread& helper : helpers) helper.join();
  for (const PartOutcome& outcome : outcomes) {
    for (const std::string& warning : outcome.warnings) reportWarning(warning.c_str());
    if (outcome.failed) reportFatal(outcome.failure.c_str());
    if (outcome.exception) std::rethrow_exception(outcome.exception);
  }
}
