#include "platform/sim/world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/socket.h"
#include "tests/support/test_world.h"

namespace {

using namespace platform;
using platform::sim::World;

const uint32_t kPc = MakeAddress(192, 168, 1, 10);
const uint32_t kCtlA = MakeAddress(192, 168, 1, 20);
const uint32_t kCtlB = MakeAddress(192, 168, 1, 21);

Socket BoundUdp(uint32_t address, uint16_t port) {
  Socket s = OpenUdp();
  EXPECT_EQ(Bind(s, Endpoint{address, port}), 0);
  return s;
}

std::vector<int> DrainSizes(Socket s) {
  std::vector<int> sizes;
  uint8_t buffer[512];
  while (WaitReadable(s, 0) == 1) sizes.push_back(RecvFrom(s, buffer, sizeof buffer, nullptr));
  return sizes;
}

TEST(World, LimitedBroadcastReachesEverySocketOnThePortAndNeedsTheFlag) {
  World world;
  sim::HostId pc = world.AddHost("pc", kPc);
  sim::HostId a = world.AddHost("a", kCtlA);
  sim::HostId b = world.AddHost("b", kCtlB);
  Socket sa, sb, other;
  world.RunAs(a, [&] { sa = BoundUdp(kAnyAddress, 444); });
  world.RunAs(b, [&] {
    sb = BoundUdp(kCtlB, 444);  // bound to its address, still hears the broadcast
    other = BoundUdp(kAnyAddress, 445);
  });
  Socket probe = BoundUdp(kPc, 444);
  Socket unbound = OpenUdp();
  ASSERT_EQ(world.CurrentHost(), pc);

  EXPECT_EQ(SendTo(unbound, "GH\0\0\0\0\0\0", 8, Endpoint{kBroadcastAddress, 444}), -1);
  EXPECT_EQ(LastSocketError(), EACCES);
  ASSERT_EQ(SetBroadcast(unbound, true), 0);
  ASSERT_EQ(SendTo(unbound, "GH\0\0\0\0\0\0", 8, Endpoint{kBroadcastAddress, 444}), 8);
  world.RunFor(1);

  EXPECT_EQ(DrainSizes(sa), std::vector<int>{8});
  EXPECT_EQ(DrainSizes(sb), std::vector<int>{8});
  EXPECT_EQ(DrainSizes(probe), std::vector<int>{8});  // bound to the port: hears it too
  EXPECT_TRUE(DrainSizes(other).empty());
}

TEST(World, UnicastReachesOnlyTheAddressedHostAndCarriesTheSender) {
  World world;
  world.AddHost("pc", kPc);
  sim::HostId a = world.AddHost("a", kCtlA);
  sim::HostId b = world.AddHost("b", kCtlB);
  Socket sa, sb;
  world.RunAs(a, [&] { sa = BoundUdp(kAnyAddress, 444); });
  world.RunAs(b, [&] { sb = BoundUdp(kAnyAddress, 444); });
  Socket pc = BoundUdp(kPc, 444);
  ASSERT_EQ(SendTo(pc, "hello", 5, Endpoint{kCtlB, 444}), 5);
  world.RunFor(1);
  EXPECT_TRUE(DrainSizes(sa).empty());
  uint8_t buffer[16];
  Endpoint from;
  ASSERT_EQ(RecvFrom(sb, buffer, sizeof buffer, &from), 5);
  EXPECT_EQ(from.address, kPc);
  EXPECT_EQ(from.port, 444);
}

TEST(World, SleepRunsDueEventsInOrderAtTheirTimesAcrossTheTickWrap) {
  World world(0xFFFFFFFFu - 1000);  // wraps a second in
  world.AddHost("pc", kPc);
  std::vector<std::pair<int, uint32_t>> ran;
  uint32_t start = GetTickCount();
  world.Schedule(1500, [&] { ran.push_back({2, GetTickCount()}); });
  world.Schedule(500, [&] { ran.push_back({1, GetTickCount()}); });
  world.Schedule(700000, [&] { ran.push_back({3, GetTickCount()}); });
  platform::Sleep(10 * 60 * 1000);
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_EQ(ran[0], std::make_pair(1, start + 500));
  EXPECT_EQ(ran[1], std::make_pair(2, start + 1500));  // after the wrap: a small number
  EXPECT_LT(ran[1].second, 1000u);
  EXPECT_EQ(GetTickCount(), uint32_t(start + 600000));
  EXPECT_EQ(ElapsedMs(GetTickCount(), start), 600000u - 1);  // the wrap rule counts one less
  EXPECT_EQ(world.RunUntil([&] { return ran.size() == 3; }, 200000), 1);
  EXPECT_EQ(world.NowMs(), 700000u);
}

TEST(World, EventsRunAsTheHostThatScheduledThem) {
  World world;
  world.AddHost("pc", kPc);
  sim::HostId a = world.AddHost("a", std::vector<sim::HostAddress>{{kCtlA, 0x00FFFFFF}, {kCtlB, 0x00FFFFFF}});
  int countInEvent = 0, countOutside = 0;
  world.RunAs(a, [&] { world.Schedule(10, [&] { GetAddressCount(&countInEvent); }); });
  GetAddressCount(&countOutside);
  world.RunFor(20);
  EXPECT_EQ(countOutside, 2);  // its address and loopback
  EXPECT_EQ(countInEvent, 3);
}

class WorldStream : public ::testing::Test {
 protected:
  void SetUp() override {
    world = std::make_unique<testing_support::TestWorld>(0, 42);
    Connect();
  }

  // A fresh world with exactly this seed, connected: for the tests of the seed itself, which the
  // environment must not override.
  void Reconnect(uint64_t seed) {
    world.reset();  // one world at a time: the old one uninstalls itself first
    world = std::make_unique<World>(0, seed);
    Connect();
  }

  void Connect() {
    world->AddHost("pc", kPc);
    ctl = world->AddHost("ctl", kCtlA);
    world->RunAs(ctl, [&] {
      listener = OpenTcp();
      ASSERT_EQ(Bind(listener, Endpoint{kCtlA, 5000}), 0);
      ASSERT_EQ(Listen(listener, 4), 0);
    });
    client = OpenTcp();
    ASSERT_EQ(platform::Connect(client, Endpoint{kCtlA, 5000}), 0);
    server = Accept(listener, nullptr);
    ASSERT_NE(server, kInvalidSocket);
  }

  std::unique_ptr<World> world;
  sim::HostId ctl = 0;
  Socket listener = kInvalidSocket, client = kInvalidSocket, server = kInvalidSocket;
};

TEST_F(WorldStream, WritabilityFollowsThePeersReading) {
  std::vector<uint8_t> chunk(100008, 0xAB);
  ASSERT_EQ(Send(client, chunk.data(), int(chunk.size())), int(chunk.size()));
  EXPECT_EQ(WaitWritable(client, 0), 1);
  std::vector<uint8_t> rest(sim::kStreamWindowBytes - chunk.size(), 0xCD);
  ASSERT_EQ(Send(client, rest.data(), int(rest.size())), int(rest.size()));
  EXPECT_EQ(WaitWritable(client, 5000), 0);
  std::vector<uint8_t> sink(200000);
  ASSERT_GT(Recv(server, sink.data(), int(sink.size())), 0);
  EXPECT_EQ(WaitWritable(client, 0), 1);
}

TEST_F(WorldStream, ReadsAreCutAtPointsThatTheSeedReplays) {
  auto cuts = [&](uint64_t seed) {
    Reconnect(seed);
    std::string text(400, 'm');
    EXPECT_EQ(Send(server, text.data(), int(text.size())), 400);
    std::vector<int> sizes;
    char buffer[1000];
    for (int got = 0; got < 400;) {
      int n = Recv(client, buffer, sizeof buffer);
      if (n <= 0) break;
      sizes.push_back(n);
      got += n;
    }
    return sizes;
  };
  std::vector<int> first = cuts(7);
  EXPECT_EQ(cuts(7), first);
  EXPECT_GT(first.size(), 1u) << "seed 7 should cut a 400-byte read at least once";
  bool anyDiffers = false;
  for (uint64_t seed = 8; seed < 12; ++seed) anyDiffers = anyDiffers || cuts(seed) != first;
  EXPECT_TRUE(anyDiffers);
}

TEST_F(WorldStream, DropAfterBytesResetsBothEndsAfterExactlyThatMuch) {
  world->DropAfterBytes(client, 10);
  std::string data(25, 'z');
  EXPECT_EQ(Send(client, data.data(), 25), -1);
  EXPECT_EQ(LastSocketError(), ECONNRESET);
  char buffer[64];
  EXPECT_EQ(Recv(server, buffer, sizeof buffer), -1);
  EXPECT_EQ(LastSocketError(), ECONNRESET);
}

TEST_F(WorldStream, PeerCloseAfterDataGivesTheDataThenZeroAndASendThatLeadsToReset) {
  ASSERT_EQ(Send(server, "ok", 2), 2);
  ASSERT_EQ(Close(server), 0);
  char buffer[8];
  std::string got;
  while (got.size() < 2) {
    int n = Recv(client, buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    got.append(buffer, size_t(n));
  }
  EXPECT_EQ(got, "ok");
  EXPECT_EQ(Recv(client, buffer, sizeof buffer), 0);
  EXPECT_EQ(Send(client, "x", 1), 1);  // as on a real stack: the first send still leaves
  EXPECT_EQ(Send(client, "x", 1), -1);
}

TEST_F(WorldStream, ABlockingReadOnASilentPeerGivesUpInsteadOfSpinning) {
  char buffer[8];
  uint64_t start = world->NowMs();
  EXPECT_EQ(Recv(client, buffer, sizeof buffer), -1);
  EXPECT_EQ(LastSocketError(), ETIMEDOUT);
  EXPECT_EQ(world->NowMs() - start, sim::kMaxBlockMs);
}

TEST(World, ConnectsAreRefusedDelayedOrTimedOut) {
  World world;
  world.AddHost("pc", kPc);
  sim::HostId a = world.AddHost("a", kCtlA);
  Socket listener;
  world.RunAs(a, [&] {
    listener = OpenTcp();
    ASSERT_EQ(Bind(listener, Endpoint{kAnyAddress, 5000}), 0);
    ASSERT_EQ(Listen(listener, 4), 0);
  });
  const struct {
    uint32_t address;
    uint16_t port;
    uint32_t delayMs;
    int result;
    int error;
    uint64_t takesMs;
  } cases[] = {
      {kCtlA, 5000, 0, 0, 0, 0},
      {kCtlA, 5001, 0, -1, ECONNREFUSED, 0},
      {kCtlA, 5000, 3000, 0, 0, 3000},
      {MakeAddress(192, 168, 1, 99), 5000, 0, -1, ETIMEDOUT, sim::kConnectTimeoutMs},
  };
  for (const auto& c : cases) {
    world.SetConnectDelay(a, c.delayMs);
    Socket s = OpenTcp();
    uint64_t start = world.NowMs();
    EXPECT_EQ(platform::Connect(s, Endpoint{c.address, c.port}), c.result);
    if (c.result != 0) {
      EXPECT_EQ(LastSocketError(), c.error);
    }
    EXPECT_EQ(world.NowMs() - start, c.takesMs);
    Close(s);
  }
}

TEST(World, DatagramFaultsLoseOrCutTheNextDatagrams) {
  World world;
  sim::HostId pc = world.AddHost("pc", kPc);
  sim::HostId a = world.AddHost("a", kCtlA);
  Socket listening = BoundUdp(kPc, 444);
  Socket sender;
  world.RunAs(a, [&] { sender = BoundUdp(kAnyAddress, 444); });
  world.LoseDatagrams(a, 1);
  world.TruncateDatagrams(a, 1, 179);
  std::vector<uint8_t> answer(180, 1);
  world.RunAs(a, [&] {
    for (int i = 0; i < 3; ++i) SendTo(sender, answer.data(), 180, Endpoint{kPc, 444});
  });
  (void)pc;
  world.RunFor(1);
  EXPECT_EQ(DrainSizes(listening), (std::vector<int>{179, 180}));
}

TEST(World, WatchCallsBackWhenASocketBecomesReadable) {
  World world;
  world.AddHost("pc", kPc);
  sim::HostId a = world.AddHost("a", kCtlA);
  Socket s;
  std::vector<int> seen;
  world.RunAs(a, [&] {
    s = BoundUdp(kAnyAddress, 444);
    world.Watch(s, [&] { seen.push_back(DrainSizes(s).size()); });
  });
  Socket pc = OpenUdp();
  SendTo(pc, "a", 1, Endpoint{kCtlA, 444});
  SendTo(pc, "bb", 2, Endpoint{kCtlA, 444});
  world.RunFor(5);
  SendTo(pc, "c", 1, Endpoint{kCtlA, 444});
  world.RunFor(5);
  EXPECT_EQ(seen, (std::vector<int>{2, 1}));
}

TEST(World, AdaptersAreWhatTheTestSets) {
  World world;
  world.AddHost("pc", kPc);
  Adapter asix{"ASIX AX88179 USB 3.0 to Gigabit Ethernet", {0, 1, 2, 3, 4, 5}, {{"10.1.1.5", "255.0.0.0"}}};
  Adapter other{"e1000e", {6, 7, 8, 9, 10, 11}, {{"0.0.0.0", "0.0.0.0"}}};
  world.SetAdapters(0, {other, asix});
  std::vector<Adapter> adapters;
  ASSERT_EQ(GetAdapters(&adapters), 0);
  ASSERT_EQ(adapters.size(), 2u);
  EXPECT_EQ(adapters[1].description, asix.description);
  int count = 0;
  GetAddressCount(&count);
  EXPECT_EQ(count, 3);  // both adapters' entries and loopback
}

// --- link rates ---------------------------------------------------------------------------------

// Streams between hosts that keep their window full: each sender hands over as much as its window
// takes whenever it has room, and each reader drains what arrived at once, so that only the links
// (and the window) set the pace. The bytes are checked for order as they arrive.
class WorldLinks : public ::testing::Test {
 protected:
  static constexpr size_t kStreamBytes = 1250000;
  static constexpr uint32_t kLimitMs = 10000;

  struct Transfer {
    Socket sender = kInvalidSocket;
    Socket receiver = kInvalidSocket;
    size_t pieceBytes = 0;  // the most one send hands over; 0: as much as the window takes
    size_t sent = 0;
    size_t received = 0;
    bool inOrder = true;
    uint64_t handedOverAtMs = 0;  // the last byte went to the sender's socket
    uint64_t arrivedAtMs = 0;     // the last byte was read
  };

  WorldLinks() {
    hosts[0] = world.AddHost("pc", kPc);
    hosts[1] = world.AddHost("a", kCtlA);
    hosts[2] = world.AddHost("b", kCtlB);
  }

  static uint8_t PatternAt(size_t offset) { return uint8_t(offset % 251); }

  // A stream from host `from` to host `to` (indexes into hosts), not started yet.
  Transfer& Add(int from, int to, size_t pieceBytes = 0) {
    const uint32_t addresses[] = {kPc, kCtlA, kCtlB};
    uint16_t port = nextPort++;
    auto t = std::make_unique<Transfer>();
    t->pieceBytes = pieceBytes;
    Socket listener = kInvalidSocket;
    world.RunAs(hosts[to], [&] {
      listener = OpenTcp();
      EXPECT_EQ(Bind(listener, Endpoint{addresses[to], port}), 0);
      EXPECT_EQ(Listen(listener, 1), 0);
    });
    world.RunAs(hosts[from], [&] {
      t->sender = OpenTcp();
      EXPECT_EQ(platform::Connect(t->sender, Endpoint{addresses[to], port}), 0);
    });
    world.RunAs(hosts[to], [&] {
      t->receiver = Accept(listener, nullptr);
      Close(listener);
    });
    transfers.push_back(std::move(t));
    return *transfers.back();
  }

  // Closes the streams of the last case.
  void Clear() {
    for (auto& t : transfers) {
      Close(t->sender);
      Close(t->receiver);
    }
    transfers.clear();
  }

  // Starts every stream and runs until all arrived.
  void Run() {
    for (auto& t : transfers) {
      Transfer* transfer = t.get();
      world.Watch(transfer->receiver, [this, transfer] {
        Drain(*transfer);
        Pump();
      });
    }
    Pump();
    world.RunUntil([this] { return AllArrived(); }, kLimitMs);
    EXPECT_TRUE(AllArrived());
  }

  void Pump() {
    for (auto& t : transfers) {
      for (;;) {
        size_t n = std::min(world.WritableBytes(t->sender), kStreamBytes - t->sent);
        if (t->pieceBytes > 0) n = std::min(n, t->pieceBytes);
        if (n == 0) break;
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = PatternAt(t->sent + i);
        ASSERT_EQ(Send(t->sender, bytes.data(), int(n)), int(n));
        t->sent += n;
        if (t->sent == kStreamBytes) t->handedOverAtMs = world.NowMs();
      }
    }
  }

  void Drain(Transfer& t) {
    uint8_t buffer[65536];
    uint32_t pending = 0;
    while (PendingBytes(t.receiver, &pending) == 0 && pending > 0) {
      int n = Recv(t.receiver, buffer, int(std::min<uint32_t>(pending, sizeof buffer)));
      ASSERT_GT(n, 0);
      for (int i = 0; i < n; ++i) t.inOrder = t.inOrder && buffer[i] == PatternAt(t.received + size_t(i));
      t.received += size_t(n);
    }
    if (t.received == kStreamBytes && t.arrivedAtMs == 0) t.arrivedAtMs = world.NowMs();
  }

  bool AllArrived() const {
    for (const auto& t : transfers) {
      if (t->received < kStreamBytes) return false;
    }
    return true;
  }

  World world;
  sim::HostId hosts[3] = {};
  std::vector<std::unique_ptr<Transfer>> transfers;
  uint16_t nextPort = 6000;
};

TEST_F(WorldLinks, StreamArrivesAtTheReceiversLinkRateWithTheLatencyOnTopWhileTheWindowPacesTheSender) {
  const struct {
    uint32_t rate;
    uint32_t latencyMs;
    size_t pieceBytes;
    uint64_t arrivesMs;
  } cases[] = {
      {0, 0, 0, 0},           // no limit: everything within the same millisecond, as without links
      {1250, 0, 0, 1000},
      {1250, 0, 100, 1000},   // small pieces are not rounded up to a millisecond each
      {1250, 40, 0, 1040},
      {2500, 0, 0, 500},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("rate " + std::to_string(c.rate) + " latency " + std::to_string(c.latencyMs) + " piece " +
                 std::to_string(c.pieceBytes));
    Clear();
    world.SetLinkRate(hosts[1], c.rate);
    world.SetLatency(hosts[1], c.latencyMs);
    Transfer& t = Add(0, 1, c.pieceBytes);
    uint64_t startMs = world.NowMs();
    Run();
    EXPECT_TRUE(t.inOrder);
    EXPECT_NEAR(double(t.arrivedAtMs - startMs), double(c.arrivesMs), 2.0);
    // The sender's last bytes went when the window had room for them: one window before the end.
    double windowMs = c.rate == 0 ? 0 : double(sim::kStreamWindowBytes) / c.rate;
    EXPECT_NEAR(double(t.arrivedAtMs - t.handedOverAtMs), windowMs, 2.0);
  }
}

TEST_F(WorldLinks, EachHostHasItsOwnLinkAndEachDirectionItsOwnRate) {
  const struct {
    const char* what;
    uint32_t rates[3];  // pc, a, b
    std::vector<std::pair<int, int>> streams;
    std::vector<uint64_t> arrivesMs;
    double earlyMs;  // how much sooner a stream may finish
  } cases[] = {
      {"two slow receivers do not share", {0, 1250, 1250}, {{0, 1}, {0, 2}}, {1000, 1000}, 2},
      {"a slow receiver holds up no other", {0, 1250, 0}, {{0, 1}, {0, 2}}, {1000, 0}, 2},
      // The two windows take turns on the link, so one stream may end up to a window ahead.
      {"one sender's link is shared", {1250, 0, 0}, {{0, 1}, {0, 2}}, {2000, 2000}, 110},
      {"both directions at full rate", {1250, 0, 0}, {{0, 1}, {1, 0}}, {1000, 1000}, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Clear();
    for (int h = 0; h < 3; ++h) world.SetLinkRate(hosts[h], c.rates[h]);
    for (auto [from, to] : c.streams) Add(from, to);
    uint64_t startMs = world.NowMs();
    Run();
    for (size_t i = 0; i < transfers.size(); ++i) {
      EXPECT_TRUE(transfers[i]->inOrder) << i;
      uint64_t tookMs = transfers[i]->arrivedAtMs - startMs;
      EXPECT_LE(tookMs, c.arrivesMs[i] + 2) << i;
      EXPECT_GE(double(tookMs), double(c.arrivesMs[i]) - c.earlyMs) << i;
    }
  }
}

TEST(World, DatagramsCrossTheLinksOneAfterAnother) {
  const struct {
    uint32_t senderRate;
    uint32_t receiverRate;
    std::vector<uint64_t> arrivesMs;
  } cases[] = {
      {0, 0, {0, 0, 0}},
      {0, 1000, {1, 2, 3}},
      {500, 0, {2, 4, 6}},
      {500, 1000, {2, 4, 6}},
      {2000, 1000, {1, 2, 3}},
  };
  for (const auto& c : cases) {
    World world;
    world.AddHost("pc", kPc);
    sim::HostId a = world.AddHost("a", kCtlA);
    world.SetLinkRate(0, c.senderRate);
    world.SetLinkRate(a, c.receiverRate);
    Socket receiver;
    std::vector<uint64_t> arrivals;
    world.RunAs(a, [&] {
      receiver = BoundUdp(kAnyAddress, 444);
      world.Watch(receiver, [&] {
        for (size_t n = DrainSizes(receiver).size(); n > 0; --n) arrivals.push_back(world.NowMs());
      });
    });
    Socket pc = OpenUdp();
    std::vector<uint8_t> datagram(1000, 7);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(SendTo(pc, datagram.data(), 1000, Endpoint{kCtlA, 444}), 1000);
    world.RunFor(100);
    EXPECT_EQ(arrivals, c.arrivesMs) << "rates " << c.senderRate << " and " << c.receiverRate;
  }
}

}  // namespace
