// The shipped `bsplift list`, `bsplift upgrade` and `bsplift check` on a private LAN of network namespaces
// (scripts/lan): bsplift on host 1, simulated controllers of three models on hosts 2 to 4. What a
// script sees is checked as it sees it: the exact stdout and stderr, the exit code, and what landed
// on the controller's disk. Host 1 has no route for 255.255.255.255, as scripts/lan leaves it.
// Needs root; without it every test here is skipped with a message saying so. Nothing leaves the
// private bridge.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/scenario/upgrade_lines.h"
#include "tests/support/file_bytes.h"
#include "tests/support/namespace_lan.h"

namespace {

namespace fs = std::filesystem;

using testing_support::Append;
using testing_support::BringUpLan;
using testing_support::FileSent;
using testing_support::FilesInOrder;
using testing_support::kRunFailed;
using testing_support::kShellSteps;
using testing_support::Lines;
using testing_support::OnLanHost;
using testing_support::Opening;
using testing_support::ReturnSeenAndCompleted;
using testing_support::ShellOutput;
using testing_support::ShellsAnswered;
using testing_support::SpawnOnLanHost;
using testing_support::TakeDownLan;

const std::string kBsplift = std::string(BSPLIFT_BINARY_DIR) + "/bsplift";
const std::string kSimulator = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-controller-sim";

// Polls of processes and files: bounded, so that a hung run fails the test instead of the ctest
// timeout leaving processes behind in the namespaces.
constexpr useconds_t kPollUs = 20000;
constexpr int kProcessEndPolls = 3000;
constexpr int kTextPolls = 1500;

constexpr int kBspliftHost = 1;

// The texts of the boxes, written out here as the person reads them.
const std::string kWarning =
    "Warning: You are about to upgrade the board support package on your system controller\n\n"
    "We recommend using a PC with a wired network connection on the same LAN as the controller to be updated to "
    "execute the update procedure:\n\nClick Yes below to execute the upgrade.\n";
const std::string kNotSuccessful =
    "ERROR: Upgrade began, but was not successful. Please re-run the upgrade as soon as possible and do not "
    "attempt to use the controller until a successful upgrade is complete.";
const std::string kStopNotice =
    "\nStopping after the current step: a run stopped before its end leaves the controller not upgraded. "
    "Ctrl-C again quits at once.\n";

struct Controller {
  int host;
  const char* mac;
  const char* name;
  int type;
  int subtype;
  int port;
  const char* systemType;  // as the upgrade log names it
};

// Listed by MAC they come out PD10, PD2, R5; by their codes PD2, PD10, R5; by host R5, PD10, PD2.
// The R5 (type 9) takes only the Linux client's login, so bsplift gets in on its second try.
const Controller kR5{2, "0050C2000300", "ROOF", 9, 16, 7002, "r5 i.MX6"};
const Controller kPd10{3, "0050C2000100", "HALL", 8, 10, 7003, "PD10 (Linux i.MX53)"};
const Controller kPd2{4, "0050C2000200", "BARN", 1, 2, 7004, "Full Gateway (Corvane)"};

const std::string kR5Line = "00:50:C2:00:03:00\t    10.231.0.12\tR5 (Extender)";
const std::string kPd10Line = "00:50:C2:00:01:00\t    10.231.0.13\tPD10";
const std::string kPd2Line = "00:50:C2:00:02:00\t    10.231.0.14\tPD2";

std::string Address(int host) { return testing_support::LanAddress(host); }

std::string ReadFile(const fs::path& path) { return testing_support::ReadFileBytes(path); }
void WriteFile(const fs::path& path, const std::string& bytes) { testing_support::WriteFileBytes(path, bytes); }

// A stored file against the bytes it should hold, without printing either.
::testing::AssertionResult HoldsBytes(const fs::path& path, const std::string& expected) {
  if (!fs::is_regular_file(path)) return ::testing::AssertionFailure() << path << " is missing";
  std::string actual = ReadFile(path);
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << " holds " << actual.size() << " bytes, not the "
                                       << expected.size() << " expected"
                                       << (actual.size() == expected.size() ? " (other bytes)" : "");
}

// Bytes that differ from seed to seed.
std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = char((i * (2 * seed + 1) + i / 253 + size_t(seed) * 41) & 0xFF);
  return bytes;
}

// One entry per line; a last line without its newline is marked, so that it cannot pass for whole.
Lines SplitLines(const std::string& text) {
  Lines lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  if (start < text.size()) lines.push_back(text.substr(start) + "<no newline>");
  return lines;
}

// The payload files in the order the folder lists them, which is the order the upgrade sends them.
std::vector<std::string> PayloadOrder(const fs::path& payloadRoot) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(payloadRoot / "BSP" / "UPGRADE")) {
    std::string name = entry.path().filename().string();
    if (entry.is_regular_file() && name[0] != '.') names.push_back(name);
  }
  return names;
}

// Up to the failing step: the opening and the shell lines that prepare the partition.
Lines PreparedLog(const Controller& controller) {
  Lines lines = Opening(controller.systemType);
  Append(lines, ShellsAnswered(1, 5));
  return lines;
}

// A whole completed run that sends every payload file.
Lines CompletedLog(const Controller& controller, const std::vector<std::string>& sent) {
  Lines lines = PreparedLog(controller);
  for (const std::string& name : sent) Append(lines, FileSent(name));
  Append(lines, ShellsAnswered(6, 7));
  Append(lines, ReturnSeenAndCompleted());
  return lines;
}

const std::string kPrepareCommands =
    "umount /MIRU/BSP\nmkdir /MIRU/BSP\nmount /dev/mmcblk0p4 /MIRU/BSP\nrm -Rf /MIRU/BSP/UPGRADE\n"
    "mkdir /MIRU/BSP/UPGRADE\n";
const std::string kAllCommands = kPrepareCommands + "chmod -R 755 /MIRU/BSP\nsh /MIRU/BSP/UPGRADE/upgrade.sh &\n";

struct Finished {
  int code = -1;  // the exit code; minus the signal number when a signal ended it
  std::string out;
  std::string err;
};

class CommandLineOnLan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { skipReason = BringUpLan(Prefix(), 4); }

  static void TearDownTestSuite() {
    if (skipReason.empty()) TakeDownLan(Prefix());
  }

  static std::string Prefix() { return "cl" + std::to_string(getpid()); }
  static std::string OnHost(int host, const std::string& command) { return OnLanHost(Prefix(), host, command); }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    root = fs::temp_directory_path() / ("bsplift-cli-lan-" + std::to_string(getpid()));
    fs::remove_all(root);
    fs::create_directories(root);
    root = fs::canonical(root);
  }

  void TearDown() override {
    if (bsplift > 0) {
      kill(bsplift, SIGKILL);
      waitpid(bsplift, nullptr, 0);
    }
    for (const auto& [host, pid] : simulators) Stop(pid);
    if (!root.empty()) fs::remove_all(root);
  }

  pid_t Spawn(int host, const std::vector<std::string>& command, const fs::path& out, const fs::path& err) {
    return SpawnOnLanHost(Prefix(), host, command, out.string(), err.string());
  }

  static void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }

  fs::path Disk(const Controller& c) const { return root / ("disk-" + std::to_string(c.host)); }
  fs::path UpgradeFolder(const Controller& c) const { return Disk(c) / "mmcblk0p4" / "UPGRADE"; }
  fs::path SimulatorLogPath(const Controller& c) const {
    return root / ("simulator-" + std::to_string(c.host) + ".txt");
  }
  std::string SimulatorLog(const Controller& c) const { return ReadFile(SimulatorLogPath(c)); }
  std::string CommandsReceived(const Controller& c) const { return ReadFile(Disk(c) / "commands.log"); }

  // Starts the controller's simulator on its host, answering discovery, and waits until it listens.
  void StartController(const Controller& c, const std::vector<std::string>& extra = {}) {
    fs::create_directories(Disk(c));
    std::vector<std::string> command = {kSimulator, "--address", Address(c.host), "--port", std::to_string(c.port),
                                        "--root", Disk(c).string(), "--mac", c.mac, "--name", c.name,
                                        "--type", std::to_string(c.type), "--subtype", std::to_string(c.subtype)};
    command.insert(command.end(), extra.begin(), extra.end());
    pid_t pid = Spawn(c.host, command, SimulatorLogPath(c), SimulatorLogPath(c));
    ASSERT_GT(pid, 0);
    simulators[c.host] = pid;
    ASSERT_TRUE(WaitForText(SimulatorLogPath(c), "listening")) << SimulatorLog(c);
  }

  void StopController(const Controller& c) {
    auto found = simulators.find(c.host);
    if (found == simulators.end()) return;
    Stop(found->second);
    simulators.erase(found);
  }

  void StartThreeControllers() {
    for (const Controller* c : {&kR5, &kPd10, &kPd2}) {
      StartController(*c);
      if (HasFatalFailure()) return;
    }
  }

  bool WaitForText(const fs::path& file, const std::string& text) const {
    for (int i = 0; i < kTextPolls; ++i) {
      if (ReadFile(file).find(text) != std::string::npos) return true;
      usleep(kPollUs);
    }
    return false;
  }

  // Starts bsplift with these arguments on host 1, its output going to files of this test.
  void StartBsplift(const std::vector<std::string>& args) {
    std::vector<std::string> command = {kBsplift};
    command.insert(command.end(), args.begin(), args.end());
    bsplift = Spawn(kBspliftHost, command, OutPath(), ErrPath());
    ASSERT_GT(bsplift, 0);
  }

  // Waits for the running bsplift to end (a hung one is killed and fails the test).
  Finished FinishBsplift() {
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < kProcessEndPolls && (ended = waitpid(bsplift, &status, WNOHANG)) == 0; ++i) usleep(kPollUs);
    Finished run;
    if (ended != bsplift) {
      kill(bsplift, SIGKILL);
      waitpid(bsplift, nullptr, 0);
      ADD_FAILURE() << "bsplift did not end and was killed";
    } else {
      run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    bsplift = -1;
    run.out = ReadFile(OutPath());
    run.err = ReadFile(ErrPath());
    return run;
  }

  Finished Bsplift(const std::vector<std::string>& args) {
    StartBsplift(args);
    if (HasFatalFailure()) return Finished{};
    return FinishBsplift();
  }

  fs::path OutPath() const { return root / "bsplift-out.txt"; }
  fs::path ErrPath() const { return root / "bsplift-err.txt"; }
  fs::path Payload() const { return root / "payload"; }
  void WritePayload(const std::string& name, const std::string& bytes) const {
    WriteFile(Payload() / "BSP" / "UPGRADE" / name, bytes);
  }

  // A controller that stops reading for a while early in a payload far larger than what the socket
  // buffers of both hosts can take, and bsplift well into sending it when this returns: the
  // transfer cannot end before the controller reads again.
  void StartLongTransfer() {
    // The machine's limits may let buffers grow past the payload; these namespaces get their own.
    ASSERT_EQ(std::system(OnHost(kPd2.host, "sysctl -qw net.ipv4.tcp_rmem='4096 131072 6291456'").c_str()), 0);
    ASSERT_EQ(std::system(OnHost(kBspliftHost, "sysctl -qw net.ipv4.tcp_wmem='4096 16384 4194304'").c_str()), 0);
    StartController(kPd2, {"--stall-after-bytes", "2000000", "--stall-ms", "3000"});
    if (HasFatalFailure()) return;
    WritePayload("big.bin", Pattern(kBigFileBytes, 5));
    StartBsplift({"upgrade", kPd2.mac, "--yes", "-C", Payload().string()});
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForText(OutPath(), "Checking File: BSP/UPGRADE\\big.bin  Changes Detected \n"))
        << ReadFile(OutPath()) << ReadFile(ErrPath());
  }

  static constexpr size_t kBigFileBytes = 24000000;
  static std::string skipReason;
  fs::path root;
  std::map<int, pid_t> simulators;  // by host
  pid_t bsplift = -1;
};

std::string CommandLineOnLan::skipReason;

// ---------------------------------------------------------------------------------------------
// list

TEST_F(CommandLineOnLan, ListPrintsTheDeviceLinesExactlyAsTheFilterAndViewAskedForHoldThem) {
  StartThreeControllers();
  struct Case {
    const char* what;
    std::vector<std::string> options;
    Lines lines;
  };
  const Case cases[] = {
      {"no options: every controller, sorted by its line", {}, {kPd10Line, kPd2Line, kR5Line}},
      {"a subtype's entry typed in lower case", {"--filter", "pd10"}, {kPd10Line}},
      {"the type's entry typed in lower case, given inline", {"--filter=r5"}, {kR5Line}},
      {"the diagnostic view: codes in front, sorted by them, the filter not applied",
       {"--diagnostic", "--filter", "PD2"},
       {"Type: 0x01 SubType: 0x02\t" + kPd2Line, "Type: 0x08 SubType: 0x0A\t" + kPd10Line,
        "Type: 0x09 SubType: 0x10\t" + kR5Line}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"list"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    Finished run = Bsplift(args);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(SplitLines(run.out), c.lines);
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(CommandLineOnLan, ListAsJsonGivesEachControllersFieldsInTheirOrder) {
  StartThreeControllers();
  Finished run = Bsplift({"list", "--json", "--seconds", "3"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.err, "");
  // ordered_json compares objects key by key in order, so the key order is checked too.
  const auto expected = nlohmann::ordered_json::parse(R"json([
    {"mac": "00:50:C2:00:01:00", "address": "10.231.0.13", "port": 7003, "type": 8, "subtype": 10,
     "model": "PD10", "name": "HALL", "line": "00:50:C2:00:01:00\t    10.231.0.13\tPD10"},
    {"mac": "00:50:C2:00:02:00", "address": "10.231.0.14", "port": 7004, "type": 1, "subtype": 2,
     "model": "PD2", "name": "BARN", "line": "00:50:C2:00:02:00\t    10.231.0.14\tPD2"},
    {"mac": "00:50:C2:00:03:00", "address": "10.231.0.12", "port": 7002, "type": 9, "subtype": 16,
     "model": "R5 (Extender)", "name": "ROOF", "line": "00:50:C2:00:03:00\t    10.231.0.12\tR5 (Extender)"}
  ])json");
  const auto listed = nlohmann::ordered_json::parse(run.out, nullptr, false);
  ASSERT_FALSE(listed.is_discarded()) << run.out;
  EXPECT_EQ(listed, expected);
}

TEST_F(CommandLineOnLan, ListRefusesAnUnknownFilterEntryNamingTheEntriesItKnows) {
  StartController(kPd2);
  Finished run = Bsplift({"list", "--filter", "PD7"});
  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "bsplift: list: unknown filter entry \"PD7\" (entries: ALL, R5, VARDO ZRT, PD10, PD2, SONMARK ZRT)\n");
  EXPECT_EQ(SimulatorLog(kPd2).find("probe from"), std::string::npos) << "refused only after listening";
}

TEST_F(CommandLineOnLan, AControllerThatAnswersDiscoveryByBroadcastIsListed) {
  // The answer reaches host 1 as a limited broadcast, which host 1 has no route for.
  std::string routes = ShellOutput(OnHost(kBspliftHost, "ip -4 route show table all"));
  ASSERT_EQ(routes.find("255.255.255.255"), std::string::npos) << routes;
  ASSERT_EQ(routes.find("default"), std::string::npos) << routes;
  StartController(kPd2, {"--answer-by-broadcast"});
  Finished run = Bsplift({"list"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(SplitLines(run.out), Lines{kPd2Line});
  EXPECT_EQ(run.err, "");
  EXPECT_NE(SimulatorLog(kPd2).find("probe from 10.231.0.11:444 answered to 255.255.255.255:444"), std::string::npos)
      << SimulatorLog(kPd2);
}

TEST_F(CommandLineOnLan, ListWithoutTheRightToPort444SaysSoOnceAndStillHearsAnswersToItsOwnPort) {
  StartController(kPd10);
  // An installer's own account: no root, no capability, so port 444 is refused.
  bsplift = Spawn(kBspliftHost, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", kBsplift, "list"},
                  OutPath(), ErrPath());
  ASSERT_GT(bsplift, 0);
  Finished run = FinishBsplift();
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(SplitLines(run.out), Lines{kPd10Line}) << "the controller answers the probe's own port";
  EXPECT_EQ(run.err, "bsplift: not allowed to use port 444 on 10.231.0.11 (it needs root, or once: sudo setcap "
                     "cap_net_bind_service+ep " + kBsplift + "); discovery goes on from a port the system picks, "
                     "where only controllers that answer to the probe's own port are heard\n");
}

// ---------------------------------------------------------------------------------------------
// upgrade that completes

TEST_F(CommandLineOnLan, UpgradeSendsTheChangedNewAndEmptyFilesSkipsTheUnchangedOneAndCompletes) {
  // Dry commands keep the files placed beforehand where the upgrade compares and stores them.
  const std::string same = Pattern(30000, 1);
  const std::string changed = Pattern(12000, 2);
  const std::string added = Pattern(250000, 3);  // three chunks
  WritePayload("same.bin", same);
  WritePayload("changed.bin", changed);
  WritePayload("new.bin", added);
  WritePayload("empty.bin", "");
  WriteFile(UpgradeFolder(kPd10) / "same.bin", same);
  WriteFile(UpgradeFolder(kPd10) / "changed.bin", Pattern(12000, 9));  // same size, other bytes
  StartController(kPd10, {"--dry-commands"});
  StartController(kPd2);  // listed too, and left alone

  Finished run = Bsplift({"upgrade", "00:50:c2:00:01:00", "--yes", "-C", Payload().string()});

  Lines expected = PreparedLog(kPd10);
  Append(expected, FilesInOrder(PayloadOrder(Payload()), "same.bin"));
  Append(expected, ShellsAnswered(6, 7));
  Append(expected, ReturnSeenAndCompleted());
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(SplitLines(run.out), expected);
  EXPECT_EQ(run.err, kWarning + "\n");
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kPd10) / "changed.bin", changed));
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kPd10) / "new.bin", added));
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kPd10) / "same.bin", same));
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kPd10) / "empty.bin", ""));
  EXPECT_EQ(SimulatorLog(kPd10).find("[BSP/UPGRADE\\same.bin] size 30000 ->"), std::string::npos)
      << "the unchanged file was announced: " << SimulatorLog(kPd10);
  EXPECT_EQ(CommandsReceived(kPd10), kAllCommands);
  EXPECT_EQ(SimulatorLog(kPd2).find("connected"), std::string::npos);
}

TEST_F(CommandLineOnLan, UpgradeOfAControllerThatTakesOnlyTheLinuxLoginCompletesOnceItIsBackFromItsReboot) {
  const std::string script = "echo\n";
  const std::string image = Pattern(150000, 4);
  WritePayload("upgrade.sh", script);
  WritePayload("image.bin", image);
  // Off the air for longer than bsplift waits before it looks for the controller again.
  StartController(kR5, {"--reboot-seconds", "3"});

  Finished run = Bsplift({"upgrade", kR5.mac, "--yes", "-C", Payload().string()});

  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(SplitLines(run.out), CompletedLog(kR5, PayloadOrder(Payload())));
  EXPECT_EQ(run.err, kWarning + "\n");
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kR5) / "upgrade.sh", script));
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kR5) / "image.bin", image));
  EXPECT_EQ(CommandsReceived(kR5), kAllCommands);
  const std::string log = SimulatorLog(kR5);
  EXPECT_NE(log.find("#1 request 27 refused: kind 3 not accepted"), std::string::npos) << log;
  EXPECT_NE(log.find("#2 request 27 login kind 19"), std::string::npos) << log;
  // bsplift has ended: by then the controller must have been back.
  size_t off = log.find("off the air for 3 s");
  ASSERT_NE(off, std::string::npos) << log;
  EXPECT_NE(log.find("back on the air", off), std::string::npos) << log;
}

TEST_F(CommandLineOnLan, UpgradeOfTwoControllersInOneRunCompletesBothInTurnAndSummarisesEach) {
  // No upgrade.sh in the payload: the controllers answer its line, stay on the air and are heard
  // again at once, which keeps two runs short.
  const std::string image = Pattern(40000, 6);
  WritePayload("image.bin", image);
  StartController(kPd10);
  StartController(kPd2);

  // In the order given, not the list's; each MAC in the summary as it was typed.
  Finished run = Bsplift({"upgrade", "00:50:c2:00:02:00", kPd10.mac, "--yes", "-C", Payload().string()});

  Lines expected = CompletedLog(kPd2, {"image.bin"});
  Append(expected, CompletedLog(kPd10, {"image.bin"}));
  expected.push_back("00:50:c2:00:02:00\t0\tcompleted");
  expected.push_back("0050C2000100\t0\tcompleted");
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(SplitLines(run.out), expected);
  EXPECT_EQ(run.err, kWarning + "\n" + kWarning + "\n");
  for (const Controller* c : {&kPd2, &kPd10}) {
    SCOPED_TRACE(c->name);
    EXPECT_TRUE(HoldsBytes(UpgradeFolder(*c) / "image.bin", image));
    EXPECT_EQ(CommandsReceived(*c), kAllCommands);
  }
}

// ---------------------------------------------------------------------------------------------
// upgrade that fails or never begins

TEST_F(CommandLineOnLan, AFailedStepEndsTheLogWithTheFailureLineAndExitsOne) {
  // The answer to the first shell line comes with a broken length: the connection is lost there.
  StartController(kPd2, {"--broken-length-on", "8376"});
  WritePayload("image.bin", Pattern(5000, 7));

  Finished run = Bsplift({"upgrade", kPd2.mac, "--yes", "-C", Payload().string()});

  Lines expected = Opening(kPd2.systemType);
  expected.push_back(std::string("Executing [") + kShellSteps[0].command + "] ...");
  expected.push_back(kShellSteps[0].wait);
  expected.push_back(kShellSteps[0].failure);
  expected.push_back(kRunFailed);
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(SplitLines(run.out), expected);
  EXPECT_EQ(run.err, kWarning + "\n") << "a run that is over speaks for itself: no second box";
  EXPECT_EQ(CommandsReceived(kPd2), "umount /MIRU/BSP\n");
}

TEST_F(CommandLineOnLan, UpgradesThatNeverBeginExitWithTheirOwnCodeAndSayWhyOnStderr) {
  WritePayload("image.bin", Pattern(5000, 8));
  struct Case {
    const char* what;
    std::vector<std::string> controllerOptions;
    std::vector<std::string> args;  // after "upgrade"
    int code;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"a MAC nobody answers for", {}, {"00:50:C2:99:99:99", "--yes", "--wait", "2"}, 3, "",
       "bsplift: 00:50:C2:99:99:99 was not listed within 2 s\n"},
      {"the warning with no terminal to answer it", {}, {kPd2.mac}, 4, "",
       kWarning + "\nNo terminal to answer on: taken as No (--yes answers Yes).\n"
                  "bsplift: 0050C2000200: the warning was answered No\n"},
      {"a controller that refuses both logins", {"--pass-phrase", "not ours"}, {kPd2.mac, "--yes"}, 5, "",
       kWarning + "\nbsplift: 0050C2000200: no upgrade began: the login to 10.231.0.14:7004 failed "
                  "(as type 1 and as type 9)\n"},
      {"two MACs: the code of the first, and a summary line for each",
       {},
       {"00:50:C2:99:99:99", kPd2.mac, "--wait", "2"},
       3,
       "00:50:C2:99:99:99\t3\tnot listed within 2 s\n0050C2000200\t4\twarning declined\n",
       "bsplift: 00:50:C2:99:99:99 was not listed within 2 s\n" + kWarning +
           "\nNo terminal to answer on: taken as No (--yes answers Yes).\n"
           "bsplift: 0050C2000200: the warning was answered No\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Disk(kPd2));
    StartController(kPd2, c.controllerOptions);
    if (HasFatalFailure()) return;
    std::vector<std::string> args = {"upgrade", "-C", Payload().string()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Finished run = Bsplift(args);
    EXPECT_EQ(run.code, c.code);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_FALSE(fs::exists(Disk(kPd2) / "commands.log")) << "no shell line may reach the controller";
    StopController(kPd2);
  }
}

TEST_F(CommandLineOnLan, UpgradeWithoutAPayloadFolderExitsTwoBeforeAnythingGoesOnTheNetwork) {
  StartController(kPd2);
  fs::create_directories(Payload() / "BSP");  // the folder above it is not enough

  Finished run = Bsplift({"upgrade", kPd2.mac, "--yes", "-C", Payload().string()});

  EXPECT_EQ(run.code, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "bsplift: upgrade: there is no BSP/UPGRADE folder in " + Payload().string() +
                         " (run it where that folder is, or name the folder with -C)\n");
  const std::string log = SimulatorLog(kPd2);
  EXPECT_EQ(log.find("probe from"), std::string::npos) << log;
  EXPECT_EQ(log.find("connected"), std::string::npos) << log;
}

// ---------------------------------------------------------------------------------------------
// check

TEST_F(CommandLineOnLan, CheckTellsWhatAnUpgradeWouldSendAndAfterTheUpgradeFindsEveryFileUnchanged) {
  const std::string same = Pattern(30000, 1);
  const std::string changed = Pattern(12000, 2);
  WritePayload("same.bin", same);
  WritePayload("changed.bin", changed);
  WritePayload("new.bin", Pattern(250000, 3));
  WriteFile(UpgradeFolder(kPd10) / "same.bin", same);
  WriteFile(UpgradeFolder(kPd10) / "changed.bin", Pattern(12001, 9));
  // Dry commands spare the upgrade between the checks its reboot; the checks run no shell line
  // either way.
  StartController(kPd10, {"--dry-commands"});
  const std::string header =
      "00:50:C2:00:01:00  10.231.0.13:7003  PD10\n"
      "System Type: PD10 (Linux i.MX53) (type 8, subtype 10)\n"
      "System Information: HALL\n";
  const std::map<std::string, std::string> before = {
      {"same.bin", "unchanged  BSP/UPGRADE\\same.bin  30000 bytes here"},
      {"changed.bin", "differs    BSP/UPGRADE\\changed.bin  12000 bytes here, 12001 on the controller"},
      {"new.bin", "missing    BSP/UPGRADE\\new.bin  250000 bytes here"}};
  std::string expected = header;
  for (const std::string& name : PayloadOrder(Payload())) expected += before.at(name) + "\n";
  expected += "3 files: 1 unchanged, 1 differs, 1 missing\n";

  Finished check = Bsplift({"check", "00-50-c2-00-01-00", "-C", Payload().string()});
  EXPECT_EQ(check.code, 1);
  EXPECT_EQ(check.out, expected);
  EXPECT_EQ(check.err, "");
  EXPECT_FALSE(fs::exists(Disk(kPd10) / "commands.log")) << "a check runs no shell line";
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kPd10) / "changed.bin", Pattern(12001, 9)));
  EXPECT_FALSE(fs::exists(UpgradeFolder(kPd10) / "new.bin"));

  Finished upgrade = Bsplift({"upgrade", kPd10.mac, "--yes", "-C", Payload().string()});
  ASSERT_EQ(upgrade.code, 0) << upgrade.out << upgrade.err;

  check = Bsplift({"check", kPd10.mac, "-C", Payload().string()});
  expected = header;
  for (const std::string& name : PayloadOrder(Payload())) {
    const size_t size = ReadFile(Payload() / "BSP" / "UPGRADE" / name).size();
    expected += "unchanged  BSP/UPGRADE\\" + name + "  " + std::to_string(size) + " bytes here\n";
  }
  expected += "3 files: 3 unchanged, 0 differ, 0 missing\n";
  EXPECT_EQ(check.code, 0);
  EXPECT_EQ(check.out, expected);
  EXPECT_EQ(check.err, "");
}

// ---------------------------------------------------------------------------------------------
// Ctrl-C

TEST_F(CommandLineOnLan, CtrlCMidTransferFinishesTheTransferStopsThereAndShowsTheNotSuccessfulBox) {
  StartLongTransfer();
  if (HasFatalFailure()) return;
  kill(bsplift, SIGINT);
  Finished run = FinishBsplift();

  Lines expected = PreparedLog(kPd2);
  Append(expected, FileSent("big.bin"));
  EXPECT_EQ(run.code, 6);
  EXPECT_EQ(SplitLines(run.out), expected);
  EXPECT_EQ(run.err, kWarning + "\n" + kStopNotice + kNotSuccessful + "\n");
  EXPECT_EQ(CommandsReceived(kPd2), kPrepareCommands) << "no step after the transfer";
  ASSERT_TRUE(WaitForText(SimulatorLogPath(kPd2), "file BSP/UPGRADE\\big.bin stored: 24000000 bytes"))
      << SimulatorLog(kPd2);
  EXPECT_TRUE(HoldsBytes(UpgradeFolder(kPd2) / "big.bin", Pattern(kBigFileBytes, 5)));
}

TEST_F(CommandLineOnLan, ASecondCtrlCQuitsAtOnceWithExitCode130) {
  StartLongTransfer();
  if (HasFatalFailure()) return;
  kill(bsplift, SIGINT);
  ASSERT_TRUE(WaitForText(ErrPath(), kStopNotice)) << ReadFile(ErrPath());
  kill(bsplift, SIGINT);
  Finished run = FinishBsplift();

  // Quit inside the stalled transfer: the transfer's line never became final.
  Lines expected = PreparedLog(kPd2);
  expected.push_back("Checking File: BSP/UPGRADE\\big.bin  Changes Detected ");
  EXPECT_EQ(run.code, 130);
  EXPECT_EQ(SplitLines(run.out), expected);
  EXPECT_EQ(run.err, kWarning + "\n" + kStopNotice);
  EXPECT_EQ(CommandsReceived(kPd2), kPrepareCommands);
}

}  // namespace
