// The hook a window toolkit installs to keep its windows painted while the thread waits: called
// between slices of every long sleep and socket wait, never for short ones, and never changing
// what the wait answers or how long it takes.
#include <gtest/gtest.h>

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

TEST_F(WaitHookTest, LongSleepsCallItBetweenSlicesAndLastTheirWholeTime) {
  uint32_t start = GetTickCount();
  Sleep(kWaitHookSliceMs);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(GetTickCount() - start, kWaitHookSliceMs);

  start = GetTickCount();
  Sleep(3 * kWaitHookSliceMs + 20);
  EXPECT_EQ(GetTickCount() - start, 3 * kWaitHookSliceMs + 20);
  ASSERT_EQ(seen.size(), 3u);
  for (size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i] - start, (i + 1) * kWaitHookSliceMs);
}

TEST_F(WaitHookTest, SocketWaitsCallItUntilTheirTimeRunsOutOrTheSocketIsReady) {
  lan.RunAs(pc, [&] {
  Socket quiet = OpenUdp();
  ASSERT_EQ(Bind(quiet, Endpoint{MakeAddress(192, 168, 1, 10), 5000}), 0);
  uint32_t start = GetTickCount();
  EXPECT_EQ(WaitReadable(quiet, 4 * kWaitHookSliceMs), 0);
  EXPECT_EQ(GetTickCount() - start, 4 * kWaitHookSliceMs);
  EXPECT_EQ(seen.size(), 3u);

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

}  // namespace
