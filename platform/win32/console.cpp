#include "platform/win32/windows_api.h"

#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/console.h"

namespace platform {

namespace {

std::atomic<bool> soft{false};
std::atomic<bool> requested{false};
std::atomic<const char*> softNotice{""};

// The handle behind a C stream. After AttachConsole and freopen the streams write to the console
// while the process's standard handles may still be the empty ones it started with.
HANDLE HandleOf(FILE* stream) {
  intptr_t h = _get_osfhandle(_fileno(stream));
  return h == -1 || h == -2 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(h);
}

// Runs on a thread of its own that the system starts for the event. TerminateProcess, not
// ExitProcess: the main thread may hold a lock that a DLL's detach code would wait for.
BOOL WINAPI OnControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (soft && !requested.exchange(true)) {
    const char* notice = softNotice;
    DWORD written = 0;
    ::WriteFile(HandleOf(stderr), notice, DWORD(std::strlen(notice)), &written, nullptr);
    return TRUE;
  }
  ::TerminateProcess(::GetCurrentProcess(), 130);
  return TRUE;
}

bool Known(DWORD stdHandle) {
  HANDLE h = ::GetStdHandle(stdHandle);
  return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileType(h) != FILE_TYPE_UNKNOWN;
}

}  // namespace

// A console, and for output one that draws the bars' escape sequences ("\r\033[K") instead of
// printing them: the console is asked to, and one that cannot counts as no terminal, so that the
// bars are left out.
bool IsTerminal(StandardStream stream) {
  FILE* file = stream == StandardStream::Input ? stdin : stream == StandardStream::Output ? stdout : stderr;
  HANDLE h = HandleOf(file);
  DWORD mode = 0;
  // NUL is a character device too; only a console has a console mode.
  if (h == INVALID_HANDLE_VALUE || ::GetFileType(h) != FILE_TYPE_CHAR || !::GetConsoleMode(h, &mode)) return false;
  if (stream == StandardStream::Input) return true;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) || ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
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
