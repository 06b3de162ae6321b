// Signal handlers, the time limit and the decoder's temporary folder. What the
// handlers call is async-signal-safe: they end the process right after it.
#include "app/RunCleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "storage/T_AtomicFile.h"

namespace {

char decoderFolder[PATH_MAX];
int decoderFolderDescriptor = -1;
char timeLimitMessage[160];
size_t timeLimitMessageLength = 0;

// Read with the raw system call: the C library's directory reading may allocate.
struct LinuxDirectoryEntry {
  ino64_t inode;
  off64_t next;
  unsigned short length;
  unsigned char type;
  char name[1];
};

void emptyDecoderFolder() {
  if (decoderFolderDescriptor < 0) return;
  alignas(8) char entries[4096];
  for (;;) {
    lseek(decoderFolderDescriptor, 0, SEEK_SET);
    const long got = syscall(SYS_getdents64, decoderFolderDescriptor, entries, sizeof entries);
    if (got <= 0) break;
    int removed = 0;
    for (long at = 0; at < got;) {
      const auto* entry = reinterpret_cast<const LinuxDirectoryEntry*>(entries + at);
      at += entry->length;
      if (std::strcmp(entry->name, ".") == 0 || std::strcmp(entry->name, "..") == 0) continue;
      if (unlinkat(decoderFolderDescriptor, entry->name, 0) == 0) ++removed;
    }
    if (removed == 0) break;
  }
  rmdir(decoderFolder);
}

void removeRunTemporaries() {
  T_AtomicFile::removeTemporaries();
  emptyDecoderFolder();
}

void endOnSignal(int signal) {
  removeRunTemporaries();
  _exit(128 + signal);
}

void endAtTimeLimit(int) {
  removeRunTemporaries();
  (void)!write(STDERR_FILENO, timeLimitMessage, timeLimitMessageLength);
  _exit(1);
}

void handle(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // One clean-up at a time: the others wait for the process to end.
  for (const int ending : {SIGINT, SIGTERM, SIGHUP, SIGALRM}) sigaddset(&action.sa_mask, ending);
  sigaction(signal, &action, nullptr);
}

}  // namespace

void keepDecoderTemporariesApart() {
  const char* base = std::getenv("MAGICK_TEMPORARY_PATH");
  if (base == nullptr || *base == '\0') base = std::getenv("TMPDIR");
  if (base == nullptr || *base == '\0') base = "/tmp";
  const std::string pattern = std::string(base) + "/dornick-XXXXXX";
  if (pattern.size() >= sizeof decoderFolder) return;
  std::memcpy(decoderFolder, pattern.c_str(), pattern.size() + 1);
  if (mkdtemp(decoderFolder) == nullptr) {
    decoderFolder[0] = '\0';
    return;
  }
  decoderFolderDescriptor = open(decoderFolder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  setenv("MAGICK_TEMPORARY_PATH", decoderFolder, 1);
  std::atexit(removeRunTemporaries);
}

void cleanUpOnSignals() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) handle(signal, endOnSignal);
}

void startTimeLimit(double seconds) {
  const int length = std::snprintf(timeLimitMessage, sizeof timeLimitMessage,
                                   "Dornick: the time limit of %g seconds (--max-seconds) was reached; "
                                   "nothing was written\n",
                                   seconds);
  timeLimitMessageLength = length > 0 ? static_cast<size_t>(length) : 0;
  handle(SIGALRM, endAtTimeLimit);
  itimerval timer{};
  timer.it_value.tv_sec = static_cast<time_t>(seconds);
  timer.it_value.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(timer.it_value.tv_sec)) * 1e6);
  if (timer.it_value.tv_sec == 0 && timer.it_value.tv_usec == 0) timer.it_value.tv_usec = 1;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void stopTimeLimit() {
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  sigprocmask(SIG_BLOCK, &alarm, nullptr);
  itimerval off{};
  setitimer(ITIMER_REAL, &off, nullptr);
}
