// The real bsplift-controller-sim process on loopback: it starts from its options, serves the
// message service over TCP and logs each request on stdout. Discovery stays off (--no-discovery):
// nothing here leaves the loopback interface.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "net/query.h"
#include "net/server.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "sim/wire.h"
#include "tests/support/sim_messages.h"

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

constexpr uint32_t kLoopback = platform::MakeAddress(127, 0, 0, 1);
const std::string kSimulator = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-controller-sim";
const std::string kPrimer = "CONNECTSERVERHOST\r\n\r\n";
constexpr int kConnectTries = 100;
constexpr uint32_t kConnectRetryMs = 50;
constexpr uint32_t kAnswerWaitMs = 5000;

using testing_support::IntAt;
using testing_support::LoginRequest;
using testing_support::Message;
using testing_support::ProofFor;

// A port on loopback that nobody held a moment ago.
uint16_t FreePort() {
  platform::Socket s = platform::OpenTcp();
  platform::Endpoint local{kLoopback, 0};
  platform::Bind(s, local);
  platform::LocalEndpoint(s, &local);
  platform::Close(s);
  return local.port;
}

class ControllerSimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("bsplift-sim-e2e-" + std::to_string(getpid()));
    fs::create_directories(root);
    logPath = root / "stdout.txt";
    port = FreePort();
  }

  void TearDown() override {
    if (socket != platform::kInvalidSocket) platform::Close(socket);
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    if (HasFailure()) std::printf("simulator output:\n%s\n", Output().c_str());
    fs::remove_all(root);
  }

  // Starts the simulator with its stdout in logPath; the exit status when waitForExit.
  int Launch(std::vector<std::string> arguments, bool waitForExit = false) {
    arguments.insert(arguments.begin(), kSimulator);
    std::vector<char*> argv;
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (root / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int spawned = posix_spawn(&pid, kSimulator.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      pid = -1;
      return -1;
    }
    if (!waitForExit) return 0;
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string Output(const char* name = "stdout.txt") const {
    std::ifstream in(root / name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // Connects once the simulator listens (bounded retries) and sends the primer.
  bool ConnectWithPrimer() {
    for (int i = 0; i < kConnectTries; ++i) {
      socket = platform::OpenTcp();
      if (platform::Connect(socket, platform::Endpoint{kLoopback, port}) == 0) {
        return platform::Send(socket, kPrimer.data(), int(kPrimer.size())) == int(kPrimer.size());
      }
      platform::Close(socket);
      socket = platform::kInvalidSocket;
      platform::Sleep(kConnectRetryMs);
    }
    return false;
  }

  bool ReadExactly(size_t n, Bytes* out) {
    out->clear();
    while (out->size() < n) {
      if (platform::WaitReadable(socket, kAnswerWaitMs) != 1) return false;
      uint8_t buffer[4096];
      int got = platform::Recv(socket, buffer, int(std::min(sizeof buffer, n - out->size())));
      if (got <= 0) return false;
      out->insert(out->end(), buffer, buffer + got);
    }
    return true;
  }

  // Sends a request and returns the answer's code (-1 when none came) with its payload.
  int Ask(const sim::WireWriter& message, Bytes* answer) {
    Bytes request = message.Bytes();
    if (platform::Send(socket, request.data(), int(request.size())) != int(request.size())) return -1;
    Bytes header;
    if (!ReadExactly(8, &header) || !ReadExactly(size_t(IntAt(header, 4)), answer)) return -1;
    EXPECT_EQ(int16_t(header[0] | header[1] << 8), int16_t(request[0] | request[1] << 8));
    return int16_t(header[2] | header[3] << 8);
  }

  // Challenge, proof under the empty pass phrase, login as kind 19; the login answer's code.
  int Login() {
    Bytes answer;
    std::string challenge;
    if (Ask(Message(1, 14), &answer) != 15 || !sim::WireReader(answer).String(&challenge)) return -1;
    return Ask(LoginRequest(2, 19, ProofFor(challenge)), &answer);
  }

  fs::path root;
  fs::path logPath;
  uint16_t port = 0;
  pid_t pid = -1;
  platform::Socket socket = platform::kInvalidSocket;
};

TEST_F(ControllerSimProcess, ServesLoginAndSystemInformationOverLoopback) {
  ASSERT_EQ(Launch({"--address", "127.0.0.1", "--port", std::to_string(port), "--no-discovery", "--root",
                    (root / "disk").string(), "--name", "E2E", "--type", "9", "--subtype", "4", "--mac",
                    "0050C2ABCDEF"}),
            0);
  ASSERT_TRUE(ConnectWithPrimer());

  ASSERT_EQ(Login(), 28);

  Bytes answer;
  ASSERT_EQ(Ask(Message(3, 8120), &answer), 8121);
  // The name "E2E" padded to 4, then type 9, four zeros and subtype 4, spelled out.
  EXPECT_EQ(answer, (Bytes{3, 0, 0, 0, 'E', '2', 'E', 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                           0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0}));

  EXPECT_NE(Output().find("#1 request 8120 system information -> 8121\n"), std::string::npos);
}

TEST_F(ControllerSimProcess, TheClientSessionLogsInUnderTypeNineAndReadsSystemInformation) {
  ASSERT_EQ(Launch({"--address", "127.0.0.1", "--port", std::to_string(port), "--no-discovery", "--root",
                    (root / "disk").string(), "--type", "9", "--subtype", "16", "--accept-kinds", "19"}),
            0);
  ASSERT_TRUE(ConnectWithPrimer());  // it listens now
  platform::Close(socket);
  socket = platform::kInvalidSocket;

  SetServer(std::make_unique<CVRServer>());
  GetServer()->SetTarget(1, "");
  EXPECT_EQ(GetServer()->Connect(platform::Endpoint{kLoopback, port}), 0);
  SetServer(std::make_unique<CVRServer>());
  GetServer()->SetTarget(9, "");
  int typeNine = GetServer()->Connect(platform::Endpoint{kLoopback, port});
  ASSERT_EQ(typeNine, 1);

  CVRQuery query;
  CVRMSG request(0, kCodeSystemInfo, 0);
  CVRMSG* answer = nullptr;
  ASSERT_EQ(query.Ask(&answer, &request), 1);
  std::string name;
  EXPECT_EQ(answer->ReadString(name), 1);
  int32_t values[6] = {};
  for (int32_t& v : values) EXPECT_EQ(answer->ReadInt(&v), 1);
  EXPECT_EQ(values[0], 9);
  EXPECT_EQ(values[5], 16);
  CloseServer();
}

TEST_F(ControllerSimProcess, UpgradeScriptClosesTheConnectionUntilTheRebootIsOver) {
  fs::create_directories(root / "disk" / "mmcblk0p4" / "UPGRADE");
  std::ofstream(root / "disk" / "mmcblk0p4" / "UPGRADE" / "upgrade.sh") << "exit 0\n";
  ASSERT_EQ(Launch({"--port", std::to_string(port), "--no-discovery", "--root", (root / "disk").string(),
                    "--reboot-seconds", "1"}),
            0);
  ASSERT_TRUE(ConnectWithPrimer());
  ASSERT_EQ(Login(), 28);

  Bytes answer;
  ASSERT_EQ(Ask(Message(3, 8376, "sh /MIRU/BSP/UPGRADE/upgrade.sh &"), &answer), 8377);
  EXPECT_FALSE(ReadExactly(1, &answer));  // closed, not timed out: ReadExactly waits 5 s at most
  platform::Close(socket);
  socket = platform::kInvalidSocket;

  // Connections made while it reboots are closed at once; afterwards a login works again.
  bool back = false;
  for (int i = 0; i < kConnectTries && !back; ++i) {
    platform::Sleep(kConnectRetryMs);
    if (socket != platform::kInvalidSocket) platform::Close(socket);
    back = ConnectWithPrimer() && Login() == 28;
  }
  EXPECT_TRUE(back);
  EXPECT_NE(Output().find("back on the air\n"), std::string::npos);
}

TEST_F(ControllerSimProcess, BadOptionsEndWithExitCodeTwoAndAMessage) {
  const std::vector<std::vector<std::string>> bad = {
      {"--bogus"},
      {"--root", root.string(), "--port", "70000"},
      {"--root", root.string(), "--mac", "0050C2"},
      {"--root", root.string(), "--address", "127.0.0"},
      {"--root", root.string(), "--accept-kinds", "3,,19"},
      {"--port", "7000"},
  };
  for (const std::vector<std::string>& arguments : bad) {
    EXPECT_EQ(Launch(arguments, true), 2) << arguments[0];
    EXPECT_NE(Output("stderr.txt").find("bsplift-controller-sim: "), std::string::npos);
  }
}

}  // namespace
