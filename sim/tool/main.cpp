// bsplift-controller-sim: one simulated controller on real sockets, for the demo and the
// end-to-end tests. Runs until killed; logs one line per request on stdout.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "sim/controller.h"
#include "sim/poll_reactor.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitFailure = 1;

struct Option {
  const char* name;
  const char* value;  // nullptr for a flag
  const char* help;
};

const Option kOptions[] = {
    {"--address", "A.B.C.D", "address to bind and announce (default 127.0.0.1)"},
    {"--port", "N", "TCP port of the message service (default 7000)"},
    {"--mac", "TEXT", "MAC address as 12 hex characters (default 0050C2000001)"},
    {"--name", "TEXT", "controller name, up to 27 characters (default CONTROLLER)"},
    {"--type", "N", "system type 0-255 (default 9)"},
    {"--subtype", "N", "subtype 0-255 (default 0)"},
    {"--second-text", "TEXT", "second text of the discovery answer (default empty)"},
    {"--root", "DIR", "sandbox folder standing for the controller's disk (required)"},
    {"--reboot-seconds", "N", "time off the air after the upgrade script (default 5)"},
    {"--accept-kinds", "LIST", "accepted client kinds, e.g. 3,19 (default 19 for type 9, else 3)"},
    {"--pass-phrase", "TEXT", "pass phrase the login proof is made with (default empty)"},
    {"--no-discovery", nullptr, "do not answer discovery probes (no UDP socket at all)"},
    {"--answer-by-broadcast", nullptr, "answer probes to 255.255.255.255 at the probe's port, not to its sender"},
    {"--dry-commands", nullptr, "answer shell lines as run but run none (the disk stays as it is)"},
    {"--ignore-code", "N", "fault: never answer requests with this code (repeatable)"},
    {"--ignore-command", "LINE", "fault: run this shell line but never answer it (repeatable)"},
    {"--refuse-file", "NAME", "fault: refuse the announcement of this file, e.g. BSP/UPGRADE\\X (repeatable)"},
    {"--answer-delay-ms", "N", "fault: send every answer this much later"},
    {"--drop-after-chunk-bytes", "N", "fault: close a connection after N file chunk bytes"},
    {"--stall-after-bytes", "N", "fault: stop reading a connection after N bytes"},
    {"--stall-ms", "N", "fault: with --stall-after-bytes, read on after N ms (default: never)"},
    {"--broken-length-on", "N", "fault: answer this request code with a header of a broken length"},
    {"--broken-length-value", "N", "fault: the length field sent by --broken-length-on (default -1)"},
    {"--flood-per-second", "N", "fault: unrequested messages to all sinks per connection and second"},
    {"--never-return", nullptr, "fault: stay off the air after the upgrade script"},
    {"--silent", nullptr, "fault: send no unrequested messages to all sinks (answers still go)"},
    {"--help", nullptr, "show this help"},
};

void PrintHelp() {
  std::cout << "usage: bsplift-controller-sim --root DIR [options]\n"
               "Simulated controller on real sockets; discovery binds 0.0.0.0:444 (needs root).\n"
               "Every shell line received is appended to DIR/commands.log.\n\n";
  for (const Option& option : kOptions) {
    std::string left = std::string(option.name) + (option.value ? std::string(" ") + option.value : "");
    std::printf("  %-32s %s\n", left.c_str(), option.help);
  }
  std::fflush(stdout);
}

int Usage(const std::string& message) {
  std::cerr << "bsplift-controller-sim: " << message << " (see --help)\n";
  return kExitUsage;
}

template <typename T>
bool ParseNumber(const std::string& text, T min, T max, T* out) {
  T value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) return false;
  *out = value;
  return true;
}

bool ParseKinds(const std::string& text, std::vector<int>* kinds) {
  std::stringstream in(text);
  kinds->clear();
  for (std::string part; std::getline(in, part, ',');) {
    int kind = 0;
    if (!ParseNumber(part, 0, 0x7FFFFFFF, &kind)) return false;
    kinds->push_back(kind);
  }
  return !kinds->empty();
}

// Dotted quad to an address in network order.
bool ParseAddress(const std::string& text, uint32_t* out) {
  std::stringstream in(text);
  uint8_t octets[4];
  int count = 0;
  for (std::string part; std::getline(in, part, '.');) {
    if (count == 4 || !ParseNumber<uint8_t>(part, 0, 255, &octets[count])) return false;
    ++count;
  }
  if (count != 4 || text.back() == '.') return false;
  *out = platform::MakeAddress(octets[0], octets[1], octets[2], octets[3]);
  return true;
}

bool ParseMac(const std::string& text) {
  if (text.size() != 12) return false;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Fills config from the arguments; 0 when they are fine, else the exit code (help: -1).
int ParseArguments(int argc, char** argv, sim::ControllerConfig* config) {
  config->address = platform::MakeAddress(127, 0, 0, 1);
  bool haveRoot = false;
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    const Option* option = nullptr;
    for (const Option& candidate : kOptions) {
      if (name == candidate.name) option = &candidate;
    }
    if (!option) return Usage("unknown option " + name);
    std::string value;
    if (option->value) {
      if (i + 1 >= argc) return Usage(name + " needs a value " + option->value);
      value = argv[++i];
    }
    bool ok = true;
    sim::ControllerFaults& faults = config->faults;
    if (name == "--help") {
      PrintHelp();
      return -1;
    } else if (name == "--address") {
      ok = ParseAddress(value, &config->address);
    } else if (name == "--port") {
      ok = ParseNumber<uint16_t>(value, 1, 65535, &config->port);
    } else if (name == "--mac") {
      ok = ParseMac(value);
      config->mac = value;
    } else if (name == "--name") {
      ok = !value.empty() && value.size() < 28;
      config->name = value;
    } else if (name == "--type") {
      ok = ParseNumber<uint8_t>(value, 0, 255, &config->type);
    } else if (name == "--subtype") {
      ok = ParseNumber<uint8_t>(value, 0, 255, &config->subtype);
    } else if (name == "--second-text") {
      ok = value.size() < sim::kDiscoveryAnswerBytes - 52;
      config->secondText = value;
    } else if (name == "--root") {
      ok = haveRoot = !value.empty();
      config->root = value;
    } else if (name == "--reboot-seconds") {
      ok = ParseNumber<uint32_t>(value, 0, 24 * 3600, &config->rebootSeconds);
    } else if (name == "--accept-kinds") {
      ok = ParseKinds(value, &config->acceptedKinds);
    } else if (name == "--pass-phrase") {
      config->passPhrase = value;
    } else if (name == "--no-discovery") {
      config->discovery = false;
    } else if (name == "--answer-by-broadcast") {
      config->answerByBroadcast = true;
    } else if (name == "--dry-commands") {
      config->dryCommands = true;
    } else if (name == "--ignore-code") {
      int code = 0;
      ok = ParseNumber(value, 0, 32767, &code);
      faults.ignoredCodes.insert(code);
    } else if (name == "--ignore-command") {
      ok = !value.empty();
      faults.ignoredCommands.insert(value);
    } else if (name == "--refuse-file") {
      ok = !value.empty();
      faults.refusedFiles.insert(value);
    } else if (name == "--answer-delay-ms") {
      ok = ParseNumber<uint32_t>(value, 0, 3600u * 1000u, &faults.answerDelayMs);
    } else if (name == "--drop-after-chunk-bytes") {
      ok = ParseNumber<int64_t>(value, 0, INT64_MAX, &faults.dropAfterChunkBytes);
    } else if (name == "--stall-after-bytes") {
      ok = ParseNumber<int64_t>(value, 0, INT64_MAX, &faults.stallAfterBytes);
    } else if (name == "--stall-ms") {
      ok = ParseNumber<uint32_t>(value, 1, 3600u * 1000u, &faults.stallMs);
    } else if (name == "--broken-length-on") {
      ok = ParseNumber(value, 1, 32767, &faults.brokenLengthOn);
    } else if (name == "--broken-length-value") {
      ok = ParseNumber<int32_t>(value, INT32_MIN, INT32_MAX, &faults.brokenLength);
    } else if (name == "--flood-per-second") {
      ok = ParseNumber<uint32_t>(value, 1, 1000000, &faults.floodPerSecond);
    } else if (name == "--never-return") {
      faults.neverReturn = true;
    } else if (name == "--silent") {
      faults.silent = true;
    }
    if (!ok) return Usage("bad value for " + name + ": " + value);
  }
  if (!haveRoot) return Usage("--root DIR is required");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  sim::ControllerConfig config;
  int parsed = ParseArguments(argc, argv, &config);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;
  // Broadcasts arrive on a socket bound to any address, not on one bound to the announced one.
  config.discoveryOnAnyAddress = true;
  config.seed = platform::GetTickCount();
  config.log = [](const std::string& line) { std::cout << line << std::endl; };

  sim::PollReactor reactor;
  sim::Controller controller(config);
  if (!controller.Start(reactor)) return kExitFailure;
  return reactor.Run() == 0 ? 0 : kExitFailure;
}
