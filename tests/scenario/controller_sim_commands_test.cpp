// The controller simulator's shell lines and its unrequested messages, seen from a client host in a
// simulated LAN: every line lands in commands.log, a dry controller answers lines without running
// them, and a silent one sends nothing it was not asked for. The client side speaks the wire with
// the simulator's codec; expected payloads are spelled out byte by byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "sim/controller.h"
#include "sim/login_proof.h"
#include "sim/wire.h"
#include "sim/world_reactor.h"
#include "tests/support/test_world.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kClientAddress = MakeAddress(10, 0, 0, 2);
constexpr uint32_t kControllerAddress = MakeAddress(10, 0, 0, 20);
constexpr uint16_t kServicePort = 7000;
constexpr uint64_t kSeed = 20240612;
constexpr int16_t kAllSinksId = 0x7FFF;
const std::string kPrimer = "CONNECTSERVERHOST\r\n\r\n";

const std::vector<std::string> kUpgradeLines = {
    "umount /MIRU/BSP",        "mkdir /MIRU/BSP",        "mount /dev/mmcblk0p4 /MIRU/BSP",
    "rm -Rf /MIRU/BSP/UPGRADE", "mkdir /MIRU/BSP/UPGRADE", "chmod -R 755 /MIRU/BSP",
    "sh /MIRU/BSP/UPGRADE/upgrade.sh &",
};

// Little-endian int32s written out by hand, so that expected payloads do not come from the codec
// under test.
Bytes Ints(std::initializer_list<int64_t> values) {
  Bytes bytes;
  for (int64_t value : values) {
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(uint64_t(value) >> (8 * i)));
  }
  return bytes;
}

void WriteHostFile(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string ReadHostText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Content(size_t size) {
  Bytes content(size);
  for (size_t i = 0; i < size; ++i) content[i] = uint8_t(i * 13 + 7);
  return content;
}

uint32_t ByteSum(const Bytes& bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
  return sum;
}

::sim::WireWriter ShellLine(int16_t id, const std::string& line) {
  ::sim::WireWriter request(id, ::sim::kShellRequest);
  request.String(line);
  return request;
}

::sim::WireWriter Compare(int16_t id, const std::string& remote) {
  ::sim::WireWriter request(id, ::sim::kCompareRequest);
  request.String(remote);
  return request;
}

// --- fixture ----------------------------------------------------------------------------------

class ControllerSimCommands : public ::testing::Test {
 protected:
  ControllerSimCommands() : world(0, kSeed) {
    clientHost = world.AddHost("pc", kClientAddress);
    controllerHost = world.AddHost("controller", kControllerAddress);
    root = fs::temp_directory_path() /
           ("bsplift-sim-commands-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    config.address = kControllerAddress;
    config.port = kServicePort;
    config.discovery = false;
    config.log = [this](const std::string& line) { log.push_back(line); };
    Reset();
  }

  ~ControllerSimCommands() override {
    Stop();
    fs::remove_all(root);
  }

  void TearDown() override {
    if (HasFailure()) {
      std::printf("world seed %llu; controller log:\n", static_cast<unsigned long long>(world.Seed()));
      for (const std::string& line : log) std::printf("  %s\n", line.c_str());
    }
  }

  // A fresh sandbox and no controller, for the next case of a table.
  void Reset() {
    Stop();
    fs::remove_all(root);
    config.root = root.string();
    config.dryCommands = false;
    config.faults = ::sim::ControllerFaults();
    log.clear();
  }

  void Stop() {
    for (auto& [s, stream] : streams) Close(s);
    streams.clear();
    controller.reset();
    reactor.reset();
  }

  void StartController() {
    reactor = std::make_unique<::sim::WorldReactor>(world, controllerHost);
    controller = std::make_unique<::sim::Controller>(config);
    ASSERT_EQ(controller->Start(*reactor), 1);
  }

  void SendBytes(Socket s, const Bytes& bytes) {
    ASSERT_EQ(Send(s, bytes.data(), int(bytes.size())), int(bytes.size()));
  }

  // A connection to the message service with the primer sent.
  Socket Connect() {
    Socket s = OpenTcp();
    streams[s] = Bytes();
    EXPECT_EQ(platform::Connect(s, Endpoint{kControllerAddress, kServicePort}), 0);
    SendBytes(s, Bytes(kPrimer.begin(), kPrimer.end()));
    return s;
  }

  // The next message of any kind within timeoutMs of virtual time.
  bool NextFrame(Socket s, ::sim::Frame* frame, uint32_t timeoutMs) {
    Bytes& stream = streams[s];
    uint64_t deadline = world.NowMs() + timeoutMs;
    for (;;) {
      ::sim::FrameResult result = ::sim::TakeFrame(&stream, frame);
      if (result == ::sim::FrameResult::Taken) return true;
      EXPECT_NE(result, ::sim::FrameResult::Broken);
      uint64_t now = world.NowMs();
      if (result == ::sim::FrameResult::Broken || now >= deadline) return false;
      if (WaitReadable(s, uint32_t(deadline - now)) != 1) return false;
      uint8_t buffer[4096];
      int got = Recv(s, buffer, sizeof buffer);
      if (got <= 0) return false;
      stream.insert(stream.end(), buffer, buffer + got);
    }
  }

  // The answer to the request, passing over messages to all sinks.
  ::sim::Frame Ask(Socket s, const ::sim::WireWriter& request) {
    SendBytes(s, request.Bytes());
    ::sim::Frame frame;
    while (NextFrame(s, &frame, 30000)) {
      if (frame.id != kAllSinksId) return frame;
    }
    ADD_FAILURE() << "no answer to request " << request.Code();
    return ::sim::Frame();
  }

  // Login payload: int 813, int client kind, string "VRSTART", int 16, the 16 proof bytes, int 2,
  // four empty strings.
  void Login(Socket s) {
    ::sim::Frame challengeAnswer = Ask(s, ::sim::WireWriter(1, ::sim::kChallengeRequest));
    ASSERT_EQ(challengeAnswer.code, ::sim::kChallengeRequest + 1);
    std::string challenge;
    ASSERT_EQ(::sim::WireReader(challengeAnswer.payload).String(&challenge), 1);
    ::sim::Proof proof;
    ASSERT_EQ(::sim::ExpectedProof(challenge, "", &proof), 1);
    ::sim::WireWriter login(2, ::sim::kLoginRequest);
    login.Int(813);
    login.Int(19);
    login.String("VRSTART");
    login.Int(int32_t(proof.size()));
    login.Raw(proof.data(), proof.size());
    login.Int(2);
    for (int i = 0; i < 4; ++i) login.String("");
    ASSERT_EQ(Ask(s, login).code, ::sim::kLoginRequest + 1);
  }

  fs::path Partition(const std::string& relative) const { return root / "mmcblk0p4" / relative; }

  testing_support::TestWorld world;
  platform::sim::HostId clientHost;
  platform::sim::HostId controllerHost;
  fs::path root;
  ::sim::ControllerConfig config;
  std::vector<std::string> log;
  std::unique_ptr<::sim::WorldReactor> reactor;
  std::unique_ptr<::sim::Controller> controller;
  std::map<Socket, Bytes> streams;  // each connection's bytes not yet taken as messages
};

// --- shell lines --------------------------------------------------------------------------------

TEST_F(ControllerSimCommands, DryControllerAnswersEveryUpgradeLineAndKeepsThePartitionAsItWas) {
  const Bytes image = Content(5000);
  const Bytes script = {'e', 'x', 'i', 't', '\n'};
  const struct {
    bool dry;
    int64_t imageSize;
    uint32_t imageSum;
  } cases[] = {
      {true, 5000, ByteSum(image)},
      {false, -1, 0},  // rm -Rf took the folder, the script with it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.dry ? "dry" : "run");
    Reset();
    config.dryCommands = c.dry;
    WriteHostFile(Partition("UPGRADE/rootfs.img"), image);
    WriteHostFile(Partition("UPGRADE/upgrade.sh"), script);
    StartController();
    Socket s = Connect();
    Login(s);

    int16_t id = 10;
    for (const std::string& line : kUpgradeLines) {
      ::sim::Frame answer = Ask(s, ShellLine(++id, line));
      EXPECT_EQ(answer.id, id) << line;
      EXPECT_EQ(answer.code, ::sim::kShellRequest + 1) << line;
      EXPECT_TRUE(answer.payload.empty()) << line;
    }
    ::sim::Frame compared = Ask(s, Compare(30, "BSP/UPGRADE\\rootfs.img"));
    EXPECT_EQ(compared.code, ::sim::kCompareRequest + 1);
    EXPECT_EQ(compared.payload, Ints({c.imageSize, c.imageSum}));

    // Neither script line took the controller off the air: the same connection is still served.
    world.RunFor((config.rebootSeconds + 1) * 1000);
    EXPECT_TRUE(controller->OnAir());
    EXPECT_EQ(controller->UpgradeRuns(), 0);
    EXPECT_EQ(Ask(s, ::sim::WireWriter(31, ::sim::kSystemInformationRequest)).code,
              ::sim::kSystemInformationRequest + 1);
    EXPECT_EQ(fs::exists(Partition("UPGRADE/upgrade.sh")), c.dry);
  }
}

TEST_F(ControllerSimCommands, DryUpgradeScriptLineLeavesTheControllerOnTheAirWhereARealOneRebootsIt) {
  for (bool dry : {true, false}) {
    SCOPED_TRACE(dry ? "dry" : "run");
    Reset();
    config.dryCommands = dry;
    WriteHostFile(Partition("UPGRADE/upgrade.sh"), Bytes{'\n'});
    StartController();
    Socket s = Connect();
    Login(s);
    EXPECT_EQ(Ask(s, ShellLine(3, kUpgradeLines.back())).code, ::sim::kShellRequest + 1);
    world.RunFor(1000);
    EXPECT_EQ(controller->OnAir(), dry);
    EXPECT_EQ(controller->UpgradeRuns(), dry ? 0 : 1);
    EXPECT_EQ(controller->ConnectionCount(), dry ? 1u : 0u);
  }
}

TEST_F(ControllerSimCommands, CommandsLogGainsEveryLineAsReceivedInOrderWhetherRunOrNot) {
  std::vector<std::string> lines = kUpgradeLines;
  lines.insert(lines.begin() + 3, {"reboot -f", "  mkdir   /MIRU/odd spacing  ", ""});
  for (bool dry : {false, true}) {
    SCOPED_TRACE(dry ? "dry" : "run");
    Reset();
    config.dryCommands = dry;
    WriteHostFile(root / "commands.log", Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r', '\n'});
    StartController();
    Socket s = Connect();
    Login(s);
    int16_t id = 100;
    for (const std::string& line : lines) EXPECT_EQ(Ask(s, ShellLine(++id, line)).id, id);

    std::string expected = "earlier\n";
    for (const std::string& line : lines) expected += line + "\n";
    EXPECT_EQ(ReadHostText(root / "commands.log"), expected);
  }
}

// --- messages to all sinks -----------------------------------------------------------------------

TEST_F(ControllerSimCommands, SilentControllerSendsNothingUnrequestedButStillAnswers) {
  constexpr uint32_t kWatchMs = 30000;
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "default");
    Reset();
    config.faults.silent = silent;
    StartController();
    Socket s = Connect();
    uint64_t connectedAt = world.NowMs();
    Login(s);

    std::vector<uint64_t> arrivals;
    ::sim::Frame frame;
    uint64_t until = connectedAt + kWatchMs;
    while (world.NowMs() < until && NextFrame(s, &frame, uint32_t(until - world.NowMs()))) {
      EXPECT_EQ(frame.id, kAllSinksId);
      EXPECT_EQ(frame.code, ::sim::kAllSinksCode);
      EXPECT_EQ(frame.payload, Ints({int64_t(arrivals.size() + 1)}));
      arrivals.push_back(world.NowMs() - connectedAt);
    }
    std::vector<uint64_t> expected;
    if (!silent) {
      for (uint64_t at = ::sim::kAllSinksPeriodMs; at <= kWatchMs; at += ::sim::kAllSinksPeriodMs) expected.push_back(at);
    }
    EXPECT_EQ(arrivals, expected);
    ::sim::Frame answer = Ask(s, ::sim::WireWriter(40, ::sim::kSystemInformationRequest));
    EXPECT_EQ(answer.id, 40);
    EXPECT_EQ(answer.code, ::sim::kSystemInformationRequest + 1);
  }
}

TEST_F(ControllerSimCommands, ClientStreamingALargeFileToASilentControllerHearsNothingUntilItAsks) {
  // Eight seconds of stream behind the client's link: longer than the period of the unrequested
  // message, which the default controller sends meanwhile.
  constexpr uint32_t kLinkBytesPerMs = 1250;
  constexpr size_t kFileBytes = 10000000;
  constexpr size_t kChunkBytes = 100000;
  const Bytes file = Content(kFileBytes);
  const std::string remote = "BSP\\big.img";
  world.SetLinkRate(clientHost, kLinkBytesPerMs);
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "default");
    Reset();
    config.faults.silent = silent;
    StartController();
    Socket s = Connect();
    Login(s);
    ::sim::WireWriter announce(5, ::sim::kAnnounceRequest);
    announce.String(remote);
    announce.Int(int32_t(kFileBytes));
    announce.Int(int32_t(kFileBytes));
    ASSERT_EQ(Ask(s, announce).code, ::sim::kAnnounceRequest + 1);

    uint64_t startMs = world.NowMs();
    for (size_t at = 0; at < kFileBytes; at += kChunkBytes) {
      ::sim::WireWriter chunk(0, ::sim::kChunkRequest);
      chunk.Int(int32_t(kChunkBytes));
      chunk.Raw(file.data() + at, kChunkBytes);
      SendBytes(s, chunk.Bytes());
    }
    EXPECT_GE(world.NowMs() - startMs, 7000u);

    SendBytes(s, Compare(6, remote).Bytes());
    ::sim::Frame first;
    ASSERT_TRUE(NextFrame(s, &first, 30000));
    if (silent) {
      EXPECT_EQ(first.id, 6);
      EXPECT_EQ(first.code, ::sim::kCompareRequest + 1);
      EXPECT_EQ(first.payload, Ints({int64_t(kFileBytes), ByteSum(file)}));
    } else {
      EXPECT_EQ(first.id, kAllSinksId);
    }
  }
}

}  // namespace
