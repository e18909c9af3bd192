// The file stream against the link it crosses, in virtual time: paced by the connection, it keeps a
// fast link busy; a controller that answers nothing while it takes a long file is not taken for
// dead; one that stops reading is.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "net/server.h"
#include "tests/scenario/upgrade_scene.h"

namespace {

using testing_support::PatternBytes;
using testing_support::UpgradeScene;

constexpr uint32_t k100Mbit = 12500;  // bytes per millisecond
constexpr uint32_t k10Mbit = 1250;
// A chunk on the wire: header, the length item, the bytes.
constexpr uint64_t kChunkWireBytes = 8 + 4 + 100000;

// An upgrade with one payload file of `size` bytes behind a link of `rate` bytes per virtual
// millisecond: the virtual time from the controller's answer to the announcement to the file being
// stored.
struct StreamRun {
  UpgradeScene scene;
  uint32_t announced = 0;
  uint32_t stored = 0;

  StreamRun(size_t size, uint32_t rate, bool writeWakeups = true) {
    scene.site.OnLog([this](const std::string& line) {
      if (line.find("request 14032") != std::string::npos) announced = platform::GetTickCount();
      if (line.find(" stored: ") != std::string::npos) stored = platform::GetTickCount();
    });
    scene.site.WritePayload("big.bin", PatternBytes(size, 5));
    scene.Start();
    scene.world.SetLinkRate(scene.site.Host(), rate);
    scene.world.SetWriteWakeups(writeWakeups);
    scene.Run();
  }
  double StreamMs() const { return double(stored - announced); }
};

TEST(Pacing, TenMegabytesCrossAHundredMegabitLinkInLittleMoreThanTheLinksOwnTime) {
  StreamRun run(10000000, k100Mbit);
  ASSERT_EQ(run.scene.installer.atClose.button, "OK");
  const double linkMs = double(100 * kChunkWireBytes) / k100Mbit;
  ::testing::Test::RecordProperty("stream_ms", std::to_string(run.StreamMs()));
  std::printf("10 MB at 100 Mbit/s: stream %.0f ms, link alone %.1f ms, ratio %.3f\n", run.StreamMs(), linkMs,
              run.StreamMs() / linkMs);
  EXPECT_LE(run.StreamMs(), 1.15 * linkMs) << "link time " << linkMs << " ms";
  EXPECT_GE(run.StreamMs(), linkMs);
}

// Not a behaviour to keep: the figure of what a full 50 ms slice after every chunk would cost on the
// same link, for the benchmark notes (bench/README.md). The client is the same; the platform's wait
// just never ends early for room to send.
TEST(Pacing, TheSameStreamSittingOutEverySliceTakesSeveralTimesAsLong) {
  StreamRun run(10000000, k100Mbit, false);
  ASSERT_EQ(run.scene.installer.atClose.button, "OK");
  const double linkMs = double(100 * kChunkWireBytes) / k100Mbit;
  ::testing::Test::RecordProperty("stream_ms", std::to_string(run.StreamMs()));
  std::printf("10 MB at 100 Mbit/s, full slices: stream %.0f ms, link alone %.1f ms, ratio %.3f\n", run.StreamMs(),
              linkMs, run.StreamMs() / linkMs);
  EXPECT_GE(run.StreamMs(), 99 * 50.0) << "a slice after every chunk but the last";
}

TEST(SilentController, TakingThirtyMegabytesOverTenMegabitsIsNotTakenForDead) {
  // About 25 s of streaming in which the controller sends nothing at all. The connection taking the
  // data is the sign of life; also where the waits for room run out now and then (here: every one,
  // as on a platform whose waits do not wake for room to send).
  for (bool writeWakeups : {true, false}) {
    SCOPED_TRACE(writeWakeups ? "waits end when there is room" : "waits run out");
    UpgradeScene scene;
    scene.site.Config().faults.silent = true;
    scene.site.WritePayload("big.bin", PatternBytes(30000000, 5));
    scene.Start();
    scene.world.SetLinkRate(scene.site.Host(), k10Mbit);
    scene.world.SetWriteWakeups(writeWakeups);
    scene.Run();
    EXPECT_EQ(scene.installer.atClose.button, "OK");
    EXPECT_EQ(scene.site.StoredOnController("big.bin"), PatternBytes(30000000, 5));
    uint32_t streamMs = scene.TickOf("Transfer File: BSP/UPGRADE\\big.bin OK") -
                        scene.TickOf("Transfer File: BSP/UPGRADE\\big.bin");
    EXPECT_GT(streamMs, 2 * kIdleLimitMs);
  }
}

TEST(SilentController, ThatStopsReadingIsFoundWithinAboutTenSeconds) {
  UpgradeScene scene;
  scene.site.Config().faults.silent = true;
  scene.site.Config().faults.stallAfterBytes = 2000000;
  uint32_t stalled = 0;
  scene.site.OnLog([&](const std::string& line) {
    if (line.find(" stalled: ") != std::string::npos) stalled = platform::GetTickCount();
  });
  scene.site.WritePayload("big.bin", PatternBytes(5000000, 5));
  scene.Start();
  scene.world.SetLinkRate(scene.site.Host(), k10Mbit);
  scene.Run();
  EXPECT_EQ(scene.installer.atClose.button, "Done");
  ASSERT_NE(stalled, 0u);
  // The chunk that could not be handed over gives up the connection.
  EXPECT_NE(scene.TickOf("Transfer File: BSP/UPGRADE\\big.bin Error Sending Chunk"), 0u);
  uint32_t givenUp = scene.backend.FirstAttemptGivenUp("BSP/UPGRADE\\big.bin");
  ASSERT_NE(givenUp, 0u);
  EXPECT_GE(givenUp - stalled, 9000u);
  EXPECT_LE(givenUp - stalled, 11000u);
}

}  // namespace
