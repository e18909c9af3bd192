// The real platform on a private LAN of network namespaces (scripts/lan): the adapter table as a
// host sees it, the main dialog discovering a simulated controller on another host, and a limited
// broadcast from a socket without an address of its own. Needs root; without it every test here is
// skipped with a message saying so. Nothing leaves the private bridge.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kLan = std::string(BSPLIFT_SOURCE_DIR) + "/scripts/lan";
const std::string kProbe = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-netprobe";
const std::string kSimulator = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-controller-sim";

// Runs a shell command and returns what it printed on stdout.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

class Lan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (geteuid() != 0) {
      skipReason = "SKIPPED: the LAN tests need root to make network namespaces";
    } else if (std::system((kLan + " up " + Prefix() + " 2 >/dev/null 2>&1").c_str()) != 0) {
      skipReason = "SKIPPED: scripts/lan could not make the network namespaces";
    }
    if (!skipReason.empty()) std::fprintf(stderr, "\n*** %s ***\n\n", skipReason.c_str());
  }

  static void TearDownTestSuite() {
    if (skipReason.empty()) std::system((kLan + " down " + Prefix()).c_str());
  }

  static std::string Prefix() { return "bl" + std::to_string(getpid()); }
  static std::string OnHost(int host, const std::string& command) {
    return "ip netns exec " + Prefix() + "-" + std::to_string(host) + " " + command;
  }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    root = fs::temp_directory_path() / ("bsplift-lan-" + std::to_string(getpid()));
    fs::create_directories(root / "disk");
  }

  void TearDown() override {
    if (simulator > 0) {
      kill(simulator, SIGTERM);
      waitpid(simulator, nullptr, 0);
    }
    if (!root.empty()) fs::remove_all(root);
  }

  // Starts the controller simulator on host 2, answering discovery, and waits until it listens.
  void StartController() {
    std::vector<std::string> args = {"ip", "netns", "exec", Prefix() + "-2", kSimulator, "--address", "10.231.0.12",
                                     "--port", "7000", "--root", (root / "disk").string(), "--name", "LAN",
                                     "--mac", "0050C2ABCDEF", "--type", "8", "--subtype", "10"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::string log = (root / "simulator.txt").string();
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(posix_spawnp(&simulator, "ip", &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 100 && Log().find("listening") == std::string::npos; ++i) usleep(20000);
    ASSERT_NE(Log().find("listening"), std::string::npos) << Log();
  }

  std::string Log() const {
    std::ifstream in(root / "simulator.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  static std::string skipReason;
  fs::path root;
  pid_t simulator = -1;
};

std::string Lan::skipReason;

TEST_F(Lan, TheAdapterTableShowsTheHostsPortWithItsDriverHardwareAddressAndMask) {
  std::string mac = Output(OnHost(1, "cat /sys/class/net/lan0/address"));
  ASSERT_EQ(mac.size(), 18u);
  mac.pop_back();
  EXPECT_EQ(Output(OnHost(1, kProbe + " adapters")),
            "count 2\nadapter\tveth\t" + mac + "\t10.231.0.11/255.255.255.0\n");  // loopback counted, not listed
}

TEST_F(Lan, TheMainDialogListsAControllerOnAnotherHost) {
  StartController();
  EXPECT_EQ(Output(OnHost(1, kProbe + " list 2500")), "00:50:C2:AB:CD:EF\t    10.231.0.12\tPD10\n");
  EXPECT_NE(Log().find("probe from 10.231.0.11:444 answered"), std::string::npos) << Log();
}

TEST_F(Lan, ALimitedBroadcastFromASocketWithoutAnAddressStillLeavesOnTheLan) {
  StartController();
  std::string out = Output(OnHost(1, kProbe + " probe-unbound 1000"));
  EXPECT_NE(out.find("sent 8\n"), std::string::npos) << out;
  EXPECT_NE(out.find("answer 180 from 10.231.0.12\n"), std::string::npos) << out;
}

}  // namespace
