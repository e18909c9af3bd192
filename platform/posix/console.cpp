#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "platform/console.h"

namespace platform {

namespace {

volatile sig_atomic_t soft = 0;
volatile sig_atomic_t requested = 0;
const char* volatile softNotice = "";

// Only async-signal-safe calls in here: write and _exit.
void OnInterrupt(int) {
  if (soft && !requested) {
    requested = 1;
    const char* notice = softNotice;
    ssize_t ignored = write(STDERR_FILENO, notice, std::strlen(notice));
    (void)ignored;
    return;
  }
  _exit(130);
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  int fd = stream == StandardStream::Input ? STDIN_FILENO : stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO;
  return isatty(fd) == 1;
}

// A terminal program's streams are always connected.
void AttachConsole() {}

void InstallInterruptHandler() {
  // Started with Ctrl-C ignored (in the background of a script): it stays ignored.
  struct sigaction current {};
  if (sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Restarted calls: a Ctrl-C must not look like a failed socket wait or read to the program.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void SetInterruptSoft(bool on, const char* notice) {
  softNotice = notice ? notice : "";
  soft = on ? 1 : 0;
}

bool InterruptRequested() { return requested != 0; }

}  // namespace platform
