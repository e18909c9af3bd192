// The hook a window toolkit installs to keep its windows painted while the thread waits: called
// once per slice of waiting time, whether the waiting is one long sleep or socket wait or a loop of
// short ones, and never changing what the wait answers or how long it takes.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/clock.h"
#include "platform/sim/world.h"
#include "platform/socket.h"

namespace {

using namespace platform;
using platform::sim::World;

std::vector<uint32_t>* calls = nullptr;
World* world = nullptr;

void RecordCall() { calls->push_back(world->GetTickCount()); }

class WaitHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls = &seen;
    world = &lan;
    pc = lan.AddHost("pc", MakeAddress(192, 168, 1, 10));
    previous = SetWaitHook(RecordCall);
  }
  void TearDown() override {
    SetWaitHook(previous);
    calls = nullptr;
    world = nullptr;
  }

  World lan;
  sim::HostId pc = sim::kNoHost;
  std::vector<uint32_t> seen;
  WaitHook previous = nullptr;
};

TEST_F(WaitHookTest, ALongSleepCallsItOncePerSliceAndLastsItsWholeTime) {
  uint32_t start = GetTickCount();
  Sleep(3 * kWaitHookSliceMs + 20);
  EXPECT_EQ(GetTickCount() - start, 3 * kWaitHookSliceMs + 20);
  ASSERT_EQ(seen.size(), 3u);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i] - start, (i + 1) * kWaitHookSliceMs);
}

// A query waits in a loop of short waits: that loop keeps the windows painted as one long wait does.
TEST_F(WaitHookTest, ALoopOfShortWaitsCallsItAsOftenAsOneLongWaitWould) {
  lan.RunAs(pc, [&] {
    Socket quiet = OpenUdp();
    ASSERT_EQ(Bind(quiet, Endpoint{MakeAddress(192, 168, 1, 10), 5001}), 0);
    uint32_t start = GetTickCount();
    Sleep(10);
    EXPECT_TRUE(seen.empty());
    for (int i = 0; i < 10; ++i) EXPECT_EQ(WaitReadable(quiet, 19), 0);
    EXPECT_EQ(GetTickCount() - start, 200u);
    ASSERT_EQ(seen.size(), 3u);
    uint32_t previous = start;
    for (uint32_t tick : seen) {
      EXPECT_GE(tick - previous, kWaitHookSliceMs);
      previous = tick;
    }
    Close(quiet);
  });
}

TEST_F(WaitHookTest, SocketWaitsCallItUntilTheirTimeRunsOutOrTheSocketIsReady) {
  lan.RunAs(pc, [&] {
  Socket quiet = OpenUdp();
  ASSERT_EQ(Bind(quiet, Endpoint{MakeAddress(192, 168, 1, 10), 5000}), 0);
  uint32_t start = GetTickCount();
  EXPECT_EQ(WaitReadable(quiet, 4 * kWaitHookSliceMs), 0);
  EXPECT_EQ(GetTickCount() - start, 4 * kWaitHookSliceMs);
  EXPECT_EQ(seen.size(), 4u);

  // A datagram that arrives in the third slice ends the wait there.
  seen.clear();
  Socket sender = OpenUdp();
  lan.Schedule(2 * kWaitHookSliceMs + 10, [&] {
    const char byte = 1;
    SendTo(sender, &byte, 1, Endpoint{MakeAddress(192, 168, 1, 10), 5000});
  });
  start = GetTickCount();
  EXPECT_EQ(WaitReadable(quiet, 60000), 1);
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_LT(GetTickCount() - start, 3 * kWaitHookSliceMs);
  WaitEntry entry{quiet, false};
  EXPECT_EQ(WaitAny(&entry, 1, 60000), 1);
  EXPECT_TRUE(entry.readable);
  Close(sender);
  Close(quiet);
  });
}

// The real sockets' own blocking calls, on loopback: a send to a peer that never reads and a
// connect take the hook between their slices too, and still end as they would without it.
int realHookCalls = 0;
void CountRealCall() { ++realHookCalls; }

constexpr uint32_t kLoopback = MakeAddress(127, 0, 0, 1);

class RealWaitHookTest : public ::testing::Test {
 protected:
  void SetUp() override {
    realHookCalls = 0;
    previous = SetWaitHook(CountRealCall);
    listener = OpenTcp();
    ASSERT_EQ(Bind(listener, Endpoint{kLoopback, 0}), 0);
    ASSERT_EQ(Listen(listener, 1), 0);
    ASSERT_EQ(LocalEndpoint(listener, &at), 0);
  }
  void TearDown() override {
    if (listener != kInvalidSocket) Close(listener);
    SetWaitHook(previous);
  }
  WaitHook previous = nullptr;
  Socket listener = kInvalidSocket;
  Endpoint at;  // where the listener listens
};

TEST_F(RealWaitHookTest, ASendThatBlocksCallsItAndStillEndsAtItsTimeOut) {
  Socket client = OpenTcp();
  ASSERT_EQ(Connect(client, at), 0);
  Socket peer = Accept(listener, nullptr);  // never reads
  ASSERT_NE(peer, kInvalidSocket);
  constexpr uint32_t kTimeOutMs = 400;
  ASSERT_EQ(SetSendTimeout(client, kTimeOutMs), 0);

  std::vector<char> payload(32 << 20, 'x');
  auto start = std::chrono::steady_clock::now();
  int sent = Send(client, payload.data(), int(payload.size()));
  auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();

  // What fitted the buffers is reported as sent, as without the hook; the rest waited out the time-out.
  EXPECT_GT(sent, 0);
  EXPECT_LT(sent, int(payload.size()));
  EXPECT_GE(tookMs, long(kTimeOutMs) - 20);
  EXPECT_GE(realHookCalls, 3);
  Close(peer);
  Close(client);
}

TEST_F(RealWaitHookTest, AConnectStillSucceedsOrIsRefusedAsWithoutIt) {
  Socket client = OpenTcp();
  EXPECT_EQ(Connect(client, at), 0);
  const char byte = 7;
  EXPECT_EQ(Send(client, &byte, 1), 1);  // the socket blocks again after the connect
  Close(client);
  Close(listener);
  listener = kInvalidSocket;

  Socket refused = OpenTcp();
  EXPECT_EQ(Connect(refused, at), -1);
  EXPECT_EQ(LastSocketError(), ECONNREFUSED);
  Close(refused);
}

}  // namespace
