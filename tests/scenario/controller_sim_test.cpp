// The controller simulator driven byte by byte from a client host in a simulated LAN. Requests are
// written with the simulator's own codec; its answers are checked against bytes spelled out here, so
// that a mistake in its codec shows. Besides the protocol: every shell line lands in commands.log, a
// dry controller answers lines without running them, and a silent one sends nothing it was not asked
// for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "sim/controller.h"
#include "sim/wire.h"
#include "sim/world_reactor.h"
#include "tests/support/sim_messages.h"
#include "tests/support/test_world.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kClientAddress = MakeAddress(10, 0, 0, 2);
constexpr uint32_t kControllerAddress = MakeAddress(10, 0, 0, 20);
constexpr uint16_t kServicePort = 7000;
constexpr uint64_t kSeed = 20240611;
const std::string kPrimer = "CONNECTSERVERHOST\r\n\r\n";
const Bytes kProbe = {0x47, 0x48, 0, 0, 0, 0, 0, 0};

const std::vector<std::string> kUpgradeLines = {
    "umount /MIRU/BSP",        "mkdir /MIRU/BSP",        "mount /dev/mmcblk0p4 /MIRU/BSP",
    "rm -Rf /MIRU/BSP/UPGRADE", "mkdir /MIRU/BSP/UPGRADE", "chmod -R 755 /MIRU/BSP",
    "sh /MIRU/BSP/UPGRADE/upgrade.sh &",
};

using testing_support::IntAt;
using testing_support::LoginRequest;
using testing_support::Message;
using testing_support::ProofFor;
// An answer as it came off the wire.
using Reply = ::sim::Frame;

// Little-endian int32s written out by hand: the expected answers do not come from the writer under
// test.
Bytes Ints(std::initializer_list<int32_t> values) {
  Bytes bytes;
  for (int32_t value : values) {
    for (int i = 0; i < 4; ++i) bytes.push_back(uint8_t(uint32_t(value) >> (8 * i)));
  }
  return bytes;
}

// A pattern that no off-by-one in a copy or an offset leaves unchanged.
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

Bytes ReadHostFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteHostFile(const fs::path& path, const Bytes& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// --- fixture ----------------------------------------------------------------------------------

class ControllerSim : public ::testing::Test {
 protected:
  ControllerSim() : world(0, kSeed) {
    clientHost = world.AddHost("pc", kClientAddress);
    controllerHost = world.AddHost("controller", kControllerAddress);
    root = fs::temp_directory_path() /
           ("bsplift-controller-sim-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root);
    config = DefaultConfig();
  }

  ~ControllerSim() override {
    Stop();
    fs::remove_all(root);
  }

  void TearDown() override {
    if (HasFailure()) {
      std::printf("world seed %llu; controller log:\n", static_cast<unsigned long long>(world.Seed()));
      for (const std::string& line : log) std::printf("  %s\n", line.c_str());
    }
  }

  // The controller every test starts from: a type 9 with discovery, its sandbox in root, its log
  // kept for the failure printout.
  ::sim::ControllerConfig DefaultConfig() {
    ::sim::ControllerConfig fresh;
    fresh.address = kControllerAddress;
    fresh.port = kServicePort;
    fresh.mac = "0050C2ABCDEF";
    fresh.name = "LOBBY";
    fresh.type = 9;
    fresh.subtype = 3;
    fresh.secondText = "BSP 2.1";
    fresh.root = root.string();
    fresh.log = [this](const std::string& line) { log.push_back(line); };
    return fresh;
  }

  // Closes the client's sockets, then the controller and its reactor.
  void Stop() {
    for (Socket s : opened) Close(s);
    opened.clear();
    controller.reset();
    reactor.reset();
  }

  // Between the cases of a table: no controller, no connections, an empty sandbox and the default
  // configuration. The world and its clock go on; the log goes on too, with a mark, so that a
  // failure printout shows every case.
  void Reset() {
    Stop();
    fs::remove_all(root);
    config = DefaultConfig();
    log.push_back("--- next case: fresh sandbox ---");
  }

  void StartController() {
    controller.reset();
    if (!reactor) reactor = std::make_unique<::sim::WorldReactor>(world, controllerHost);
    controller = std::make_unique<::sim::Controller>(config);
    ASSERT_EQ(controller->Start(*reactor), 1);
  }

  Socket Track(Socket s) {
    opened.push_back(s);
    return s;
  }

  void SendBytes(Socket s, const Bytes& bytes) { ASSERT_EQ(Send(s, bytes.data(), int(bytes.size())), int(bytes.size())); }

  // A connection to the message service with the primer sent.
  Socket Connect() {
    Socket s = Track(OpenTcp());
    EXPECT_EQ(platform::Connect(s, Endpoint{kControllerAddress, kServicePort}), 0);
    SendBytes(s, Bytes(kPrimer.begin(), kPrimer.end()));
    return s;
  }

  // Exactly n bytes within timeoutMs of virtual time; false when they did not come.
  bool ReadExactly(Socket s, size_t n, Bytes* out, uint32_t timeoutMs) {
    uint64_t deadline = world.NowMs() + timeoutMs;
    out->clear();
    while (out->size() < n) {
      if (world.NowMs() >= deadline || WaitReadable(s, uint32_t(deadline - world.NowMs())) != 1) return false;
      uint8_t buffer[4096];
      int got = Recv(s, buffer, int(std::min(sizeof buffer, n - out->size())));
      if (got <= 0) return false;
      out->insert(out->end(), buffer, buffer + got);
    }
    return true;
  }

  // The next message, skipping those to all sinks unless asked for them. A length that no reader
  // accepts fails the test: the stream cannot be framed past it.
  bool NextMessage(Socket s, Reply* reply, uint32_t timeoutMs = 30000, bool allSinksToo = false) {
    uint64_t deadline = world.NowMs() + timeoutMs;
    for (;;) {
      Bytes header;
      uint64_t now = world.NowMs();
      // The deadline covers the wait for a message to begin; one that began is read whole.
      if (now >= deadline || WaitReadable(s, uint32_t(deadline - now)) != 1) return false;
      if (!ReadExactly(s, 8, &header, 1000)) return false;
      reply->id = int16_t(header[0] | header[1] << 8);
      reply->code = int16_t(header[2] | header[3] << 8);
      int32_t length = IntAt(header, 4);
      if (length < 0 || int64_t(::sim::kHeaderBytes) + length > ::sim::kMaxFrameBytes) {
        ADD_FAILURE() << "message " << reply->id << " with code " << reply->code << " claims " << length
                      << " payload bytes";
        return false;
      }
      if (!ReadExactly(s, size_t(length), &reply->payload, 1000)) return false;
      if (allSinksToo || reply->id != 0x7FFF) return true;
    }
  }

  // The answer to the request, passing over messages to all sinks; an empty one (and a failure)
  // when none came.
  Reply Ask(Socket s, const ::sim::WireWriter& request) {
    SendBytes(s, request.Bytes());
    Reply reply;
    if (!NextMessage(s, &reply)) {
      ADD_FAILURE() << "no answer to request " << request.Code();
      return Reply();
    }
    return reply;
  }
  // The request with this id, code and payload items (see testing_support::Message).
  template <typename... Items>
  Reply Ask(Socket s, int16_t id, int16_t code, const Items&... items) {
    return Ask(s, Message(id, code, items...));
  }

  std::string Challenge(Socket s) {
    Reply reply = Ask(s, 1, 14);
    EXPECT_EQ(reply.code, 15);
    std::string challenge;
    EXPECT_EQ(::sim::WireReader(reply.payload).String(&challenge), 1);
    return challenge;
  }

  void Login(Socket s, int32_t kind = 19) {
    std::string challenge = Challenge(s);
    ASSERT_EQ(Ask(s, LoginRequest(2, kind, ProofFor(challenge))).code, 28);
  }

  // True when the controller closed the connection within timeoutMs (any data before is dropped).
  bool ClosedByController(Socket s, uint32_t timeoutMs = 1000) {
    uint64_t deadline = world.NowMs() + timeoutMs;
    while (world.NowMs() < deadline && WaitReadable(s, uint32_t(deadline - world.NowMs())) == 1) {
      uint8_t buffer[4096];
      if (Recv(s, buffer, sizeof buffer) <= 0) return true;
    }
    return false;
  }

  Socket ProbeSocket() {
    Socket s = Track(OpenUdp());
    EXPECT_EQ(Bind(s, Endpoint{kAnyAddress, 0}), 0);
    EXPECT_EQ(SetBroadcast(s, true), 0);
    return s;
  }

  // Broadcasts one probe; the answer within timeoutMs, or an empty one.
  Bytes ProbeOnce(Socket s, uint32_t timeoutMs = 500, const Bytes& datagram = kProbe) {
    SendTo(s, datagram.data(), int(datagram.size()), Endpoint{kBroadcastAddress, 444});
    if (WaitReadable(s, timeoutMs) != 1) return {};
    Bytes answer(256);
    Endpoint from;
    int got = RecvFrom(s, answer.data(), int(answer.size()), &from);
    answer.resize(size_t(std::max(got, 0)));
    EXPECT_EQ(from.address, kControllerAddress);
    EXPECT_EQ(from.port, 444);
    return answer;
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
  std::vector<Socket> opened;
};

// --- discovery --------------------------------------------------------------------------------

TEST_F(ControllerSim, ProbeIsAnsweredWithTheDiscoveryAnswerLayout) {
  StartController();
  Bytes expected(180, 0);
  const uint8_t fixed[] = {10, 0, 0, 20, 0x58, 0x1B, 9, 3};  // address, port 7000 LE, type, subtype
  std::copy(std::begin(fixed), std::end(fixed), expected.begin() + 4);
  std::string name = "LOBBY", mac = "0050C2ABCDEF", second = "BSP 2.1";
  std::copy(name.begin(), name.end(), expected.begin() + 12);
  std::copy(mac.begin(), mac.end(), expected.begin() + 40);
  std::copy(second.begin(), second.end(), expected.begin() + 52);

  Bytes answer = ProbeOnce(ProbeSocket());

  ASSERT_EQ(answer.size(), 180u);
  EXPECT_EQ(Bytes(answer.begin() + 4, answer.end()), Bytes(expected.begin() + 4, expected.end()));
}

TEST_F(ControllerSim, DatagramsOtherThanTheProbeGoUnanswered) {
  StartController();
  Socket s = ProbeSocket();
  const Bytes others[] = {
      Bytes(kProbe.begin(), kProbe.end() - 1),
      Bytes{0x47, 0x48, 0, 0, 0, 0, 0, 0, 0},
      Bytes{0x47, 0x48, 0, 0, 1, 0, 0, 0},
      Bytes{0x48, 0x47, 0, 0, 0, 0, 0, 0},
  };
  for (const Bytes& datagram : others) EXPECT_TRUE(ProbeOnce(s, 1000, datagram).empty()) << datagram.size();
  EXPECT_EQ(ProbeOnce(s).size(), 180u);
}

// --- login ------------------------------------------------------------------------------------

TEST_F(ControllerSim, LoginNeedsTheRightProofAndAnAcceptedKindAndRefusalsKeepTheConnection) {
  StartController();
  Socket s = Connect();

  Reply early = Ask(s, 7, 8120);
  EXPECT_EQ(early.id, 7);
  EXPECT_EQ(early.code, 29);

  std::string challenge = Challenge(s);
  EXPECT_EQ(challenge.size(), 32u);
  Bytes proof = ProofFor(challenge);
  Bytes wrong = proof;
  wrong[5] ^= 0x01;
  EXPECT_EQ(Ask(s, LoginRequest(3, 19, wrong)).code, 29);
  EXPECT_EQ(Ask(s, LoginRequest(3, 3, proof)).code, 29);
  Reply accepted = Ask(s, LoginRequest(4, 19, proof));
  EXPECT_EQ(accepted.id, 4);
  EXPECT_EQ(accepted.code, 28);
  EXPECT_EQ(Ask(s, 5, 8120).code, 8121);
}

TEST_F(ControllerSim, ChallengesAreFreshForEachRequest) {
  StartController();
  Socket s = Connect();
  std::string first = Challenge(s);
  std::string second = Challenge(s);
  EXPECT_NE(first, second);
  // Only the latest challenge counts.
  EXPECT_EQ(Ask(s, LoginRequest(2, 19, ProofFor(first))).code, 29);
  EXPECT_EQ(Ask(s, LoginRequest(2, 19, ProofFor(second))).code, 28);
}

TEST_F(ControllerSim, AcceptedKindsFollowTheTypeUnlessListed) {
  struct Case {
    uint8_t type;
    std::vector<int> accepted;
    int32_t kind;
    int16_t answer;
  };
  const Case cases[] = {
      {9, {}, 19, 28}, {9, {}, 3, 29},       {1, {}, 3, 28},     {1, {}, 19, 29},
      {9, {3}, 3, 28}, {9, {3}, 19, 29},     {8, {3, 19}, 19, 28},
  };
  for (const Case& c : cases) {
    config.type = c.type;
    config.acceptedKinds = c.accepted;
    StartController();
    Socket s = Connect();
    std::string challenge = Challenge(s);
    EXPECT_EQ(Ask(s, LoginRequest(2, c.kind, ProofFor(challenge))).code, c.answer)
        << "type " << int(c.type) << " kind " << c.kind;
  }
}

TEST_F(ControllerSim, ProofKeyIsTheConfiguredPassPhrase) {
  config.passPhrase = "gatekeeper";
  StartController();
  Socket s = Connect();
  std::string challenge = Challenge(s);
  EXPECT_EQ(Ask(s, LoginRequest(2, 19, ProofFor(challenge))).code, 29);
  EXPECT_EQ(Ask(s, LoginRequest(2, 19, ProofFor(challenge, "gatekeeper"))).code, 28);
}

TEST_F(ControllerSim, MalformedLoginsAreRefused) {
  StartController();
  Socket s = Connect();
  Bytes proof = ProofFor(Challenge(s));
  const ::sim::WireWriter good = LoginRequest(2, 19, proof);
  const Bytes goodPayload = testing_support::PayloadOf(good);
  const ::sim::WireWriter malformed[] = {
      Message(2, 27, 814, 19, "VRSTART", 16, proof, 2, "", "", "", ""),
      Message(2, 27, 813, 19, "VRSTOP", 16, proof, 2, "", "", "", ""),
      Message(2, 27, 813, 19, "VRSTART", 16, proof, 2, "", "", ""),
      Message(2, 27, 813, 19, "VRSTART", 16, proof, 2, "", "x", "", ""),
      Message(2, 27, Bytes(goodPayload.begin(), goodPayload.end() - 4)),  // the good payload cut short
  };
  for (const ::sim::WireWriter& request : malformed) EXPECT_EQ(Ask(s, request).code, 29);
  EXPECT_EQ(Ask(s, good).code, 28);
}

TEST_F(ControllerSim, SystemInformationCarriesNameTypeAndSubtype) {
  StartController();
  Socket s = Connect();
  Login(s);
  Reply reply = Ask(s, 9, 8120);
  EXPECT_EQ(reply.id, 9);
  EXPECT_EQ(reply.code, 8121);
  Bytes expected = {5, 0, 0, 0, 'L', 'O', 'B', 'B', 'Y', 0, 0, 0};
  Bytes codes = Ints({9, 0, 0, 0, 0, 3});
  expected.insert(expected.end(), codes.begin(), codes.end());
  EXPECT_EQ(reply.payload, expected);
}

// --- the upgrade's shell lines and files -------------------------------------------------------

TEST_F(ControllerSim, UpgradeLinesAndTransferLeaveTheFilesOnThePartition) {
  StartController();
  Socket s = Connect();
  Login(s);
  int16_t id = 10;
  for (int line = 0; line < 5; ++line) {
    Reply reply = Ask(s, ++id, 8376, kUpgradeLines[line]);
    EXPECT_EQ(reply.id, id);
    EXPECT_EQ(reply.code, 8377);
    EXPECT_TRUE(reply.payload.empty());
  }
  EXPECT_TRUE(fs::is_directory(Partition("UPGRADE")));

  Bytes content(250000);
  for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(i * 7 + 200);
  const std::string remote = "BSP/UPGRADE\\rootfs.img";

  Reply missing = Ask(s, 20, 14030, remote);
  EXPECT_EQ(missing.code, 14031);
  EXPECT_EQ(missing.payload, Ints({-1, 0}));

  EXPECT_EQ(Ask(s, 21, 14032, remote, 250000, 250000).code, 14033);
  for (size_t at = 0; at < content.size(); at += 100000) {
    size_t n = std::min<size_t>(100000, content.size() - at);
    SendBytes(s, Message(0, 14000, int32_t(n), Bytes(content.begin() + long(at), content.begin() + long(at + n))).Bytes());
  }
  Reply present = Ask(s, 22, 14030, remote);
  EXPECT_EQ(present.payload, Ints({250000, int32_t(ByteSum(content))}));
  EXPECT_EQ(ReadHostFile(Partition("UPGRADE/rootfs.img")), content);
  EXPECT_FALSE(fs::exists(root / "MIRU" / "BSP" / "UPGRADE"));

  EXPECT_EQ(Ask(s, 23, 8376, kUpgradeLines[5]).code, 8377);
#ifndef _WIN32
  // The host's file modes stand for the controller's; Windows keeps only a read-only flag.
  EXPECT_EQ(fs::status(Partition("UPGRADE/rootfs.img")).permissions() & fs::perms::all, fs::perms(0755));
#endif
}

TEST_F(ControllerSim, UnmountedMountPointIsAPlainFolder) {
  StartController();
  Socket s = Connect();
  Login(s);
  EXPECT_EQ(Ask(s, 3, 8376, "umount /MIRU/BSP").code, 8377);
  EXPECT_FALSE(controller->Disk().BspMounted());
  EXPECT_EQ(Ask(s, 4, 8376, "mkdir /MIRU/BSP/UPGRADE").code, 8377);
  EXPECT_TRUE(fs::is_directory(root / "MIRU" / "BSP" / "UPGRADE"));
  EXPECT_FALSE(fs::exists(Partition("UPGRADE")));
  // Lines the model does not know are answered all the same, and change nothing.
  EXPECT_EQ(Ask(s, 5, 8376, "reboot -f").code, 8377);
  EXPECT_EQ(Ask(s, 6, 8376, "mount /dev/mmcblk0p4 /MIRU/BSP").code, 8377);
  EXPECT_TRUE(controller->Disk().BspMounted());
}

TEST_F(ControllerSim, CompareAnswersSizeAndUnsignedByteSumOfTheStoredFile) {
  WriteHostFile(Partition("UPGRADE/high.bin"), Bytes{0xFF, 0xFF, 0x80, 0x01});
  WriteHostFile(Partition("UPGRADE/empty.bin"), Bytes{});
  WriteHostFile(root / "MIRU" / "top.txt", Bytes{'a', 'b'});
  StartController();
  Socket s = Connect();
  Login(s);
  struct Case {
    std::string remote;
    int32_t size;
    int32_t sum;
  };
  const Case cases[] = {
      {"BSP/UPGRADE\\high.bin", 4, 0x27F},   {"BSP\\UPGRADE\\high.bin", 4, 0x27F},
      {"BSP/UPGRADE/empty.bin", 0, 0},       {"\\top.txt", 2, 'a' + 'b'},
      {"BSP/UPGRADE\\missing.bin", -1, 0},   {"BSP/UPGRADE", -1, 0},
  };
  for (const Case& c : cases) {
    Reply reply = Ask(s, 3, 14030, c.remote);
    EXPECT_EQ(reply.code, 14031) << c.remote;
    EXPECT_EQ(reply.payload, Ints({c.size, c.sum})) << c.remote;
  }
}

TEST_F(ControllerSim, NamesOutsideTheSandboxAndBadAnnouncementsAreRefused) {
  StartController();
  Socket s = Connect();
  Login(s);
  for (const std::string remote : {"..\\..\\escape.txt", "BSP/../../escape.txt", "C:\\escape.txt", "BSP/UPGRADE\\"}) {
    EXPECT_EQ(Ask(s, 3, 14030, remote).code, 29) << remote;
    EXPECT_EQ(Ask(s, 4, 14032, remote, 4, 4).code, 29) << remote;
  }
  EXPECT_EQ(Ask(s, 5, 14032, "BSP\\x.bin", 4, 5).code, 29);
  EXPECT_EQ(Ask(s, 6, 14032, "BSP\\x.bin", -1, -1).code, 29);
  EXPECT_EQ(Ask(s, 7, 14032, "NOFOLDER\\x.bin", 4, 4).code, 29);
  EXPECT_FALSE(fs::exists(root.parent_path() / "escape.txt"));
  EXPECT_FALSE(fs::exists(root / "escape.txt"));
}

TEST_F(ControllerSim, AZeroByteInAPathNeverNamesWhatComesBeforeIt) {
  // The system ends a path at its first zero byte: "/\0x" would be the sandbox's root itself.
  WriteHostFile(Partition("UPGRADE/keep.bin"), Bytes{1, 2, 3});
  StartController();
  Socket s = Connect();
  Login(s);
  using namespace std::string_literals;
  for (const std::string& line : {"rm -Rf /\0x"s, "rm -Rf /MIRU/BSP\0/UPGRADE"s, "chmod -R 000 /\0"s, "mkdir /\0/x"s}) {
    EXPECT_EQ(Ask(s, 3, 8376, line).code, 8377);
  }
  EXPECT_EQ(ReadHostFile(Partition("UPGRADE/keep.bin")), (Bytes{1, 2, 3}));
  EXPECT_EQ(fs::status(root).permissions() & fs::perms::owner_all, fs::perms::owner_all);
  for (const std::string& remote : {"BSP/UPGRADE\\keep.bin\0.txt"s, "\0"s}) {
    EXPECT_EQ(Ask(s, 4, 14030, remote).code, 29);
    EXPECT_EQ(Ask(s, 5, 14032, remote, 4, 4).code, 29);
  }
  EXPECT_EQ(ReadHostFile(Partition("UPGRADE/keep.bin")), (Bytes{1, 2, 3}));
}

TEST_F(ControllerSim, EmptyAnnouncedFileIsStoredWithoutChunks) {
  WriteHostFile(Partition("UPGRADE/old.bin"), Bytes{1, 2, 3});
  StartController();
  Socket s = Connect();
  Login(s);
  EXPECT_EQ(Ask(s, 3, 14032, "BSP/UPGRADE\\old.bin", 0, 0).code, 14033);
  EXPECT_EQ(Ask(s, 4, 14030, "BSP/UPGRADE\\old.bin").payload, Ints({0, 0}));
}

// --- the upgrade script -------------------------------------------------------------------------

TEST_F(ControllerSim, UpgradeScriptTakesTheControllerOffTheAirForItsRebootTime) {
  WriteHostFile(Partition("UPGRADE/upgrade.sh"), Bytes{'e', 'x', 'i', 't', '\n'});
  StartController();
  Socket probe = ProbeSocket();
  Socket s = Connect();
  Login(s);

  Reply reply = Ask(s, 3, 8376, kUpgradeLines[6]);
  EXPECT_EQ(reply.code, 8377);
  EXPECT_TRUE(ClosedByController(s));
  uint64_t offAt = world.NowMs();
  EXPECT_EQ(controller->UpgradeRuns(), 1);
  EXPECT_TRUE(fs::exists(root / "upgrade.log"));

  Socket during = Connect();
  EXPECT_TRUE(ClosedByController(during));
  uint64_t firstAnswerAt = 0;
  while (firstAnswerAt == 0 && world.NowMs() < offAt + 10000) {
    if (ProbeOnce(probe, 250).size() == 180) firstAnswerAt = world.NowMs();
  }
  EXPECT_GE(firstAnswerAt, offAt + 5000);
  EXPECT_LE(firstAnswerAt, offAt + 5500);

  Socket after = Connect();
  Login(after);
}

TEST_F(ControllerSim, MissingUpgradeScriptLeavesTheControllerUp) {
  StartController();
  Socket s = Connect();
  Login(s);
  EXPECT_EQ(Ask(s, 3, 8376, kUpgradeLines[6]).code, 8377);
  world.RunFor(1000);
  EXPECT_EQ(Ask(s, 4, 8120).code, 8121);
  EXPECT_EQ(ProbeOnce(ProbeSocket()).size(), 180u);
  EXPECT_EQ(controller->UpgradeRuns(), 0);
}

TEST_F(ControllerSim, NeverReturnFaultKeepsTheControllerSilentAfterTheUpgrade) {
  WriteHostFile(Partition("UPGRADE/upgrade.sh"), Bytes{'\n'});
  config.faults.neverReturn = true;
  StartController();
  Socket s = Connect();
  Login(s);
  EXPECT_EQ(Ask(s, 3, 8376, kUpgradeLines[6]).code, 8377);
  Socket probe = ProbeSocket();
  for (int i = 0; i < 60; ++i) ASSERT_TRUE(ProbeOnce(probe, 1000).empty()) << "after " << i << " s";
}

// --- dry commands and commands.log ----------------------------------------------------------------

TEST_F(ControllerSim, DryControllerAnswersEveryUpgradeLineAndKeepsThePartitionAsItWas) {
  const Bytes image = Content(5000);
  const Bytes script = {'e', 'x', 'i', 't', '\n'};
  const struct {
    bool dry;
    int32_t imageSize;
    int32_t imageSum;
  } cases[] = {
      {true, 5000, int32_t(ByteSum(image))},
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
      Reply answer = Ask(s, ++id, 8376, line);
      EXPECT_EQ(answer.id, id) << line;
      EXPECT_EQ(answer.code, 8377) << line;
      EXPECT_TRUE(answer.payload.empty()) << line;
    }
    Reply compared = Ask(s, 30, 14030, "BSP/UPGRADE\\rootfs.img");
    EXPECT_EQ(compared.code, 14031);
    EXPECT_EQ(compared.payload, Ints({c.imageSize, c.imageSum}));

    // Neither script line took the controller off the air: the same connection is still served.
    world.RunFor((config.rebootSeconds + 1) * 1000);
    EXPECT_TRUE(controller->OnAir());
    EXPECT_EQ(controller->UpgradeRuns(), 0);
    EXPECT_EQ(Ask(s, 31, 8120).code, 8121);
    EXPECT_EQ(fs::exists(Partition("UPGRADE/upgrade.sh")), c.dry);
  }
}

TEST_F(ControllerSim, DryUpgradeScriptLineLeavesTheControllerOnTheAirWhereARealOneRebootsIt) {
  for (bool dry : {true, false}) {
    SCOPED_TRACE(dry ? "dry" : "run");
    Reset();
    config.dryCommands = dry;
    WriteHostFile(Partition("UPGRADE/upgrade.sh"), Bytes{'\n'});
    StartController();
    Socket s = Connect();
    Login(s);
    EXPECT_EQ(Ask(s, 3, 8376, kUpgradeLines.back()).code, 8377);
    world.RunFor(1000);
    EXPECT_EQ(controller->OnAir(), dry);
    EXPECT_EQ(controller->UpgradeRuns(), dry ? 0 : 1);
    EXPECT_EQ(controller->ConnectionCount(), dry ? 1u : 0u);
  }
}

TEST_F(ControllerSim, CommandsLogGainsEveryLineAsReceivedInOrderWhetherRunOrNot) {
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
    for (const std::string& line : lines) EXPECT_EQ(Ask(s, ++id, 8376, line).id, id);

    std::string expected = "earlier\n";
    for (const std::string& line : lines) expected += line + "\n";
    const Bytes logged = ReadHostFile(root / "commands.log");
    EXPECT_EQ(std::string(logged.begin(), logged.end()), expected);
  }
}

// --- messages to all sinks -----------------------------------------------------------------------

TEST_F(ControllerSim, MessageToAllSinksArrivesEveryFiveSeconds) {
  StartController();
  Socket s = Connect();
  uint64_t connectedAt = world.NowMs();
  Login(s);
  for (int32_t n = 1; n <= 3; ++n) {
    Bytes wire;
    ASSERT_TRUE(ReadExactly(s, 12, &wire, 6000));
    EXPECT_EQ(wire, (Bytes{0xFF, 0x7F, 100, 0, 4, 0, 0, 0, uint8_t(n), 0, 0, 0}));
    EXPECT_EQ(world.NowMs() - connectedAt, uint64_t(5000 * n));
  }
}

TEST_F(ControllerSim, SilentControllerSendsNothingUnrequestedButStillAnswers) {
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
    Reply frame;
    uint64_t until = connectedAt + kWatchMs;
    while (world.NowMs() < until && NextMessage(s, &frame, uint32_t(until - world.NowMs()), true)) {
      EXPECT_EQ(frame.id, 0x7FFF);
      EXPECT_EQ(frame.code, 100);
      EXPECT_EQ(frame.payload, Ints({int32_t(arrivals.size() + 1)}));
      arrivals.push_back(world.NowMs() - connectedAt);
    }
    std::vector<uint64_t> expected;
    if (!silent) {
      for (uint64_t at = 5000; at <= kWatchMs; at += 5000) expected.push_back(at);
    }
    EXPECT_EQ(arrivals, expected);
    Reply answer = Ask(s, 40, 8120);
    EXPECT_EQ(answer.id, 40);
    EXPECT_EQ(answer.code, 8121);
  }
}

TEST_F(ControllerSim, ClientStreamingALargeFileToASilentControllerHearsNothingUntilItAsks) {
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
    ASSERT_EQ(Ask(s, 5, 14032, remote, int32_t(kFileBytes), int32_t(kFileBytes)).code, 14033);

    uint64_t startMs = world.NowMs();
    for (size_t at = 0; at < kFileBytes; at += kChunkBytes) {
      const Bytes chunk(file.begin() + long(at), file.begin() + long(at + kChunkBytes));
      SendBytes(s, Message(0, 14000, int32_t(kChunkBytes), chunk).Bytes());
    }
    EXPECT_GE(world.NowMs() - startMs, 7000u);

    SendBytes(s, Message(6, 14030, remote).Bytes());
    Reply first;
    ASSERT_TRUE(NextMessage(s, &first, 30000, true));
    if (silent) {
      EXPECT_EQ(first.id, 6);
      EXPECT_EQ(first.code, 14031);
      EXPECT_EQ(first.payload, Ints({int32_t(kFileBytes), int32_t(ByteSum(file))}));
    } else {
      EXPECT_EQ(first.id, 0x7FFF);
    }
  }
}

// --- framing ------------------------------------------------------------------------------------

TEST_F(ControllerSim, RequestsCutAnywhereOrSentTogetherAreAllAnswered) {
  StartController();
  Socket s = Connect();
  Login(s);
  Bytes two = Message(31, 8120).Bytes();
  Bytes more = Message(32, 14030, "BSP\\none").Bytes();
  two.insert(two.end(), more.begin(), more.end());
  SendBytes(s, two);
  for (uint8_t b : Message(33, 8120).Bytes()) SendBytes(s, Bytes{b});
  for (int16_t id : {31, 32, 33}) {
    Reply reply;
    ASSERT_TRUE(NextMessage(s, &reply));
    EXPECT_EQ(reply.id, id);
  }
}

TEST_F(ControllerSim, ConnectionsWithoutPrimerOrWithABrokenLengthAreClosed) {
  StartController();
  Socket noPrimer = Track(OpenTcp());
  ASSERT_EQ(platform::Connect(noPrimer, Endpoint{kControllerAddress, kServicePort}), 0);
  SendBytes(noPrimer, Message(1, 14).Bytes());
  EXPECT_TRUE(ClosedByController(noPrimer));

  for (int32_t length : {-1, 999993}) {
    Socket s = Connect();
    Bytes header = Message(1, 14).Bytes();
    for (int i = 0; i < 4; ++i) header[4 + i] = uint8_t(uint32_t(length) >> (8 * i));
    SendBytes(s, header);
    EXPECT_TRUE(ClosedByController(s)) << length;
  }
  EXPECT_EQ(controller->ConnectionCount(), 0u);
}

// --- faults -------------------------------------------------------------------------------------

TEST_F(ControllerSim, IgnoredCodeIsNeverAnswered) {
  config.faults.ignoredCodes = {8120};
  StartController();
  Socket s = Connect();
  Login(s);
  SendBytes(s, Message(5, 8120).Bytes());
  Reply reply;
  EXPECT_FALSE(NextMessage(s, &reply, 60000));
  EXPECT_EQ(Ask(s, 6, 14).code, 15);
}

TEST_F(ControllerSim, DropAfterChunkBytesClosesTheConnectionMidTransfer) {
  config.faults.dropAfterChunkBytes = 150000;
  StartController();
  Socket s = Connect();
  Login(s);
  Bytes content(250000, 0x5A);
  EXPECT_EQ(Ask(s, 3, 14032, "BSP\\big.bin", 250000, 250000).code, 14033);
  for (size_t at = 0; at < 200000; at += 100000) {
    SendBytes(s, Message(0, 14000, 100000, Bytes(content.begin(), content.begin() + 100000)).Bytes());
  }
  EXPECT_TRUE(ClosedByController(s));
  EXPECT_EQ(fs::file_size(Partition("big.bin")), 150000u);
}

TEST_F(ControllerSim, BrokenLengthFaultReplacesTheAnswerWithABrokenHeader) {
  for (int32_t length : {-1, 1000000}) {
    config.faults.brokenLengthOn = 8120;
    config.faults.brokenLength = length;
    StartController();
    Socket s = Connect();
    Login(s);
    SendBytes(s, Message(5, 8120).Bytes());
    Bytes header;
    ASSERT_TRUE(ReadExactly(s, 8, &header, 1000));
    Bytes expected = {5, 0, 0xB9, 0x1F};  // id 5, code 8121
    for (int i = 0; i < 4; ++i) expected.push_back(uint8_t(uint32_t(length) >> (8 * i)));
    EXPECT_EQ(header, expected);
  }
}

TEST_F(ControllerSim, AnswerDelayHoldsEveryAnswer) {
  config.faults.answerDelayMs = 2500;
  StartController();
  Socket s = Connect();
  uint64_t askedAt = world.NowMs();
  EXPECT_EQ(Ask(s, 1, 14).code, 15);
  EXPECT_EQ(world.NowMs() - askedAt, 2500u);
}

TEST_F(ControllerSim, StallFaultStopsReadingAfterItsBytes) {
  config.faults.stallAfterBytes = int64_t(kPrimer.size() + 8);
  StartController();
  Socket s = Connect();
  EXPECT_EQ(Ask(s, 1, 14).code, 15);
  SendBytes(s, Message(2, 14).Bytes());
  Reply reply;
  EXPECT_FALSE(NextMessage(s, &reply, 30000));
}

TEST_F(ControllerSim, FloodFaultSendsItsRateOfMessagesToAllSinks) {
  config.faults.floodPerSecond = 200;
  StartController();
  Socket s = Connect();
  int count = 0;
  Reply reply;
  uint64_t until = world.NowMs() + 1050;
  while (world.NowMs() < until && NextMessage(s, &reply, uint32_t(until - world.NowMs()), true)) {
    EXPECT_EQ(reply.id, 0x7FFF);
    ++count;
  }
  EXPECT_EQ(count, 200);
}

}  // namespace
