// One installer's whole upgrade of one simulated controller, from the listed line to the controller
// back on the air, with the exact log, the bars and the files that landed on the controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/scenario/upgrade_lines.h"
#include "tests/scenario/upgrade_scene.h"

namespace {

using testing_support::Append;
using testing_support::FilesInOrder;
using testing_support::Lines;
using testing_support::Opening;
using testing_support::PatternBytes;
using testing_support::ReturnSeenAndCompleted;
using testing_support::ShellsAnswered;
using testing_support::UpgradeScene;

TEST(UpgradeRoad, AnInstallerUpgradesAControllerFromTheListedLineToItsReturn) {
  UpgradeScene scene;  // an r5 (type 9), which refuses the first login as type 1
  auto& site = scene.site;
  const std::vector<uint8_t> script = {'e', 'c', 'h', 'o', '\n'};
  const std::vector<uint8_t> same = PatternBytes(30000, 1);
  const std::vector<uint8_t> changedNew = PatternBytes(12000, 2);
  const std::vector<uint8_t> big = PatternBytes(250000, 3);
  site.WritePayload("upgrade.sh", script);
  site.WritePayload("same.bin", same);
  site.WritePayload("changed.bin", changedNew);
  site.WritePayload("big.bin", big);
  site.WritePayload("empty.bin", {});
  // The controller's own shell empties its upgrade folder; what an earlier run left there comes back
  // right after, as if that run had sent it.
  site.OnLog([&](const std::string& line) {
    if (line.find("[mkdir /MIRU/BSP/UPGRADE] created") == std::string::npos) return;
    site.WriteOnController("same.bin", same);
    site.WriteOnController("changed.bin", PatternBytes(12000, 9));
  });
  scene.Run();

  // The files go in the order the folder lists them.
  Lines expected = Opening("r5 i.MX6");
  Append(expected, ShellsAnswered(1, 5));
  Append(expected, FilesInOrder(site.PayloadOrder(), "same.bin"));
  Append(expected, ShellsAnswered(6, 7));
  Append(expected, ReturnSeenAndCompleted());

  const auto& installer = scene.installer;
  EXPECT_TRUE(installer.pressedStart);
  ASSERT_EQ(installer.boxes.size(), 1u) << "the warning and nothing after a completed run";
  EXPECT_EQ(installer.boxes[0].text, kUpgradeWarning);
  EXPECT_EQ(installer.boxes[0].style, ui::MB_YESNO | ui::MB_ICONHAND);
  EXPECT_EQ(installer.atClose.log, expected);
  EXPECT_EQ(installer.atClose.button, "OK");
  EXPECT_EQ(installer.atClose.totalBar, 1000);
  EXPECT_EQ(installer.atClose.itemBar, 0);
  EXPECT_EQ(installer.listAfterUpgrade, Lines{});
  EXPECT_TRUE(installer.relisted);

  // Logged in as type 9 after type 1 was refused, on a second connection.
  EXPECT_EQ(site.LogLinesWith("request 27").size(), 2u);
  EXPECT_EQ(site.LogLinesWith("#2 request 27 login kind 19").size(), 1u);
  Lines bigChunks;
  for (const std::string& line : site.LogLinesWith(" of 250000")) bigChunks.push_back(line.substr(line.find("chunk of ")));
  EXPECT_EQ(bigChunks, (Lines{"chunk of 100000 bytes, 100000 of 250000", "chunk of 100000 bytes, 200000 of 250000",
                              "chunk of 50000 bytes, 250000 of 250000"}));
  EXPECT_EQ(site.StoredOnController("big.bin"), big);
  EXPECT_EQ(site.StoredOnController("changed.bin"), changedNew);
  EXPECT_EQ(site.StoredOnController("same.bin"), same);
  EXPECT_EQ(site.StoredOnController("upgrade.sh"), script);
  EXPECT_TRUE(site.OnController("empty.bin"));
  EXPECT_EQ(site.Controller().UpgradeRuns(), 1);
  EXPECT_TRUE(site.Controller().OnAir());
}

TEST(UpgradeRoad, AControllerThatOnlyRecordsItsCommandsKeepsFilesPlacedBeforehandAndTheyAreSkipped) {
  UpgradeScene scene;
  auto& site = scene.site;
  site.Config().dryCommands = true;
  const std::vector<uint8_t> same = PatternBytes(40000, 4);
  site.WritePayload("same.bin", same);
  site.WriteOnController("same.bin", same);
  site.WritePayload("new.bin", PatternBytes(20000, 6));
  scene.Run();

  const Lines& log = scene.installer.atClose.log;
  EXPECT_EQ(scene.installer.atClose.button, "OK");
  EXPECT_EQ(std::count(log.begin(), log.end(), "Checking File: BSP/UPGRADE\\same.bin  CheckSum OK"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Transfer File: BSP/UPGRADE\\new.bin OK"), 1);
  EXPECT_EQ(site.LogLinesWith("request 14032").size(), 1u) << "only the new file is announced";
  EXPECT_EQ(site.StoredOnController("new.bin"), PatternBytes(20000, 6));
  EXPECT_EQ(site.CommandsReceived(),
            (Lines{"umount /MIRU/BSP", "mkdir /MIRU/BSP", "mount /dev/mmcblk0p4 /MIRU/BSP", "rm -Rf /MIRU/BSP/UPGRADE",
                   "mkdir /MIRU/BSP/UPGRADE", "chmod -R 755 /MIRU/BSP", "sh /MIRU/BSP/UPGRADE/upgrade.sh &"}));
}

}  // namespace
