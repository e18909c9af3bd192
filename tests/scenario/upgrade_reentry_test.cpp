// Handlers that run while a step is inside its work: the file copy waits for a slow controller by
// pumping window messages, so timers of both dialogs fire in the middle of a transfer. Whatever such
// a handler does, the upgrade must end honestly and nothing may be used after it is gone.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "net/server.h"
#include "tests/scenario/upgrade_scene.h"

namespace {

using testing_support::PatternBytes;
using testing_support::UpgradeScene;
using Lines = std::vector<std::string>;

// The main dialog with a timer handler that counts its ticks during the upgrade and, when told to,
// does the worst it could: closes the session under the transfer.
class MeddlingMainDialog : public CPKGLIFTDlg {
 public:
  void OnTimer(int id) override {
    if (IsUpgradeRunning()) {
      ++ticksDuringUpgrade;
      if (closeSession && closeSession() && GetServer()) {
        CloseServer();
        closedAt = platform::GetTickCount();
      }
    }
    CPKGLIFTDlg::OnTimer(id);
  }

  std::function<bool()> closeSession;
  int ticksDuringUpgrade = 0;
  uint32_t closedAt = 0;
};

TEST(UpgradeReentry, TimersFiringWhileAChunkWaitsForAStalledReaderLeaveTheStepAloneOrEndItHonestly) {
  const struct {
    const char* name;
    bool closeSession;
    bool talking;            // the controller goes on sending its messages to all sinks
    uint32_t earliestEndMs;  // after the stall, when the transfer is given up
    uint32_t latestEndMs;
  } cases[] = {
      // The session's own rule gives up on a connection that took nothing for ten seconds.
      {"a timer that only looks", false, false, 10000, 10100},
      // However much the controller says meanwhile: its talk is no sign that it will read again.
      {"a controller that keeps talking", false, true, 10000, 10100},
      // The main dialog's next one-second tick closes the session under the waiting copy.
      {"a timer that closes the session", true, false, 0, 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeScene scene;
    auto& site = scene.site;
    site.Config().faults.silent = !c.talking;
    // The controller stops reading just when the fifth chunk has filled the connection's window, so
    // that the copy, with nothing more it may send, waits for room and pumps window messages.
    site.StallWhenChunksFillTheWindow(5);
    uint32_t stalledAt = 0;
    site.OnLog([&](const std::string& line) {
      if (line.find(" stalled: ") != std::string::npos) stalledAt = platform::GetTickCount();
    });
    site.WritePayload("big.bin", PatternBytes(3000000, 7));
    scene.Start();

    ui::ScopedBackend installed(scene.backend);
    MeddlingMainDialog dialog;
    if (c.closeSession) dialog.closeSession = [&] { return stalledAt != 0; };
    dialog.DoModal();

    ASSERT_NE(stalledAt, 0u);
    uint32_t givenUp = scene.backend.FirstAttemptGivenUp("BSP/UPGRADE\\big.bin");
    ASSERT_NE(givenUp, 0u);
    EXPECT_GE(givenUp - stalledAt, c.earliestEndMs);
    EXPECT_LE(givenUp - stalledAt, c.latestEndMs);
    EXPECT_GT(dialog.ticksDuringUpgrade, 0) << "the main dialog's timer fired inside the transfer";
    if (c.closeSession) {
      EXPECT_EQ(dialog.closedAt, givenUp);
    }

    const auto& installer = scene.installer;
    const Lines& log = installer.atClose.log;
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(installer.atClose.button, "Done");
    EXPECT_EQ(log.back(), "ERROR: Upgrade FAILED, GATEWAY did not startup");
    // The ticks inside the wait did not start the copy again: the controller saw one announcement,
    // and the later attempts found no session.
    EXPECT_EQ(site.LogLinesWith("request 14032").size(), 1u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Cannot Send File, refused by gateway"), 4);
    EXPECT_EQ(std::count(log.begin(), log.end(), "Transfer File: BSP/UPGRADE\\big.bin OK"), 0);
    EXPECT_LT(site.StoredOnController("big.bin").size(), 3000000u);
    EXPECT_EQ(installer.boxes.size(), 1u) << "the warning only: the run ended through its button";
  }
}

}  // namespace
