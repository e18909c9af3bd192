// The shipped `bsplift list` on the private LAN of network namespaces (scripts/lan) while a host
// floods its discovery port: bsplift on host 1, three simulated controllers on hosts 2 to 4, and
// bsplift-flood on host 5 sending 10,000 datagrams a second to 10.231.0.11:444 for the whole test,
// four in five of them answers as a controller would send them (random MACs, listed models), the
// rest malformed (other lengths, empty, a probe, 180 bytes of noise). The real controllers' lines
// must come out exactly as without the flood, and each run must end in its own time.
// Needs root; without it every test here is skipped with a message saying so. Nothing leaves the
// private bridge.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tests/support/namespace_lan.h"

namespace {

namespace fs = std::filesystem;

using testing_support::BringUpLan;
using testing_support::SpawnOnLanHost;
using testing_support::TakeDownLan;
using Lines = std::vector<std::string>;

const std::string kBsplift = std::string(BSPLIFT_BINARY_DIR) + "/bsplift";
const std::string kSimulator = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-controller-sim";
const std::string kFlooder = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-flood";

// Polls of processes and files: bounded, so that a stuck run fails the test instead of the ctest
// timeout leaving processes behind in the namespaces. A list has half a minute more than it
// listens for, which no list that is not stuck needs.
constexpr useconds_t kPollUs = 20000;
constexpr int kTextPolls = 1500;
constexpr double kListSlackSeconds = 30;

constexpr int kBspliftHost = 1;
constexpr int kFloodHost = 5;
constexpr int kFloodPerSecond = 10000;
// Below this the flood was too thin for the test to say much; it is reported, not a goal.
constexpr double kLeastFloodPerSecond = 5000;

struct Controller {
  int host;
  const char* mac;
  int type;
  int subtype;
  int port;
  const char* line;
  const char* diagnosticLine;
};

const Controller kR5{2, "0050C2000300", 9, 16, 7002, "00:50:C2:00:03:00\t    10.231.0.12\tR5 (Extender)",
                     "Type: 0x09 SubType: 0x10\t00:50:C2:00:03:00\t    10.231.0.12\tR5 (Extender)"};
const Controller kPd10{3, "0050C2000100", 8, 10, 7003, "00:50:C2:00:01:00\t    10.231.0.13\tPD10",
                       "Type: 0x08 SubType: 0x0A\t00:50:C2:00:01:00\t    10.231.0.13\tPD10"};
const Controller kPd2{4, "0050C2000200", 1, 2, 7004, "00:50:C2:00:02:00\t    10.231.0.14\tPD2",
                      "Type: 0x01 SubType: 0x02\t00:50:C2:00:02:00\t    10.231.0.14\tPD2"};
const Controller* const kControllers[] = {&kR5, &kPd10, &kPd2};

Lines SplitLines(const std::string& text) {
  Lines lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no newline>");
  return lines;
}

size_t CountOf(const Lines& lines, const std::string& line) {
  return size_t(std::count(lines.begin(), lines.end(), line));
}

// A line of one of the flood's well-formed answers: they come from addresses 10.231.0.100 to
// 10.231.0.249, where no host of the LAN is (its noise lands there about once in thirty million).
bool IsFloodAnswerLine(const std::string& line) {
  // The address is the field before the model's, in either view.
  size_t modelTab = line.rfind('\t');
  size_t addressTab =
      modelTab == std::string::npos || modelTab == 0 ? std::string::npos : line.rfind('\t', modelTab - 1);
  if (addressTab == std::string::npos) return false;
  std::string address = line.substr(addressTab + 1, modelTab - addressTab - 1);
  address.erase(0, address.find_first_not_of(' '));
  const std::string lan = "10.231.0.";
  if (address.compare(0, lan.size(), lan) != 0) return false;
  int last = std::atoi(address.c_str() + lan.size());
  return last >= 100 && last < 250;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct Finished {
  int code = -1;  // the exit code; minus the signal number when a signal ended it
  std::string out;
  std::string err;
  double seconds = 0;
};

class DiscoveryFloodOnLan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { skipReason = BringUpLan(Prefix(), 5); }

  static void TearDownTestSuite() {
    if (skipReason.empty()) TakeDownLan(Prefix());
  }

  static std::string Prefix() { return "fl" + std::to_string(getpid()); }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    root = fs::temp_directory_path() / ("bsplift-flood-lan-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
  }

  void TearDown() override {
    for (pid_t pid : {bsplift, flooder}) {
      if (pid > 0) Stop(pid, SIGKILL);
    }
    for (pid_t pid : simulators) Stop(pid, SIGTERM);
    if (!root.empty()) fs::remove_all(root);
  }

  static void Stop(pid_t pid, int signal) {
    kill(pid, signal);
    waitpid(pid, nullptr, 0);
  }

  pid_t Spawn(int host, const std::vector<std::string>& command, const fs::path& out) {
    return SpawnOnLanHost(Prefix(), host, command, out.string(), out.string());
  }

  bool WaitForText(const fs::path& file, const std::string& text) const {
    for (int i = 0; i < kTextPolls; ++i) {
      if (testing_support::ReadFileBytes(file).find(text) != std::string::npos) return true;
      usleep(kPollUs);
    }
    return false;
  }

  void StartController(const Controller& c) {
    fs::path disk = root / ("disk-" + std::to_string(c.host));
    fs::path log = root / ("simulator-" + std::to_string(c.host) + ".txt");
    fs::create_directories(disk);
    pid_t pid = Spawn(c.host,
                      {kSimulator, "--address", testing_support::LanAddress(c.host), "--port", std::to_string(c.port),
                       "--root", disk.string(), "--mac", c.mac, "--type", std::to_string(c.type), "--subtype",
                       std::to_string(c.subtype)},
                      log);
    ASSERT_GT(pid, 0);
    simulators.push_back(pid);
    ASSERT_TRUE(WaitForText(log, "listening")) << testing_support::ReadFileBytes(log);
  }

  void StartFlood() {
    flooder = Spawn(kFloodHost,
                    {kFlooder, "--to", testing_support::LanAddress(kBspliftHost), "--port", "444", "--rate",
                     std::to_string(kFloodPerSecond), "--malformed-every", "5", "--seconds", "600", "--seed",
                     "20261210"},
                    FloodLog());
    ASSERT_GT(flooder, 0);
    ASSERT_TRUE(WaitForText(FloodLog(), "flooding")) << testing_support::ReadFileBytes(FloodLog());
  }

  // The three controllers, then the flood, which runs until EndFlood.
  void StartControllersAndFlood() {
    for (const Controller* c : kControllers) {
      StartController(*c);
      if (HasFatalFailure()) return;
    }
    StartFlood();
  }

  // Stops the flood and gives the rate it reached, from its own count; 0 when it said none.
  double EndFlood() {
    kill(flooder, SIGTERM);
    int status = 0;
    waitpid(flooder, &status, 0);
    flooder = -1;
    std::string log = testing_support::ReadFileBytes(FloodLog());
    std::printf("%s", log.c_str());
    size_t sent = log.find("sent ");
    double rate = 0;
    size_t colon = log.find(": ", sent);
    if (sent != std::string::npos && colon != std::string::npos) rate = std::atof(log.c_str() + colon + 2);
    return rate;
  }

  // Runs `bsplift list` with these options, listening for `seconds` (3 unless the options say).
  Finished List(const std::vector<std::string>& options, double seconds = 3) {
    std::vector<std::string> command = {kBsplift, "list"};
    command.insert(command.end(), options.begin(), options.end());
    fs::path out = root / "out.txt";
    fs::path err = root / "err.txt";
    auto began = std::chrono::steady_clock::now();
    bsplift = SpawnOnLanHost(Prefix(), kBspliftHost, command, out.string(), err.string());
    Finished run;
    if (bsplift <= 0) {
      ADD_FAILURE() << "bsplift did not start";
      return run;
    }
    int status = 0;
    pid_t ended = 0;
    const int polls = int((seconds + kListSlackSeconds) * 1e6 / kPollUs);
    for (int i = 0; i < polls && (ended = waitpid(bsplift, &status, WNOHANG)) == 0; ++i) usleep(kPollUs);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    if (ended != bsplift) {
      Stop(bsplift, SIGKILL);
      ADD_FAILURE() << "bsplift list was stuck under the flood and was killed after " << int(run.seconds) << " s";
    } else {
      run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    bsplift = -1;
    run.out = testing_support::ReadFileBytes(out);
    run.err = testing_support::ReadFileBytes(err);
    return run;
  }

  fs::path FloodLog() const { return root / "flood.txt"; }

  static std::string skipReason;
  fs::path root;
  std::vector<pid_t> simulators;
  pid_t flooder = -1;
  pid_t bsplift = -1;
};

std::string DiscoveryFloodOnLan::skipReason;

TEST_F(DiscoveryFloodOnLan, ListGivesTheRealControllersLinesExactlyAndEndsInItsTimeWhileAFloodComesIn) {
  StartControllersAndFlood();
  if (HasFatalFailure()) return;

  struct Case {
    const char* what;
    std::vector<std::string> options;
    std::vector<const Controller*> listed;
    bool diagnostic;
    // The one model of the flood's own answers that may be listed; nullptr: any. (Its noise is
    // another matter: a filter entry goes by the subtype alone, so noise of any type may pass.)
    const char* floodModel;
    // A flood that reached bsplift adds lines of its own, hundreds in all, a seventh of them PD10;
    // fewer than this many and it was not heard.
    size_t leastFloodLines;
  };
  const Case cases[] = {
      {"no options", {}, {&kR5, &kPd10, &kPd2}, false, nullptr, 100},
      {"a filter entry", {"--filter", "PD10"}, {&kPd10}, false, "PD10", 20},
      {"the diagnostic view", {"--diagnostic"}, {&kR5, &kPd10, &kPd2}, true, nullptr, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Finished run = List(c.options);
    Lines lines = SplitLines(run.out);
    std::printf("list %s under the flood: %zu lines in %.2f s\n", c.what, lines.size(), run.seconds);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.err, "");
    for (const Controller* real : kControllers) {
      bool wanted = std::find(c.listed.begin(), c.listed.end(), real) != c.listed.end();
      std::string line = c.diagnostic ? real->diagnosticLine : real->line;
      EXPECT_EQ(CountOf(lines, line), wanted ? 1u : 0u) << line;
      // No other line carries a real controller's MAC: the flood's answers made none of theirs.
      size_t withMac = 0;
      std::string mac = std::string(line).substr(c.diagnostic ? 25 : 0, 17);
      for (const std::string& l : lines) withMac += l.find(mac) != std::string::npos;
      EXPECT_EQ(withMac, wanted ? 1u : 0u) << mac;
    }
    size_t floodLines = 0;
    for (const std::string& l : lines) {
      if (!IsFloodAnswerLine(l)) continue;
      ++floodLines;
      if (c.floodModel) {
        EXPECT_TRUE(EndsWith(l, std::string("\t") + c.floodModel)) << "the filter let through: " << l;
      }
    }
    EXPECT_GE(floodLines, c.leastFloodLines) << "the flood was not heard";
  }

  // The same through --json: noise in the flood's texts must not break the document.
  Finished run = List({"--json"});
  EXPECT_EQ(run.code, 0);
  const auto listed = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(listed.is_discarded()) << run.out.substr(0, 2000);
  ASSERT_TRUE(listed.is_array());
  std::map<std::string, std::string> realLines;
  for (const auto& entry : listed) {
    if (!entry.contains("address") || !entry.contains("line")) continue;
    std::string address = entry["address"].get<std::string>();
    for (const Controller* real : kControllers) {
      if (address == testing_support::LanAddress(real->host)) realLines[real->mac] = entry["line"].get<std::string>();
    }
  }
  EXPECT_EQ(realLines, (std::map<std::string, std::string>{
                           {kR5.mac, kR5.line}, {kPd10.mac, kPd10.line}, {kPd2.mac, kPd2.line}}));

  double rate = EndFlood();
  RecordProperty("flood_per_second", std::to_string(int(rate)));
  EXPECT_GE(rate, kLeastFloodPerSecond) << "the flood fell short of a flood; the runs above prove little";
}

// Lines of answers that no controller keeps sending pile up under a flood of new MACs (one line
// leaves a tick), and every answer is looked up among them: a list that listens for longer must
// still end when its time is up, not when the flood does.
TEST_F(DiscoveryFloodOnLan, ListThatListensForFortySecondsUnderTheFloodEndsOnTimeWithTheRealControllersLines) {
  StartControllersAndFlood();
  if (HasFatalFailure()) return;
  const int seconds = 40;
  Finished run = List({"--seconds", std::to_string(seconds)}, seconds);
  Lines lines = SplitLines(run.out);
  std::printf("list --seconds %d under the flood: %zu lines in %.2f s\n", seconds, lines.size(), run.seconds);
  ASSERT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "");
  for (const Controller* real : kControllers) EXPECT_EQ(CountOf(lines, real->line), 1u) << real->line;
  double rate = EndFlood();
  EXPECT_GE(rate, kLeastFloodPerSecond) << "the flood fell short of a flood; the run above proves little";
}

}  // namespace
