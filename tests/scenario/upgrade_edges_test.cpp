// The upgrade at the edges of what it meets: the login types a controller takes, controllers that
// take no board support package, the DLLs a WinCE controller does not take, this PC as its own
// target, and the two bars through a transfer.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "net/server.h"
#include "tests/scenario/upgrade_lines.h"
#include "tests/scenario/upgrade_scene.h"
#include "tests/support/fake_controllers.h"
#include "tests/support/scripted_peer.h"
#include "upgrade/update_dialog_template.h"

namespace {

using testing_support::Append;
using testing_support::FileSent;
using testing_support::Lines;
using testing_support::Opening;
using testing_support::PatternBytes;
using testing_support::ShellsAnswered;
using testing_support::UpgradeScene;

// The names of the payload files the controller was asked to compare.
std::set<std::string> ComparedFiles(const testing_support::ControllerSite& site) {
  static constexpr char kOpen[] = "request 14030 [BSP/UPGRADE\\";
  std::set<std::string> names;
  for (const std::string& line : site.LogLinesWith(kOpen)) {
    size_t from = line.find(kOpen) + sizeof kOpen - 1;
    names.insert(line.substr(from, line.find(']', from) - from));
  }
  return names;
}

// ---------------------------------------------------------------------------------------------
// login

TEST(UpgradeEdges, StartLogsInAsAFullGatewaysClientFirstAndAsALinuxControllersSecond) {
  const struct {
    const char* what;
    int type;
    int subtype;
    std::vector<int> acceptedKinds;
    Lines logins;  // the controller's lines for the login requests
    bool upgrades;
  } cases[] = {
      {"a Linux controller",
       9,
       0,
       {},
       {"#1 request 27 refused: kind 3 not accepted -> 29", "#2 request 27 login kind 19 -> 28"},
       true},
      {"a full gateway", 1, 2, {}, {"#1 request 27 login kind 3 -> 28"}, true},
      {"a controller that takes neither",
       9,
       0,
       {42},
       {"#1 request 27 refused: kind 3 not accepted -> 29", "#2 request 27 refused: kind 19 not accepted -> 29"},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpgradeScene scene;
    scene.site.Config().type = uint8_t(c.type);
    scene.site.Config().subtype = uint8_t(c.subtype);
    scene.site.Config().acceptedKinds = c.acceptedKinds;
    bool sessionAfterStart = true;
    scene.installer.afterStart = [&](ui::headless::HeadlessBackend&, CPKGLIFTDlg&) {
      sessionAfterStart = GetServer() != nullptr;
    };
    scene.Run();

    EXPECT_EQ(scene.site.LogLinesWith(" request 27 "), c.logins);
    EXPECT_EQ(scene.installer.upgradeShown, c.upgrades);
    EXPECT_FALSE(sessionAfterStart);
    ASSERT_GE(scene.installer.boxes.size(), 1u);
    EXPECT_EQ(scene.installer.boxes[0].text, kUpgradeWarning);
    if (c.upgrades) {
      EXPECT_EQ(scene.installer.atClose.button, "OK");
      EXPECT_EQ(scene.installer.boxes.size(), 1u);
    } else {
      // Start ends silently: no box after the warning, the list as it was.
      EXPECT_EQ(scene.installer.boxes.size(), 1u);
      EXPECT_FALSE(scene.installer.listAtStart.empty());
      EXPECT_EQ(scene.installer.listAfterStart, scene.installer.listAtStart);
      EXPECT_EQ(scene.site.RequestCodes(), (std::vector<int>{14, 27, 14, 27}));
    }
  }
}

// ---------------------------------------------------------------------------------------------
// controllers without a board support package

TEST(UpgradeEdges, AnEdgeControllersUpgradeCompletesAtTheFirstStepWithNothingSent) {
  const struct {
    int type;
    int subtype;
    const char* name;
  } cases[] = {
      {2, 7, "Limbet - IRRIGATION"},
      {3, 1, "Limbet - LIGHTING"},
      {4, 0, "Thermora System Controller"},
      {5, 0, "Limbet - PASSTHROUGH"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpgradeScene scene;
    scene.site.Config().type = uint8_t(c.type);
    scene.site.Config().subtype = uint8_t(c.subtype);
    scene.site.WritePayload("upgrade.sh", {'e', 'c', 'h', 'o', '\n'});
    scene.Run();

    EXPECT_EQ(scene.installer.atClose.log,
              (Lines{"Starting Update Procedure", std::string("System Type: ") + c.name, "BSP Upgrade completed"}));
    EXPECT_EQ(scene.installer.atClose.button, "OK");
    EXPECT_EQ(scene.installer.boxes.size(), 1u);
    const uint32_t shown = scene.TickOf("Starting Update Procedure");
    const uint32_t completed = scene.TickOf("BSP Upgrade completed");
    EXPECT_GE(completed - shown, kFirstStepDelayMs);
    EXPECT_LE(completed - shown, kFirstStepDelayMs + kStepPeriodMs);
    EXPECT_EQ(scene.site.RequestCodes(), (std::vector<int>{14, 27, 8120}));
  }
}

// ---------------------------------------------------------------------------------------------
// the payload a controller takes

TEST(UpgradeEdges, AWinCeControllerIsSentOnlyItsOwnTlsLibrariesAmongTheDlls) {
  const Lines payload = {"VR_SSL.DLL", "vr_ssl_extra.dll", "libeay32.dll", "SSLEAY32.DLL", "other.dll",
                         "ssl.dll",    "libeay.dll",       "app.exe",      "notes.txt"};
  const std::set<std::string> winCe = {"VR_SSL.DLL",   "vr_ssl_extra.dll", "libeay32.dll",
                                       "SSLEAY32.DLL", "app.exe",          "notes.txt"};
  const std::set<std::string> all(payload.begin(), payload.end());
  const struct {
    int type;
    int subtype;
    const std::set<std::string>& sent;
  } cases[] = {{6, 2, winCe}, {7, 0, winCe}, {9, 0, all}};
  for (const auto& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type));
    UpgradeScene scene;
    scene.site.Config().type = uint8_t(c.type);
    scene.site.Config().subtype = uint8_t(c.subtype);
    for (size_t i = 0; i < payload.size(); ++i) scene.site.WritePayload(payload[i], PatternBytes(500 + i, uint8_t(i)));
    scene.Run();

    EXPECT_EQ(scene.installer.atClose.button, "OK");
    EXPECT_EQ(ComparedFiles(scene.site), c.sent);
    for (const std::string& name : payload) EXPECT_EQ(scene.site.OnController(name), c.sent.count(name) > 0) << name;
    std::set<std::string> checked;
    for (const std::string& line : scene.installer.atClose.log) {
      if (line.rfind("Checking File: BSP/UPGRADE\\", 0) == 0) checked.insert(line.substr(27, line.find("  ") - 27));
    }
    EXPECT_EQ(checked, c.sent);
  }
}

// ---------------------------------------------------------------------------------------------
// this PC as the target

TEST(UpgradeEdges, TheLocalMachineGetsThePayloadCopiedBelowItsDriveAndReadOnlyFilesOverwritten) {
  UpgradeScene scene;
  scene.site.Config().type = 100;
  scene.site.Config().subtype = 0;
  const std::vector<uint8_t> a = PatternBytes(20000, 1);
  const std::vector<uint8_t> ro = PatternBytes(3000, 2);
  scene.site.WritePayload("a.bin", a);
  scene.site.WritePayload("ro.bin", ro);
  // The step copies into the folder; it does not make it.
  namespace fs = std::filesystem;
  const fs::path target = fs::path(scene.site.DriveRoot()) / "VELMORANT" / "BSP" / "UPGRADE";
  fs::create_directories(target);
  testing_support::WriteHostFile((target / "ro.bin").string(), PatternBytes(100, 9));
  fs::permissions(target / "ro.bin", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  scene.Run();

  Lines expected = Opening("LOCALMACHINE");
  Append(expected, ShellsAnswered(1, 5));
  for (const std::string& name : scene.site.PayloadOrder()) {
    expected.push_back("Transfer File: BSP/UPGRADE\\" + name);
    if (name == "ro.bin") expected.push_back("Changing READ-ONLY bit on FILE: C:\\VELMORANT\\BSP/UPGRADE\\ro.bin");
  }
  Append(expected, ShellsAnswered(6, 7));
  Append(expected, testing_support::ReturnSeenAndCompleted());
  EXPECT_EQ(scene.installer.atClose.log, expected);
  EXPECT_EQ(scene.installer.atClose.button, "OK");
  EXPECT_EQ(testing_support::ReadHostFile((target / "a.bin").string()), a);
  EXPECT_EQ(testing_support::ReadHostFile((target / "ro.bin").string()), ro);
  // Nothing goes over the wire but the shell lines.
  for (int code : scene.site.RequestCodes()) {
    EXPECT_TRUE(code == 14 || code == 27 || code == 8120 || code == 8376) << code;
  }
}

// ---------------------------------------------------------------------------------------------
// the bars

TEST(UpgradeEdges, TheBarsFollowTheBytesOfTheFileSteps) {
  const struct {
    const char* what;
    std::vector<size_t> sizes;  // of a.bin, b.bin, ...
    std::vector<int> total;     // the positions the total bar went through
    std::vector<int> item;      // and the item bar
  } cases[] = {
      // Before each chunk: 0 of 250,000 bytes done, 100,000, 200,000; the step's end fills the bar.
      {"one file of three chunks", {250000}, {0, 400, 800, 1000}, {0, 40, 80, 0}},
      {"a file too small for the item bar", {9999}, {0, 1000}, {0}},
      {"files under a thousand bytes in all", {400, 500}, {0}, {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpgradeScene scene;
    for (size_t i = 0; i < c.sizes.size(); ++i) {
      scene.site.WritePayload(std::string(1, char('a' + i)) + ".bin", PatternBytes(c.sizes[i], uint8_t(i)));
    }
    scene.Run();

    EXPECT_EQ(scene.installer.atClose.button, "OK");
    EXPECT_EQ(scene.backend.Positions(kTotalBarId), c.total);
    EXPECT_EQ(scene.backend.Positions(kItemBarId), c.item);
    EXPECT_EQ(scene.installer.atClose.totalBar, c.total.back());
    EXPECT_EQ(scene.installer.atClose.itemBar, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// the system information answer

TEST(UpgradeEdges, ASystemInformationAnswerWithoutItsValuesLeavesTheTypeDiscoverySaid) {
  // Discovery announces an edge controller; its answer to 8120 carries the text and nothing more.
  testing_support::TestWorld world;
  world.AddHost("pc", testing_support::ControllerSite::kPcAddress);
  testing_support::FakeControllers controllers(world);
  testing_support::DiscoveryAnswer answer = testing_support::Controller(20, 3, 1, "0050C2000E01");
  testing_support::FakeController& edge = controllers.Add(answer);
  testing_support::ScriptedPeer peer(world, edge.host, platform::Endpoint{answer.address, answer.port});
  peer.AnswerLogin({3});
  auto login = peer.onRequest;
  peer.onRequest = [&](const sim::Frame& request) {
    if (request.code == 8120) {
      peer.Answer(request, std::string("EDGE"));
    } else {
      login(request);
    }
  };

  testing_support::Installer installer("0050C2000E01");
  ui::headless::HeadlessBackend backend(&installer);
  ui::ScopedBackend installed(backend);
  CPKGLIFTDlg dialog;
  dialog.DoModal();

  EXPECT_EQ(installer.atClose.log, (Lines{"Starting Update Procedure", "System Type: Limbet - LIGHTING",
                                          "BSP Upgrade completed"}));
  EXPECT_EQ(peer.RequestsWith(8120).size(), 1u);
}

}  // namespace
