#pragma once
// The commands `list`, `upgrade` and `check`: the application's own dialogs on the headless
// backend, driven as a person would drive them (select the line, press Start, answer the warning,
// press the button when the run is over), with what the dialogs show written to the console. The
// check finds its controllers the same way and then asks them what the upgrade would ask first.
#include <functional>
#include <iosfwd>
#include <string>

#include "cli/options.h"

inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotListed = 3;
inline constexpr int kExitDeclined = 4;
inline constexpr int kExitNoUpgrade = 5;
inline constexpr int kExitNotSuccessful = 6;
inline constexpr int kExitInterrupted = 130;

// What a command talks to. main() hands in the process's streams, terminal and Ctrl-C; tests their
// own.
struct Console {
  std::string program = "bsplift";  // as the person would type it to run this binary
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  bool inputIsTerminal = false;
  bool errorIsTerminal = false;
  // Reads one line typed at the terminal; false at its end.
  std::function<bool(std::string*)> readLine;
  // True once a Ctrl-C asked the upgrade to stop.
  std::function<bool()> interrupted;
  // An upgrade dialog opened (true) or closed (false): while one is open a Ctrl-C asks it to stop.
  std::function<void(bool)> upgradeShown;
};

// Runs the main dialog for the options' seconds, then prints its device list. Returns the exit code.
int RunList(const ListOptions& options, Console& console);

// Upgrades each controller named in turn; returns the exit code (the first that did not complete).
int RunUpgrade(const UpgradeOptions& options, Console& console);

// Tells what each controller named runs and holds against the payload, changing nothing on it: the
// login, the system information and one file comparison per file of the upgrade's plan. Returns 0
// when every file is unchanged, 1 when some is not, 3 or 5 as for the upgrade (5 also when the
// connection was lost midway); with several MACs, the first code that is not 0.
int RunCheck(const CheckOptions& options, Console& console);
