// The person at the two dialogs around an upgrade: closing the upgrade dialog while a step works or
// once the run is over, Enter in its log, the main dialog's discovery resting meanwhile, and a Start
// that does nothing.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "net/server.h"
#include "tests/scenario/upgrade_lines.h"
#include "tests/scenario/upgrade_scene.h"
#include "upgrade/update_dialog_template.h"

namespace {

using testing_support::Lines;
using testing_support::PatternBytes;
using testing_support::UpgradeScene;
using HeadlessBackend = ui::headless::HeadlessBackend;

// What the person does to end the upgrade dialog.
struct Close {
  const char* what;
  std::function<void(HeadlessBackend&)> act;
  bool clearsList;  // the dialog ends with IDCANCEL, and the Start command empties the device list
};

const Close kCloses[] = {
    {"the button", [](HeadlessBackend& ui) { ui.ClickButton(ui::IDCANCEL); }, true},
    {"Escape", [](HeadlessBackend& ui) { ui.PressKey(ui::VK_ESCAPE); }, true},
    {"Enter in the log list",
     [](HeadlessBackend& ui) {
       ui.SelectItem(kLogListId, 1);
       ui.PressKey(ui::VK_RETURN);
     },
     false},
};

TEST(UpgradeDialog, ClosedWhileAFileStreamsItEndsOnceTheFileHasLandedAndNoFurtherStepRuns) {
  for (const Close& close : kCloses) {
    SCOPED_TRACE(close.what);
    UpgradeScene scene;
    const std::vector<uint8_t> big = PatternBytes(2000000, 4);
    scene.site.WritePayload("big.bin", big);
    // The controller sits on its input for two seconds from the moment the third chunk has filled
    // the connection's window: the copy, with nothing more it may send, waits for room and
    // dispatches window messages, and the person's close comes in then.
    scene.site.StallWhenChunksFillTheWindow(3, 2000);
    bool stalled = false;
    scene.site.OnLog([&](const std::string& line) {
      if (line.find(" stalled: ") != std::string::npos) stalled = true;
    });
    uint32_t pressed = 0;
    scene.installer.duringUpgrade = [&](HeadlessBackend& ui, CUpdateDlg&) {
      if (!stalled || pressed) return;
      close.act(ui);
      pressed = platform::GetTickCount();
    };
    scene.Run();
    // The last bytes handed over may still be on their way when the main dialog closes.
    scene.world.RunFor(1000);

    ASSERT_NE(pressed, 0u);
    // The step finished its work: the whole file is there, stored after the press.
    EXPECT_EQ(scene.site.StoredOnController("big.bin"), big);
    std::vector<uint32_t> stored = scene.site.TicksOf(" stored: ");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_GT(stored[0], pressed);
    ASSERT_FALSE(scene.backend.timeline.empty());
    EXPECT_EQ(scene.backend.timeline.back().line, "Transfer File: BSP/UPGRADE\\big.bin OK");
    EXPECT_GT(scene.backend.timeline.back().tick, pressed);
    // The next step never started.
    EXPECT_EQ(scene.site.CommandsReceived().size(), 5u);
    // A controller left half upgraded is said to be so.
    ASSERT_EQ(scene.installer.boxes.size(), 2u);
    EXPECT_EQ(scene.installer.boxes[1].text, kUpgradeNotSuccessful);
    EXPECT_EQ(scene.installer.boxes[1].text,
              "ERROR: Upgrade began, but was not successful. Please re-run the upgrade as soon as possible and do not "
              "attempt to use the controller until a successful upgrade is complete.");
    EXPECT_EQ(scene.installer.boxes[1].style, ui::MB_OK);
    EXPECT_EQ(scene.installer.listAfterUpgrade.empty(), close.clearsList);
  }
}

TEST(UpgradeDialog, ClosedAfterTheRunOnlyEnterInTheLogListStillSaysTheUpgradeWasNotSuccessful) {
  for (const Close& close : kCloses) {
    SCOPED_TRACE(close.what);
    UpgradeScene scene;
    scene.site.WritePayload("a.bin", PatternBytes(3000, 1));
    scene.installer.closeWhenOver = false;
    bool closed = false;
    scene.installer.duringUpgrade = [&](HeadlessBackend& ui, CUpdateDlg& dialog) {
      if (!dialog.IsRunOver() || closed) return;
      scene.installer.atClose = testing_support::Snapshot(dialog);
      close.act(ui);
      closed = true;
    };
    scene.Run();

    ASSERT_TRUE(closed);
    EXPECT_EQ(scene.installer.atClose.log.back(), testing_support::kRunCompleted);
    EXPECT_EQ(scene.installer.atClose.button, "OK");
    if (close.clearsList) {
      EXPECT_EQ(scene.installer.boxes.size(), 1u) << "the button ends a run that is over silently";
      EXPECT_TRUE(scene.installer.listAfterUpgrade.empty());
    } else {
      ASSERT_EQ(scene.installer.boxes.size(), 2u);
      EXPECT_EQ(scene.installer.boxes[1].text, kUpgradeNotSuccessful);
      EXPECT_EQ(scene.installer.listAfterUpgrade, scene.installer.listAtStart);
    }
  }
}

TEST(UpgradeDialog, TheMainDialogSendsNoProbesWhileTheUpgradeDialogIsOpen) {
  UpgradeScene scene;
  scene.site.WritePayload("upgrade.sh", {'e', 'c', 'h', 'o', '\n'});
  int during = 0;
  int outside = 0;
  scene.site.OnLog([&](const std::string& line) {
    if (line.find("probe from 192.168.1.10:444 ") == std::string::npos) return;
    (dynamic_cast<CUpdateDlg*>(scene.backend.ActiveDialog()) ? during : outside) += 1;
  });
  scene.Run();

  EXPECT_EQ(scene.installer.atClose.button, "OK");
  // Long enough for ten of the main dialog's rounds, had it kept probing.
  EXPECT_GT(scene.TickOf(testing_support::kRunCompleted) - scene.TickOf("Starting Update Procedure"), 10000u);
  EXPECT_EQ(during, 0);
  EXPECT_GT(outside, 0);
  EXPECT_TRUE(scene.installer.relisted);
}

TEST(UpgradeDialog, StartDoesNothingWithoutASelectedLineOrWithoutAYesToTheWarning) {
  const struct {
    const char* what;
    bool selectLine;
    int answer;
    size_t boxes;
  } cases[] = {
      {"no line selected", false, ui::IDYES, 0},
      {"No to the warning", true, ui::IDNO, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpgradeScene scene;
    scene.installer.selectLine = c.selectLine;
    scene.installer.warningAnswer = c.answer;
    bool sessionAfterStart = true;
    scene.installer.afterStart = [&](HeadlessBackend&, CPKGLIFTDlg&) { sessionAfterStart = GetServer() != nullptr; };
    scene.Run();

    EXPECT_TRUE(scene.installer.pressedStart);
    ASSERT_EQ(scene.installer.boxes.size(), c.boxes);
    if (c.boxes) {
      EXPECT_EQ(scene.installer.boxes[0].text, kUpgradeWarning);
    }
    EXPECT_FALSE(scene.installer.upgradeShown);
    EXPECT_FALSE(sessionAfterStart);
    EXPECT_FALSE(scene.installer.listAtStart.empty());
    EXPECT_EQ(scene.installer.listAfterStart, scene.installer.listAtStart);
    EXPECT_TRUE(scene.site.LogLinesWith(" connected from ").empty());
  }
}

TEST(UpgradeDialog, ALineThatGoesWhileTheWarningIsOpenEndsStartWithoutASession) {
  UpgradeScene scene;
  // What the main dialog's timer may do while a real box is open: the line expires.
  scene.installer.duringWarning = [](CPKGLIFTDlg& main) { main.ClearDeviceList(); };
  bool sessionAfterStart = true;
  scene.installer.afterStart = [&](HeadlessBackend&, CPKGLIFTDlg&) { sessionAfterStart = GetServer() != nullptr; };
  scene.Run();

  EXPECT_TRUE(scene.installer.pressedStart);
  EXPECT_EQ(scene.installer.boxes.size(), 1u);
  EXPECT_FALSE(scene.installer.upgradeShown);
  EXPECT_FALSE(sessionAfterStart);
  EXPECT_TRUE(scene.site.LogLinesWith(" connected from ").empty());
}

}  // namespace
