#pragma once
// The command line of bsplift: which command, and its options. Options may come before or after the
// MACs; both "--wait 5" and "--wait=5" are taken.
#include <cstdint>
#include <string>
#include <vector>

enum class CommandKind { Windows, Help, List, Upgrade, Check };

struct ListOptions {
  uint32_t seconds = 3;
  bool json = false;
  std::string filter;  // a "Show Only:" entry as the dialog spells it; empty: leave the filter alone
  bool diagnostic = false;
};

struct UpgradeOptions {
  std::vector<std::string> macs;  // as given; each holds 12 hex digits once ':' and '-' are dropped
  bool yes = false;
  uint32_t waitSeconds = 10;
  std::string directory;  // the payload root to run in; empty: where bsplift was started
};

struct CheckOptions {
  std::vector<std::string> macs;  // as given, like the upgrade's
  uint32_t waitSeconds = 10;      // for all of them to be listed
  std::string directory;          // the payload root to compare with; empty: where bsplift was started
  bool json = false;
};

struct CommandLine {
  CommandKind kind = CommandKind::Windows;
  ListOptions list;
  UpgradeOptions upgrade;
  CheckOptions check;
};

// `args` without the program name. 1 when understood; otherwise 0 with a one-line reason in *error.
int ParseCommandLine(const std::vector<std::string>& args, CommandLine* command, std::string* error);

// The --help text.
// `withWindows`: this build opens the dialogs as windows when no command is given.
std::string UsageText(bool withWindows = false);

// A MAC as the comparison sees it: ':' and '-' dropped, letters in upper case.
std::string NormalizeMac(const std::string& mac);
