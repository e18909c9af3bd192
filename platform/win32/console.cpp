#include "platform/win32/windows_api.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace platform {

namespace {

std::atomic<bool> soft{false};
std::atomic<bool> requested{false};
std::atomic<const char*> softNotice{""};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (soft && !requested.exchange(true)) {
    const char* notice = softNotice;
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), notice, DWORD(std::strlen(notice)), &written, nullptr);
    return TRUE;
  }
  ::ExitProcess(130);
}

bool Known(DWORD stdHandle) {
  HANDLE h = ::GetStdHandle(stdHandle);
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  DWORD id = stream == StandardStream::Input ? STD_INPUT_HANDLE
             : stream == StandardStream::Output ? STD_OUTPUT_HANDLE
                                                 : STD_ERROR_HANDLE;
  HANDLE h = ::GetStdHandle(id);
  DWORD mode = 0;
  // NUL is a character device too; only a console has a console mode.
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) == FILE_TYPE_CHAR && ::GetConsoleMode(h, &mode);
}

// The executable is a windows program, so that a double click opens no console. Started from a
// console it gets none either: it takes its parent's, for the commands to print to. Streams
// already redirected to a file or a pipe stay where they are.
void AttachConsole() {
  bool out = Known(STD_OUTPUT_HANDLE), err = Known(STD_ERROR_HANDLE), in = Known(STD_INPUT_HANDLE);
  if (out && err && in) return;
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!out) std::freopen("CONOUT$", "w", stdout);
  if (!err) std::freopen("CONOUT$", "w", stderr);
  if (!in) std::freopen("CONIN$", "r", stdin);
}

void InstallInterruptHandler() { ::SetConsoleCtrlHandler(OnControl, TRUE); }

void SetInterruptSoft(bool on, const char* notice) {
  softNotice = notice ? notice : "";
  soft = on;
}

bool InterruptRequested() { return requested; }

}  // namespace platform
