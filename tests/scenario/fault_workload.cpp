#include "tests/scenario/fault_workload.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <sstream>

#include "app/main_dialog.h"
#include "platform/sim/world.h"
#include "tests/scenario/installer.h"
#include "tests/scenario/upgrade_lines.h"
#include "tests/support/controller_site.h"
#include "tests/support/fake_controllers.h"

namespace testing_support {
namespace {

constexpr char kMac[] = "0050C2000001";
constexpr char kSystemType[] = "r5 i.MX6";
constexpr char kPayloadPrefix[] = "BSP/UPGRADE\\";
constexpr int kAttempts = 5;

// Request codes, as the controller's log names them.
constexpr int kChallenge = 14, kLogin = 27, kSystemInfo = 8120, kShell = 8376, kCompare = 14030, kAnnounce = 14032;

// The time-outs an upgrade runs under, as an installer is told them: what bounds a run.
constexpr uint64_t kQueryMs = 30000, kLoginMs = 10000, kShellMs = 60000, kCompareMs = 30000, kAnnounceMs = 60000;
constexpr uint64_t kConnectMs = 21000, kSendStallMs = 10000, kReturnWaitMs = 2000 + 3000 * 200;

// ---------------------------------------------------------------------------------------------
// the plan

class Dice {
 public:
  explicit Dice(uint64_t seed) : rng(seed) {}
  uint64_t Between(uint64_t low, uint64_t high) { return std::uniform_int_distribution<uint64_t>(low, high)(rng); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(rng); }
  template <typename T>
  T Pick(std::initializer_list<T> values) {
    return *(values.begin() + Between(0, values.size() - 1));
  }

 private:
  std::mt19937_64 rng;
};

size_t FileSize(Dice& dice) {
  uint64_t kind = dice.Between(0, 99);
  if (kind < 25) return dice.Between(0, 100);
  if (kind < 60) return dice.Between(101, 20000);
  if (kind < 90) return dice.Between(20001, 400000);
  return dice.Between(400001, 3000000);
}

}  // namespace

FaultPlan MakeFaultPlan(uint64_t seed) {
  Dice dice(seed);
  FaultPlan plan;
  plan.seed = seed;
  // About one run in three wraps the tick counter somewhere in its first twenty minutes.
  plan.startTick = dice.Chance(0.35) ? uint32_t(0xFFFFFFFFu - dice.Between(0, 20 * 60 * 1000)) : uint32_t(dice.Between(0, 1u << 30));
  int count = int(dice.Between(0, 5));
  for (int i = 0; i < count; ++i) {
    PlannedFile file;
    file.name = i == 0 ? "upgrade.sh" : "part" + std::to_string(i) + ".bin";
    file.size = FileSize(dice);
    file.pattern = uint8_t(dice.Between(0, 255));
    file.unchanged = dice.Chance(0.25);
    plan.files.push_back(file);
  }
  plan.dryCommands = dice.Chance(0.2);
  plan.lookAlikes = dice.Chance(0.3) ? int(dice.Between(1, 3)) : 0;
  plan.rebootSeconds = dice.Pick<uint32_t>({3, 5, 30, 120, 400});

  // A third of the runs meet no harm at all; the others one or two faults, now and then more.
  int faults = dice.Chance(0.33) ? 0 : int(dice.Pick<int>({1, 1, 1, 2, 2, 3}));
  for (int f = 0; f < faults; ++f) {
    switch (dice.Between(0, 11)) {
      case 0:
        plan.closeAfterBytes = int64_t(dice.Between(0, 400000));
        break;
      case 1:
        plan.resetConnection = dice.Chance(0.8) ? 2 : 1;
        plan.resetAfterBytes = int64_t(dice.Between(0, 600000));
        break;
      case 2:
        if (dice.Chance(0.5)) {
          plan.stallAfterBytes = int64_t(dice.Between(0, 500000));
        } else {
          plan.stallAtChunks = int(dice.Between(2, 6));
        }
        plan.stallMs = dice.Pick<uint32_t>({0, 500, 3000, 9000, 15000, 70000});
        break;
      case 3: {
        int code = dice.Pick<int>({kChallenge, kLogin, kSystemInfo, kShell, kCompare, kAnnounce});
        uint32_t timeout = code == kLogin ? kLoginMs : code == kShell || code == kAnnounce ? kShellMs : kQueryMs;
        // Just in time, just too late, or far too late.
        plan.delayedCodes[code] = uint32_t(dice.Pick<double>({0.3, 0.95, 1.05, 2.5}) * timeout);
        break;
      }
      case 4:
        plan.ignoredCodes.insert(dice.Pick<int>({kChallenge, kLogin, kSystemInfo, kShell, kCompare, kAnnounce}));
        break;
      case 5:
        plan.ignoredCommand = kShellSteps[dice.Between(0, 6)].command;
        break;
      case 6:
        plan.brokenLengthOn = dice.Pick<int>({kChallenge, kSystemInfo, kShell, kCompare, kAnnounce});
        plan.brokenLength = dice.Pick<int32_t>({-1, INT32_MIN, 999993, 0x7FFFFFFF});
        break;
      case 7:
        plan.floodPerSecond = dice.Pick<uint32_t>({20, 200, 1000});
        break;
      case 8:
        if (dice.Chance(0.5)) {
          plan.neverReturn = true;
        } else {
          plan.rebootSeconds = dice.Pick<uint32_t>({590, 700});
        }
        break;
      case 9:
        for (uint64_t n = dice.Between(1, 3); n > 0; --n) {
          LinkChange change;
          change.atMs = uint32_t(dice.Between(0, 120000));
          change.controllerSide = dice.Chance(0.5);
          change.latencyMs = dice.Pick<uint32_t>({0, 5, 100, 800});
          change.bytesPerMs = dice.Pick<uint32_t>({0, 50, 500, 5000});
          plan.linkChanges.push_back(change);
        }
        break;
      case 10:
        for (uint64_t n = dice.Between(1, 3); n > 0; --n) {
          DatagramFault fault;
          fault.atMs = uint32_t(dice.Between(0, 200000));
          fault.lose = int(dice.Between(0, 20));
          fault.cut = int(dice.Between(0, 5));
          fault.cutToBytes = int(dice.Between(0, 179));
          plan.datagramFaults.push_back(fault);
        }
        break;
      default:
        plan.lookAlikes = int(dice.Between(1, 4));
        plan.floodPerSecond = std::max<uint32_t>(plan.floodPerSecond, 100);
        break;
    }
  }
  return plan;
}

bool FaultPlan::Harmless() const {
  if (closeAfterBytes >= 0 || resetAfterBytes >= 0 || !ignoredCommand.empty() || brokenLengthOn != 0 || neverReturn) {
    return false;
  }
  // A comparison that goes unanswered, or too late, only costs a transfer.
  for (int code : ignoredCodes) {
    if (code != kCompare) return false;
  }
  for (const auto& [code, delayMs] : delayedCodes) {
    uint64_t timeout = code == kLogin ? kLoginMs : code == kShell || code == kAnnounce ? kShellMs : kQueryMs;
    // Just in time on a fast link may be too late on a slow one, behind a flood.
    if (code != kCompare && delayMs + 5000 >= timeout) return false;
  }
  // A stall the send time-out outlasts; a reboot well inside the return wait. Slow links, lost
  // datagrams, floods and look-alikes only cost time.
  if ((stallAfterBytes >= 0 || stallAtChunks > 0) && (stallMs == 0 || stallMs >= kSendStallMs)) return false;
  return uint64_t(rebootSeconds) * 1000 + 10000 < kReturnWaitMs;
}

uint64_t FaultPlan::BoundMs() const {
  uint64_t bytes = 0;
  for (const PlannedFile& file : files) bytes += file.size;
  uint32_t slowest = 0, latency = 0;
  for (const LinkChange& change : linkChanges) {
    if (change.bytesPerMs && (!slowest || change.bytesPerMs < slowest)) slowest = change.bytesPerMs;
    latency = std::max(latency, change.latencyMs);
  }
  uint64_t delays = 0;
  for (const auto& entry : delayedCodes) delays = std::max<uint64_t>(delays, entry.second);
  // Listing, the two logins and the system information question.
  uint64_t bound = 60000 + 2 * (kConnectMs + kQueryMs + kLoginMs) + kQueryMs;
  bound += 5000 + 7 * kShellMs;
  // Every file may take all its attempts, each with its questions, a send that gives up, and
  // the pause before the next attempt; the bytes themselves cross the slowest link.
  bound += files.size() * kAttempts * (kCompareMs + kAnnounceMs + kSendStallMs + 1500);
  bound += slowest ? kAttempts * bytes / slowest : 0;
  bound += stallAfterBytes >= 0 || stallAtChunks > 0 ? uint64_t(stallMs) : 0;
  bound += kReturnWaitMs + 5000;
  // Latency and late answers stretch every exchange a little; a minute's slack covers the rest.
  return bound + 200ull * latency + delays + 60000;
}

std::string FaultPlan::Describe() const {
  std::ostringstream out;
  out << "seed " << seed << ": start tick " << startTick << ", files";
  for (const PlannedFile& file : files) out << " " << file.name << "(" << file.size << (file.unchanged ? ",same" : "") << ")";
  if (files.empty()) out << " none";
  if (dryCommands) out << ", dry commands";
  if (closeAfterBytes >= 0) out << ", close after " << closeAfterBytes << " bytes";
  if (resetAfterBytes >= 0) out << ", reset #" << resetConnection << " after " << resetAfterBytes << " bytes";
  if (stallAfterBytes >= 0) out << ", stall after " << stallAfterBytes << " bytes for " << stallMs << " ms";
  if (stallAtChunks > 0) out << ", stall at a window full after " << stallAtChunks << " chunks for " << stallMs << " ms";
  for (int code : ignoredCodes) out << ", never answers " << code;
  for (const auto& [code, ms] : delayedCodes) out << ", answers " << code << " " << ms << " ms late";
  if (!ignoredCommand.empty()) out << ", never answers [" << ignoredCommand << "]";
  if (brokenLengthOn) out << ", answers " << brokenLengthOn << " with length " << brokenLength;
  if (floodPerSecond) out << ", floods " << floodPerSecond << "/s";
  out << ", reboots " << rebootSeconds << " s" << (neverReturn ? " and never returns" : "");
  if (lookAlikes) out << ", " << lookAlikes << " look-alikes";
  for (const LinkChange& c : linkChanges) {
    out << ", at " << c.atMs << " ms " << (c.controllerSide ? "controller" : "pc") << " link " << c.latencyMs << " ms "
        << c.bytesPerMs << " B/ms";
  }
  for (const DatagramFault& d : datagramFaults) {
    out << ", at " << d.atMs << " ms lose " << d.lose << " cut " << d.cut << " to " << d.cutToBytes;
  }
  out << (Harmless() ? " [harmless]" : "");
  return out.str();
}

std::string ReplayCommand(uint64_t seed) {
  return "BSPLIFT_SEED=" + std::to_string(seed) + " build/tests/scenario_fault_workload_test";
}

namespace {

// ---------------------------------------------------------------------------------------------
// the log, read as an installer reads it

enum class Verdict { Done, Failed, Broken };

class LogReader {
 public:
  explicit LogReader(const Lines& log) : log(log) {}

  // The whole log: "" and the outcome, or what is wrong with it.
  std::string Read(std::string* outcome, const std::vector<std::string>& order) {
    if (!Expect("Starting Update Procedure") || !Expect(std::string("System Type: ") + kSystemType)) return problem;
    for (int operation = 1; operation <= 5; ++operation) {
      Verdict v = Shell(operation);
      if (v != Verdict::Done) return Ending(v, outcome);
    }
    for (const std::string& name : order) {
      Verdict v = Copy(name);
      if (v != Verdict::Done) return Ending(v, outcome);
    }
    for (int operation = 6; operation <= 7; ++operation) {
      Verdict v = Shell(operation);
      if (v != Verdict::Done) return Ending(v, outcome);
    }
    if (!Expect(kReturnInitiated) || !Expect(kReturnWaiting)) return problem;
    if (At(kReturnSeen)) {
      ++at;
      if (!Expect(kRunCompleted)) return problem;
      *outcome = "completed";
      return AtEnd();
    }
    return Ending(Verdict::Failed, outcome);
  }

 private:
  bool At(const std::string& line) const { return at < log.size() && log[at] == line; }

  bool Expect(const std::string& line) {
    if (At(line)) {
      ++at;
      return true;
    }
    problem = "line " + std::to_string(at + 1) + ": expected \"" + line + "\", found " +
              (at < log.size() ? "\"" + log[at] + "\"" : "the end");
    return false;
  }

  std::string AtEnd() {
    if (at == log.size()) return "";
    return "line " + std::to_string(at + 1) + ": \"" + log[at] + "\" after the end of the run";
  }

  // A failed step is followed by the run's failure line and nothing else.
  std::string Ending(Verdict v, std::string* outcome) {
    if (v == Verdict::Broken) return problem;
    if (!Expect(kRunFailed)) return problem;
    *outcome = "failed";
    return AtEnd();
  }

  Verdict Shell(int operation) {
    const ShellStep& step = kShellSteps[operation - 1];
    const std::string command = step.command;
    if (!Expect("Executing [" + command + "] ...")) return Verdict::Broken;
    if (At(std::string(step.wait) + " OK Operation [" + command + "] success")) {
      ++at;
      return Verdict::Done;
    }
    if (!Expect(step.wait) || !Expect(step.failure)) return Verdict::Broken;
    return Verdict::Failed;
  }

  Verdict Copy(const std::string& name) {
    const std::string path = kPayloadPrefix + name;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
      if (At("Checking File: " + path + "  CheckSum OK")) {
        ++at;
        return Verdict::Done;
      }
      if (!Expect("Checking File: " + path + "  Changes Detected ")) return Verdict::Broken;
      if (At("Transfer File: " + path + " OK")) {
        ++at;
        return Verdict::Done;
      }
      if (At("Transfer File: " + path + " Error Sending Chunk")) {
        ++at;
        continue;
      }
      if (!Expect("Transfer File: " + path)) return Verdict::Broken;
      // Refused (no answer to the announcement), or the connection died under the stream: the
      // latter has no line of its own, and the next attempt says the rest.
      if (At("Cannot Send File, refused by gateway")) ++at;
    }
    // The last attempt's own line names what went wrong: a dead connection refuses every
    // announcement, so a fifth attempt always has one.
    const std::string& last = log[at - 1];
    if (last != "Cannot Send File, refused by gateway" && last != "Transfer File: " + path + " Error Sending Chunk") {
      problem = "line " + std::to_string(at) + ": a copy gave up after \"" + last + "\", which names no failure";
      return Verdict::Broken;
    }
    return Verdict::Failed;
  }

  const Lines& log;
  size_t at = 0;
  std::string problem;
};

std::string Hex(const std::vector<uint8_t>& bytes, size_t limit = 16) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < bytes.size() && i < limit; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

// Ends the process: a run that does not end cannot be unwound. The site's folder goes first, as its
// destructor will not run.
[[noreturn]] void Abandon(const FaultPlan& plan, const std::string& why, const platform::sim::World& world,
                          CUpdateDlg* upgrade, const std::string& siteFolder) {
  std::fprintf(stderr, "\nFAULT WORKLOAD: %s at virtual %llu ms (bound %llu ms)\n  %s\n  replay: %s\n", why.c_str(),
               static_cast<unsigned long long>(world.NowMs()), static_cast<unsigned long long>(plan.BoundMs()),
               plan.Describe().c_str(), ReplayCommand(plan.seed).c_str());
  if (upgrade) {
    std::fprintf(stderr, "  the upgrade log so far:\n");
    for (int i = 0; i < upgrade->LogList().GetCount(); ++i) {
      std::fprintf(stderr, "    %s\n", upgrade->LogList().GetText(i).c_str());
    }
  }
  std::fflush(stderr);
  std::error_code ignored;
  std::filesystem::remove_all(siteFolder, ignored);
  std::_Exit(1);
}

}  // namespace

WorkloadResult RunFaultPlan(const FaultPlan& plan) {
  WorkloadResult result;
  platform::sim::World world(plan.startTick, plan.seed);
  ControllerSite site(world);
  sim::ControllerConfig& config = site.Config();
  config.mac = kMac;
  config.dryCommands = plan.dryCommands;
  config.rebootSeconds = plan.rebootSeconds;
  config.seed = plan.seed;
  sim::ControllerFaults& faults = config.faults;
  faults.closeAfterBytes = plan.closeAfterBytes;
  faults.stallAfterBytes = plan.stallAfterBytes;
  faults.stallMs = plan.stallMs;
  faults.ignoredCodes = plan.ignoredCodes;
  faults.delayedCodes = plan.delayedCodes;
  if (!plan.ignoredCommand.empty()) faults.ignoredCommands.insert(plan.ignoredCommand);
  faults.brokenLengthOn = plan.brokenLengthOn;
  faults.brokenLength = plan.brokenLength;
  faults.floodPerSecond = plan.floodPerSecond;
  faults.neverReturn = plan.neverReturn;

  std::map<std::string, std::vector<uint8_t>> payload;
  for (const PlannedFile& file : plan.files) {
    payload[file.name] = PatternBytes(file.size, file.pattern);
    site.WritePayload(file.name, payload[file.name]);
  }
  auto placeUnchanged = [&] {
    for (const PlannedFile& file : plan.files) {
      if (file.unchanged) site.WriteOnController(file.name, payload[file.name]);
    }
  };
  if (plan.dryCommands) {
    // Shell lines are not run: the upgrade folder must be there already, as an earlier run left it.
    std::filesystem::create_directories(site.ControllerUpgradeFolder());
    placeUnchanged();
  }
  if (plan.stallAtChunks > 0) site.StallWhenChunksFillTheWindow(plan.stallAtChunks, plan.stallMs);
  site.OnLog([&](const std::string& line) {
    // A controller's own shell empties its upgrade folder: what it held from an earlier run comes
    // back right after, as if that run had sent it.
    if (line.find("[mkdir /MIRU/BSP/UPGRADE] created") != std::string::npos) placeUnchanged();
    const std::string connected = "#" + std::to_string(plan.resetConnection) + " connected from";
    if (plan.resetAfterBytes >= 0 && line.rfind(connected, 0) == 0) {
      world.DropAfterBytes(site.Controller().SocketOf(plan.resetConnection), size_t(plan.resetAfterBytes));
    }
  });
  if (site.Start() != 1) {
    result.violations.push_back("the controller did not start");
    return result;
  }

  FakeControllers lookAlikes(world);
  for (int i = 0; i < plan.lookAlikes; ++i) {
    DiscoveryAnswer answer;
    answer.address = platform::MakeAddress(192, 168, 1, uint8_t(30 + i));
    answer.port = 7000;
    answer.type = config.type;
    answer.subtype = config.subtype;
    answer.name = config.name;
    answer.mac = "0050C20000A" + std::to_string(i);
    lookAlikes.Add(answer);
  }
  for (const LinkChange& change : plan.linkChanges) {
    platform::sim::HostId host = change.controllerSide ? site.Host() : 0;
    world.Schedule(change.atMs, [&world, host, change] {
      world.SetLatency(host, change.latencyMs);
      world.SetLinkRate(host, change.bytesPerMs);
    });
  }
  for (const DatagramFault& fault : plan.datagramFaults) {
    platform::sim::HostId host = site.Host();
    world.Schedule(fault.atMs, [&world, host, fault] {
      world.LoseDatagrams(host, fault.lose);
      world.TruncateDatagrams(host, fault.cut, fault.cutToBytes);
    });
  }

  Installer installer(kMac);
  installer.awaitRelisting = false;
  CUpdateDlg* upgrade = nullptr;
  installer.duringUpgrade = [&](ui::headless::HeadlessBackend&, CUpdateDlg& dialog) { upgrade = &dialog; };
  installer.afterStart = [&](ui::headless::HeadlessBackend&, CPKGLIFTDlg&) { upgrade = nullptr; };
  TimedBackend backend(&installer);
  const uint64_t boundMs = plan.BoundMs();
  world.Schedule(uint32_t(std::min<uint64_t>(boundMs + 1, 0xFFFFFFFFu)),
                 [&] { Abandon(plan, "no end within the bound", world, upgrade, site.Base()); });
  world.SetSpinGuard(100000, [&] { Abandon(plan, "100000 waits without time passing", world, upgrade, site.Base()); });
  {
    ui::ScopedBackend installed(backend);
    CPKGLIFTDlg dialog;
    dialog.DoModal();
  }
  result.virtualMs = world.NowMs();
  result.waits = world.Waits();
  result.log = installer.atClose.log;
  result.controller = site.Log();

  auto violation = [&](const std::string& what) { result.violations.push_back(what); };
  if (!installer.upgradeShown) {
    result.outcome = "not started";
    if (!site.CommandsReceived().empty()) violation("no upgrade dialog, yet the controller was sent shell lines");
    if (!site.LogLinesWith(" request 14032 ").empty()) violation("no upgrade dialog, yet a file was announced");
  } else {
    std::string outcome;
    std::string problem = LogReader(installer.atClose.log).Read(&outcome, site.PayloadOrder());
    if (!problem.empty()) violation("log: " + problem);
    result.outcome = outcome.empty() ? "unreadable" : outcome;
    if (outcome == "completed") {
      if (installer.atClose.button != "OK") violation("completed, but the button reads " + installer.atClose.button);
      for (const PlannedFile& file : plan.files) {
        std::vector<uint8_t> stored = site.StoredOnController(file.name);
        if (stored != payload[file.name] || !site.OnController(file.name)) {
          violation("completed, but " + file.name + " on the controller has " + std::to_string(stored.size()) +
                    " bytes (" + Hex(stored) + "...) instead of " + std::to_string(file.size));
        }
      }
      if (!site.Controller().OnAir()) violation("completed, but the controller is off the air");
      if (site.Controller().UpgradeRuns() > 0) {
        // Its upgrade script took it off the air: only its return may end the wait.
        std::vector<uint32_t> back = site.TicksOf("back on the air");
        uint32_t seen = backend.TickOf(kReturnSeen);
        if (back.empty() || int32_t(seen - back.back()) < 0) {
          violation("\"GATEWAY startup SUCCESS\" before the controller was back on the air");
        }
      }
      uint64_t bytes = 0;
      for (const PlannedFile& file : plan.files) bytes += file.size;
      if (bytes >= 1000 && installer.atClose.totalBar != 1000) {
        violation("completed with the total bar at " + std::to_string(installer.atClose.totalBar));
      }
    } else if (outcome == "failed" && installer.atClose.button != "Done") {
      violation("failed, but the button reads " + installer.atClose.button);
    }
  }
  if (plan.Harmless() && result.outcome != "completed") violation("a harmless plan ended " + result.outcome);
  // A waiting upgrade wakes for its timers (every 10 ms while a step pumps), its 50 ms slices and
  // each message that comes in; far more wake-ups than that is a loop that polls.
  const uint64_t allowedWaits = (result.virtualMs / 1000 + 1) * (500 + 10ull * plan.floodPerSecond) + 20000;
  if (result.waits > allowedWaits) {
    violation(std::to_string(result.waits) + " waits in " + std::to_string(result.virtualMs) + " virtual ms, more than " +
              std::to_string(allowedWaits));
  }
  if (result.virtualMs > boundMs) violation("ran " + std::to_string(result.virtualMs) + " ms, over its bound");
  return result;
}

}  // namespace testing_support
