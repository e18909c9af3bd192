#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/options.h"
#include "platform/console.h"

namespace {

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
  if (!ParseCommandLine(args, &command, &error)) {
    std::cerr << "bsplift: " << error << '\n';
    return kExitUsage;
  }
  Console console = ProcessConsole(argv[0]);
  platform::InstallInterruptHandler();
  switch (command.kind) {
    case CommandKind::Help:
      std::cout << UsageText();
      return 0;
    case CommandKind::List:
      return RunList(command.list, console);
    case CommandKind::Upgrade:
      return RunUpgrade(command.upgrade, console);
    case CommandKind::Windows:
      break;
  }
  // The windows come with a toolkit backend; until then this build has only the commands.
  std::cerr << UsageText();
  return kExitUsage;
}
