#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/console.h"
#ifdef BSPLIFT_WITH_WINDOWS
#include "app/app.h"
#include "ui/wx/wx_windows.h"
#endif
#ifdef BSPLIFT_WITH_WIN32
#include "app/app.h"
#include "ui/win32/win32_windows.h"
#endif

namespace {

#if defined(BSPLIFT_WITH_WINDOWS) || defined(BSPLIFT_WITH_WIN32)
constexpr bool kWithWindows = true;
#else
constexpr bool kWithWindows = false;
#endif

constexpr const char* kStopNotice =
    "\nStopping after the current step: a run stopped before its end leaves the controller not upgraded. "
    "Ctrl-C again quits at once.\n";

Console ProcessConsole(const char* program) {
  Console console;
  console.program = program;
  console.out = &std::cout;
  console.err = &std::cerr;
  console.inputIsTerminal = platform::IsTerminal(platform::StandardStream::Input);
  console.errorIsTerminal = platform::IsTerminal(platform::StandardStream::Error);
  console.readLine = [](std::string* line) { return bool(std::getline(std::cin, *line)); };
  console.interrupted = [] { return platform::InterruptRequested(); };
  console.upgradeShown = [](bool shown) { platform::SetInterruptSoft(shown, kStopNotice); };
  return console;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine command;
  std::string error;
  bool parsed = ParseCommandLine(args, &command, &error);
  // On Windows the windows take no console: the prompt they were started from has moved on, and
  // a Ctrl-C typed there later must not end them.
#ifdef _WIN32
  const bool withConsole = !parsed || command.kind != CommandKind::Windows;
#else
  const bool withConsole = true;
#endif
  if (withConsole) platform::AttachConsole();
  if (!parsed) {
    std::cerr << "bsplift: " << error << '\n';
    return kExitUsage;
  }
  Console console = ProcessConsole(argv[0]);
  if (withConsole) platform::InstallInterruptHandler();
  switch (command.kind) {
    case CommandKind::Help:
      std::cout << UsageText(kWithWindows);
      return 0;
    case CommandKind::List:
      return RunList(command.list, console);
    case CommandKind::Upgrade:
      return RunUpgrade(command.upgrade, console);
    case CommandKind::Check:
      return RunCheck(command.check, console);
    case CommandKind::Windows:
      break;
  }
#ifdef BSPLIFT_WITH_WINDOWS
  int shown = ui::wx::RunWithWindows(argc, argv, [] {
    CPKGLIFTApp app;
    return app.InitInstance();
  });
  if (shown >= 0) return shown;
  std::cerr << "bsplift: no display to open the windows on; the commands work without one:\n";
#endif
#ifdef BSPLIFT_WITH_WIN32
  return ui::win32::RunWithWindows([] {
    CPKGLIFTApp app;
    return app.InitInstance();
  });
#endif
  std::cerr << UsageText(kWithWindows);
  return kExitUsage;
}
