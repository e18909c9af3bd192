// The real platform on a private LAN of network namespaces (scripts/lan): the adapter table as a
// host sees it, the main dialog discovering a simulated controller on another host (answering the
// prober or everyone), a limited broadcast from a socket without an address of its own, the
// broadcasts a socket bound to an adapter's address hears, and a listening port taken again right
// after a session on it ended. Needs root; without it every test here is skipped with a message
// saying so. Nothing leaves the private bridge.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "tests/support/namespace_lan.h"

namespace {

namespace fs = std::filesystem;

using testing_support::BringUpLan;
using testing_support::OnLanHost;
using testing_support::ShellOutput;
using testing_support::SpawnOnLanHost;
using testing_support::TakeDownLan;

const std::string kProbe = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-netprobe";
const std::string kBsplift = std::string(BSPLIFT_BINARY_DIR) + "/bsplift";
const std::string kSimulator = std::string(BSPLIFT_BINARY_DIR) + "/bsplift-controller-sim";

class Lan : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { skipReason = BringUpLan(Prefix(), 2); }

  static void TearDownTestSuite() {
    if (skipReason.empty()) TakeDownLan(Prefix());
  }

  static std::string Prefix() { return "bl" + std::to_string(getpid()); }
  static std::string Host(int host) { return Prefix() + "-" + std::to_string(host); }
  static std::string OnHost(int host, const std::string& command) { return OnLanHost(Prefix(), host, command); }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    root = fs::temp_directory_path() / ("bsplift-lan-" + std::to_string(getpid()));
    fs::create_directories(root / "disk");
  }

  void TearDown() override {
    StopController();
    if (secondLan) std::system(("ip -n " + Host(1) + " link del lan1").c_str());
    if (!root.empty()) fs::remove_all(root);
  }

  // Starts the controller simulator on host 2, answering discovery, and waits until it listens.
  void StartController(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> command = {kSimulator, "--address", "10.231.0.12", "--port", "7000",
                                        "--root", (root / "disk").string(), "--name", "LAN",
                                        "--mac", "0050C2ABCDEF", "--type", "8", "--subtype", "10"};
    command.insert(command.end(), extra.begin(), extra.end());
    std::string log = (root / "simulator.txt").string();
    simulator = SpawnOnLanHost(Prefix(), 2, command, log, log);
    ASSERT_GT(simulator, 0);
    for (int i = 0; i < 100 && Log().find("listening") == std::string::npos; ++i) usleep(20000);
    ASSERT_NE(Log().find("listening"), std::string::npos) << Log();
  }

  // Ends the simulator as a kill would, its sockets closed by the system.
  void StopController() {
    if (simulator <= 0) return;
    kill(simulator, SIGTERM);
    waitpid(simulator, nullptr, 0);
    simulator = -1;
  }

  // A second LAN between hosts 1 and 2, beside the bridge: port "lan1" on each, 10.232.0.<10+i>/24.
  void AddSecondLan() {
    secondLan = true;
    std::string one = Host(1), two = Host(2);
    std::string commands = "ip link add lan1 netns " + one + " type veth peer name lan1 netns " + two +
                           " && ip -n " + one + " addr add 10.232.0.11/24 brd + dev lan1 && ip -n " + one +
                           " link set lan1 up && ip -n " + two + " addr add 10.232.0.12/24 brd + dev lan1 && ip -n " +
                           two + " link set lan1 up";
    ASSERT_EQ(std::system(commands.c_str()), 0) << commands;
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
  bool secondLan = false;
};

std::string Lan::skipReason;

// The calling thread runs in the network namespace of a host (Lan::Host) while this lives: the real
// platform's sockets opened meanwhile belong to that host and keep working after it is gone.
class OnHostScope {
 public:
  explicit OnHostScope(const std::string& host) : home(open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
    std::string path = "/run/netns/" + host;
    int target = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    entered = home >= 0 && target >= 0 && setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) close(target);
    EXPECT_TRUE(entered) << path << ": " << std::strerror(errno);
  }
  ~OnHostScope() {
    if (entered) {
      EXPECT_EQ(setns(home, CLONE_NEWNET), 0);
    }
    if (home >= 0) close(home);
  }
  OnHostScope(const OnHostScope&) = delete;
  OnHostScope& operator=(const OnHostScope&) = delete;

 private:
  int home;
  bool entered = false;
};

// The calling thread stays on the CPU it runs on while this lives. The kernel hands on the packets
// that one CPU sent in the order sent, but those of two CPUs in any order, so datagrams sent under
// this arrive in their sending order whatever else the machine does.
class OneCpuScope {
 public:
  OneCpuScope() {
    pinned = sched_getaffinity(0, sizeof before, &before) == 0;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    pinned = pinned && sched_setaffinity(0, sizeof one, &one) == 0;
    EXPECT_TRUE(pinned) << std::strerror(errno);
  }
  ~OneCpuScope() {
    if (pinned) sched_setaffinity(0, sizeof before, &before);
  }
  OneCpuScope(const OneCpuScope&) = delete;
  OneCpuScope& operator=(const OneCpuScope&) = delete;

 private:
  cpu_set_t before;
  bool pinned = false;
};

// 10.231.0.<last> or 10.232.0.<last> in network order.
constexpr uint32_t FirstLan(uint8_t last) { return platform::MakeAddress(10, 231, 0, last); }
constexpr uint32_t SecondLan(uint8_t last) { return platform::MakeAddress(10, 232, 0, last); }

// A UDP socket of the real platform bound to address (port 0: any), broadcasts allowed.
platform::Socket BoundUdp(uint32_t address, uint16_t port) {
  platform::Socket s = platform::OpenUdp();
  EXPECT_EQ(platform::Bind(s, platform::Endpoint{address, port}), 0) << "error " << platform::LastSocketError();
  EXPECT_EQ(platform::SetBroadcast(s, true), 0);
  return s;
}

struct Heard {
  std::string text;
  uint32_t from = 0;
  bool operator==(const Heard&) const = default;
};

void PrintTo(const Heard& h, std::ostream* out) {
  *out << "\"" << h.text << "\" from " << (h.from & 0xFF) << "." << (h.from >> 8 & 0xFF) << "."
       << (h.from >> 16 & 0xFF) << "." << (h.from >> 24);
}

// Every datagram s holds, read as the main dialog reads: wait, pending size, then the read. A
// datagram whose pending size is not its size is marked in the text.
std::vector<Heard> ReadAll(platform::Socket s) {
  std::vector<Heard> heard;
  while (platform::WaitReadable(s, 300) == 1) {
    uint32_t pending = 0;
    EXPECT_EQ(platform::PendingBytes(s, &pending), 0);
    char buffer[256];
    platform::Endpoint from;
    int size = platform::RecvFrom(s, buffer, sizeof buffer, &from);
    if (size < 0) break;
    std::string text(buffer, size_t(size));
    if (pending != uint32_t(size)) text += " (pending " + std::to_string(pending) + ")";
    heard.push_back(Heard{text, from.address});
  }
  return heard;
}

TEST_F(Lan, TheAdapterTableShowsTheHostsPortWithItsDriverHardwareAddressAndMask) {
  std::string mac = ShellOutput(OnHost(1, "cat /sys/class/net/lan0/address"));
  ASSERT_EQ(mac.size(), 18u);
  mac.pop_back();
  EXPECT_EQ(ShellOutput(OnHost(1, kProbe + " adapters")),
            "count 2\nadapter\tveth\t" + mac + "\t10.231.0.11/255.255.255.0\n");  // loopback counted, not listed
}

TEST_F(Lan, TheMainDialogListsAControllerOnAnotherHost) {
  StartController();
  EXPECT_EQ(ShellOutput(OnHost(1, kBsplift + " list")), "00:50:C2:AB:CD:EF\t    10.231.0.12\tPD10\n");
  EXPECT_NE(Log().find("probe from 10.231.0.11:444 answered"), std::string::npos) << Log();
}

TEST_F(Lan, ALimitedBroadcastFromASocketWithoutAnAddressStillLeavesOnTheLan) {
  StartController();
  std::string out = ShellOutput(OnHost(1, kProbe + " probe-unbound 1000"));
  EXPECT_NE(out.find("sent 8\n"), std::string::npos) << out;
  EXPECT_NE(out.find("answer 180 from 10.231.0.12\n"), std::string::npos) << out;
}

TEST_F(Lan, TheMainDialogListsAControllerThatAnswersByBroadcast) {
  StartController({"--answer-by-broadcast"});
  EXPECT_EQ(ShellOutput(OnHost(1, kBsplift + " list")), "00:50:C2:AB:CD:EF\t    10.231.0.12\tPD10\n");
  EXPECT_NE(Log().find("probe from 10.231.0.11:444 answered to 255.255.255.255:444"), std::string::npos) << Log();
}

TEST_F(Lan, ASocketBoundToAnAdaptersAddressHearsTheBroadcastsOfThatAdaptersLanOnly) {
  constexpr uint16_t kPort = 4440;
  AddSecondLan();
  platform::Socket first, second;
  {
    OnHostScope host(Host(1));
    first = BoundUdp(FirstLan(11), kPort);
    second = BoundUdp(SecondLan(11), kPort);
  }
  platform::Socket fromFirst, fromSecond;
  {
    OnHostScope host(Host(2));
    fromFirst = BoundUdp(FirstLan(12), 0);
    fromSecond = BoundUdp(SecondLan(12), 0);
  }
  auto send = [](platform::Socket s, const std::string& text, uint32_t to) {
    ASSERT_EQ(platform::SendTo(s, text.data(), int(text.size()), platform::Endpoint{to, kPort}), int(text.size()));
  };

  // Each socket's adapter decides: the second LAN's broadcast wakes only the socket bound there.
  send(fromSecond, "second", platform::kBroadcastAddress);
  platform::WaitEntry entries[] = {{first, false}, {second, false}};
  ASSERT_EQ(platform::WaitAny(entries, 2, 1000), 1);
  EXPECT_FALSE(entries[0].readable);
  EXPECT_TRUE(entries[1].readable);
  EXPECT_EQ(platform::WaitReadable(first, 0), 0);

  // The unicast below must not sit waiting for address resolution while the broadcasts sent after
  // it go out at once: resolve the address first.
  send(fromFirst, "warm-up", FirstLan(11));
  EXPECT_EQ(ReadAll(first), (std::vector<Heard>{{"warm-up", FirstLan(12)}}));
  {
    OneCpuScope inOrder;
    send(fromFirst, "limited", platform::kBroadcastAddress);
    send(fromFirst, "unicast", FirstLan(11));
    send(fromFirst, "", platform::kBroadcastAddress);
    send(fromFirst, "directed", FirstLan(255));
    send(fromSecond, "second directed", SecondLan(255));
  }
  EXPECT_EQ(ReadAll(first), (std::vector<Heard>{{"limited", FirstLan(12)},
                                                {"unicast", FirstLan(12)},
                                                {"", FirstLan(12)},
                                                {"directed", FirstLan(12)}}));
  EXPECT_EQ(ReadAll(second), (std::vector<Heard>{{"second", SecondLan(12)}, {"second directed", SecondLan(12)}}));

  // Hearing broadcasts takes no address from anyone: the bound address stays held, and once both
  // sockets are closed the port is free even for a socket bound to every address.
  {
    OnHostScope host(Host(1));
    platform::Socket again = platform::OpenUdp();
    EXPECT_EQ(platform::Bind(again, platform::Endpoint{FirstLan(11), kPort}), -1);
    EXPECT_EQ(platform::LastSocketError(), EADDRINUSE);
    platform::Close(again);
    for (platform::Socket s : {first, second}) platform::Close(s);
    platform::Socket everywhere = platform::OpenUdp();
    EXPECT_EQ(platform::Bind(everywhere, platform::Endpoint{platform::kAnyAddress, kPort}), 0)
        << "error " << platform::LastSocketError();
    platform::Close(everywhere);
  }
  for (platform::Socket s : {fromFirst, fromSecond}) platform::Close(s);
}

TEST_F(Lan, TheSimulatorListensAgainRightAfterASessionWithItEnded) {
  StartController({"--silent"});
  platform::Socket client;
  {
    OnHostScope host(Host(1));
    client = platform::OpenTcp();
    ASSERT_EQ(platform::Connect(client, platform::Endpoint{FirstLan(12), 7000}), 0);
  }
  for (int i = 0; i < 100 && Log().find("#1 connected") == std::string::npos; ++i) usleep(20000);
  ASSERT_NE(Log().find("#1 connected"), std::string::npos) << Log();
  // The simulator's side closes first, so the TIME_WAIT is on the listening port's host.
  StopController();
  ASSERT_EQ(platform::WaitReadable(client, 1000), 1);
  char c;
  EXPECT_EQ(platform::Recv(client, &c, 1), 0);
  platform::Close(client);
  std::string waiting;
  for (int i = 0; i < 50 && waiting.find("10.231.0.12:7000") == std::string::npos; ++i) {
    if (i) usleep(20000);
    waiting = ShellOutput(OnHost(2, "ss -tan state time-wait"));
  }
  ASSERT_NE(waiting.find("10.231.0.12:7000"), std::string::npos) << waiting;

  StartController();
  EXPECT_EQ(Log().find("cannot listen"), std::string::npos) << Log();
}

}  // namespace
