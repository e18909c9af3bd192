#include "cli/options.h"

#include <cctype>
#include <cstdlib>

#include "discovery/device_types.h"

namespace {

// A whole day is far more than any wait a person means; a larger figure is a typing slip.
constexpr uint32_t kMaxSeconds = 86400;

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string FilterEntriesText() {
  std::string text;
  for (const char* entry : kFilterEntries) text += std::string(text.empty() ? "" : ", ") + entry;
  return text;
}

int ParseSeconds(const std::string& option, const std::string& value, uint32_t* seconds, std::string* error) {
  char* end = nullptr;
  unsigned long n = std::strtoul(value.c_str(), &end, 10);
  if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' || n > kMaxSeconds) {
    *error = option + " wants a number of seconds from 0 to " + std::to_string(kMaxSeconds) + ", not \"" + value + "\"";
    return 0;
  }
  *seconds = uint32_t(n);
  return 1;
}

// Splits "--name=value"; a bare "--name" leaves *value empty and *inlineValue false.
void SplitOption(const std::string& arg, std::string* name, std::string* value, bool* inlineValue) {
  size_t eq = arg.find('=');
  *inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
  *name = *inlineValue ? arg.substr(0, eq) : arg;
  *value = *inlineValue ? arg.substr(eq + 1) : "";
}

// The options of a command that takes MACs (upgrade, check): where each one goes; a null flag is
// one the command does not take.
struct MacCommand {
  const char* verb;
  const char* action;  // "name the MAC address of the controller to <action>"
  std::vector<std::string>* macs;
  uint32_t* waitSeconds;
  std::string* directory;
  bool* yes = nullptr;
  bool* json = nullptr;
};

class Parser {
 public:
  Parser(const std::vector<std::string>& args, std::string* error) : args(args), error(error) {}

  // The option's value: inline, or the next argument.
  int Value(const std::string& name, const std::string& inlineValue, bool hasInline, std::string* value) {
    if (hasInline) {
      *value = inlineValue;
      return 1;
    }
    if (next >= args.size()) {
      *error = name + " needs a value";
      return 0;
    }
    *value = args[next++];
    return 1;
  }

  int ParseList(ListOptions* list) {
    while (next < args.size()) {
      std::string name, value;
      bool hasInline = false;
      SplitOption(args[next++], &name, &value, &hasInline);
      if (name == "--seconds") {
        if (!Value(name, value, hasInline, &value) || !ParseSeconds(name, value, &list->seconds, error)) return 0;
      } else if (name == "--filter") {
        if (!Value(name, value, hasInline, &value) || !ParseFilter(value, &list->filter)) return 0;
      } else if (name == "--json" && !hasInline) {
        list->json = true;
      } else if (name == "--diagnostic" && !hasInline) {
        list->diagnostic = true;
      } else {
        *error = "list: unknown option \"" + args[next - 1] + "\"";
        return 0;
      }
    }
    return 1;
  }

  int ParseUpgrade(UpgradeOptions* upgrade) {
    MacCommand command{"upgrade", "upgrade", &upgrade->macs, &upgrade->waitSeconds, &upgrade->directory};
    command.yes = &upgrade->yes;
    return ParseMacCommand(command);
  }

  int ParseCheck(CheckOptions* check) {
    MacCommand command{"check", "check", &check->macs, &check->waitSeconds, &check->directory};
    command.json = &check->json;
    return ParseMacCommand(command);
  }

  size_t next = 1;

 private:
  int ParseMacCommand(const MacCommand& command) {
    const std::string verb = command.verb;
    while (next < args.size()) {
      std::string name, value;
      bool hasInline = false;
      SplitOption(args[next++], &name, &value, &hasInline);
      if (name == "--wait") {
        if (!Value(name, value, hasInline, &value) || !ParseSeconds(name, value, command.waitSeconds, error)) return 0;
      } else if (name == "-C" || name == "--directory") {
        if (!Value(name, value, hasInline, command.directory)) return 0;
        if (command.directory->empty()) {
          *error = name + " needs a folder";
          return 0;
        }
      } else if (command.yes && (name == "--yes" || name == "-y") && !hasInline) {
        *command.yes = true;
      } else if (command.json && name == "--json" && !hasInline) {
        *command.json = true;
      } else if (!name.empty() && name[0] == '-') {
        *error = verb + ": unknown option \"" + args[next - 1] + "\"";
        return 0;
      } else if (!IsMac(name)) {
        *error = verb + ": \"" + name + "\" is not a MAC address (12 hex digits, ':' or '-' between them allowed)";
        return 0;
      } else {
        command.macs->push_back(name);
      }
    }
    if (command.macs->empty()) {
      *error = verb + ": name the MAC address of the controller to " + command.action;
      return 0;
    }
    return 1;
  }

  int ParseFilter(const std::string& value, std::string* filter) {
    for (const char* entry : kFilterEntries) {
      if (EqualIgnoringCase(value, entry)) {
        *filter = entry;
        return 1;
      }
    }
    *error = "list: unknown filter entry \"" + value + "\" (entries: " + FilterEntriesText() + ")";
    return 0;
  }

  static bool IsMac(const std::string& text) {
    std::string mac = NormalizeMac(text);
    if (mac.size() != 12) return false;
    for (char c : mac) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    }
    return true;
  }

  const std::vector<std::string>& args;
  std::string* error;
};

}  // namespace

std::string NormalizeMac(const std::string& mac) {
  std::string normal;
  for (char c : mac) {
    if (c != ':' && c != '-') normal += char(std::toupper(static_cast<unsigned char>(c)));
  }
  return normal;
}

int ParseCommandLine(const std::vector<std::string>& args, CommandLine* command, std::string* error) {
  *command = CommandLine{};
  if (args.empty()) return 1;
  const std::string& verb = args[0];
  for (const std::string& arg : args) {
    if (arg == "-h" || arg == "--help") {
      command->kind = CommandKind::Help;
      return 1;
    }
  }
  Parser parser(args, error);
  if (verb == "list") {
    command->kind = CommandKind::List;
    return parser.ParseList(&command->list);
  }
  if (verb == "upgrade") {
    command->kind = CommandKind::Upgrade;
    return parser.ParseUpgrade(&command->upgrade);
  }
  if (verb == "check") {
    command->kind = CommandKind::Check;
    return parser.ParseCheck(&command->check);
  }
  *error = "unknown command \"" + verb + "\" (commands: list, upgrade, check; see bsplift --help)";
  return 0;
}

std::string UsageText(bool withWindows) {
  return std::string("usage: bsplift list [--seconds N] [--json] [--filter ENTRY] [--diagnostic]\n"
                     "       bsplift upgrade MAC [MAC...] [--yes] [--wait SECONDS] [-C DIR]\n"
                     "       bsplift check MAC [MAC...] [--wait SECONDS] [-C DIR] [--json]\n"
                     "       bsplift --help\n") +
         (withWindows ? "       bsplift          (no command) the device list and the upgrade as windows, on a display\n"
                      : "") +
         "\n"
         "list     listens for controllers for N seconds (default 3) and prints the device list,\n"
         "         one line per controller (MAC, IPv4 address, model, tab-separated). The first\n"
         "         answers are read about 2 s in, so fewer than 3 seconds may list nothing.\n"
         "  --json        a JSON array of {mac, address, port, type, subtype, model, name, line} instead\n"
         "  --filter ENTRY  show only one product line: " + FilterEntriesText() + "\n"
         "  --diagnostic  every controller, with its type and subtype codes in front\n"
         "\n"
         "upgrade  replaces the board support package of each controller named by its MAC, in turn,\n"
         "         with the files of BSP/UPGRADE below the current folder. Each log line of the upgrade\n"
         "         goes to stdout; on a terminal the progress bars are drawn on stderr.\n"
         "  --yes         answer the warning with Yes (otherwise it asks [y/N] on the terminal)\n"
         "  --wait SECONDS  how long to wait for each controller to be listed (default 10)\n"
         "  -C DIR        run in DIR, the folder that holds BSP/UPGRADE\n"
         "  Ctrl-C        stops after the current step (the controller is then not upgraded);\n"
         "                a second Ctrl-C quits at once\n"
         "\n"
         "exit codes: 0 completed, 1 upgrade failed, 2 usage error, 3 not listed in time,\n"
         "            4 warning declined, 5 no upgrade began (connection, login or system information\n"
         "            failed), 6 upgrade began but was not successful, 130 quit by a second Ctrl-C.\n"
         "            With several MACs: the code of the first that did not complete (130 for\n"
         "            those skipped after a Ctrl-C).\n"
         "\n"
         "check    tells what each controller named holds against the payload, and changes nothing\n"
         "         on it: logs in, prints its system information, then compares each file of the\n"
         "         upgrade's plan (BSP/UPGRADE below the current folder) with the controller's copy\n"
         "         in its upgrade folder by size and byte sum, one line per file as it is answered:\n"
         "         \"unchanged\", \"differs\" (with both sizes), \"missing\" (the controller holds none,\n"
         "         or did not answer), \"unreadable\" (cannot be opened here) or \"copied\" (this PC\n"
         "         as the target). An upgrade empties that folder first and sends every file anyway:\n"
         "         after one, all \"unchanged\" means the controller holds this payload.\n"
         "  --json        a JSON array with one object per controller instead\n"
         "  --wait SECONDS, -C DIR  as for upgrade (the wait is for all of them to be listed)\n"
         "  exits 0 when every file is unchanged, 1 when some file is not, 2 on a usage error or\n"
         "  without BSP/UPGRADE, 3 when not listed in time, 5 when the connection, the login or the\n"
         "  system information failed or the connection was lost; with several MACs, the code of\n"
         "  the first that is not 0. Ctrl-C quits at once (130).\n"
         "\n"
         "Port 444 needs root, or: sudo setcap cap_net_bind_service+ep $(command -v bsplift)\n";
}
