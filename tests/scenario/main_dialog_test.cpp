// The main dialog in its real modal loop on a simulated LAN, with a person at the keyboard: the
// headless backend's driver acts on what the dialog shows, at moments of the virtual clock.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/main_dialog.h"
#include "app/main_dialog_template.h"
#include "net/server.h"
#include "platform/socket.h"
#include "tests/support/fake_controllers.h"
#include "tests/support/scripted_person.h"
#include "tests/support/test_world.h"
#include "ui/headless/headless_backend.h"

namespace {

using platform::MakeAddress;
using testing_support::Click;
using testing_support::Controller;
using testing_support::DiscoveryAnswer;
using testing_support::Press;
using testing_support::Select;
using ui::headless::HeadlessBackend;
using Lines = std::vector<std::string>;

constexpr uint32_t kPcAddress = MakeAddress(192, 168, 1, 10);
constexpr uint32_t kSomeKey = 0x41;  // 'A'

class MainDialog : public ::testing::Test {
 protected:
  MainDialog() { world.AddHost("pc", kPcAddress); }

  static Lines Shown(CPKGLIFTDlg& dialog) {
    Lines lines;
    for (int i = 0; i < dialog.DeviceList().GetCount(); ++i) lines.push_back(dialog.DeviceList().GetText(i));
    return lines;
  }

  testing_support::TestWorld world;
  testing_support::FakeControllers controllers{world};
  testing_support::ScriptedPerson person;  // moments count from the world's start
  HeadlessBackend backend{&person};
  ui::ScopedBackend installed{backend};
};

TEST_F(MainDialog, OpensWithItsCaptionTheSixFilterEntriesInOrderAndNothingSelected) {
  CPKGLIFTDlg dialog;
  std::string caption;
  Lines filters;
  int selected = 0;
  person.At(0, [&](HeadlessBackend& ui) {
    caption = dialog.GetWindowText();
    for (int i = 0; i < dialog.FilterList().GetCount(); ++i) filters.push_back(dialog.FilterList().GetText(i));
    selected = dialog.FilterList().GetCurSel();
    ui.ClickButton(ui::IDCANCEL);
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(caption, "Board Support Package Upgrade Utility: 1.4 Build 5.0 Rel (Core: 7.1 Build 269.0 Rel)");
  EXPECT_EQ(filters, (Lines{"ALL", "R5", "VARDO ZRT", "PD10", "PD2", "SONMARK ZRT"}));
  EXPECT_EQ(selected, ui::LB_ERR);
}

TEST_F(MainDialog, TheDiagnosticViewSwitchesOnlyOnItsKeyPressedTwiceInARow) {
  controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(23, 9, 16, "0050C2000C03"));
  const Lines normal = {"00:50:C2:00:0A:01\t   192.168.1.21\tPD2", "00:50:C2:00:0C:03\t   192.168.1.23\tR5 (Extender)"};
  const Lines diagnostic = {"Type: 0x01 SubType: 0x02\t00:50:C2:00:0A:01\t   192.168.1.21\tPD2",
                            "Type: 0x09 SubType: 0x10\t00:50:C2:00:0C:03\t   192.168.1.23\tR5 (Extender)"};
  CPKGLIFTDlg dialog;
  std::map<std::string, Lines> seen;
  std::map<std::string, int> view;
  auto look = [&](const char* name) {
    return [&, name](HeadlessBackend&) {
      seen[name] = Shown(dialog);
      view[name] = dialog.IsDiagnosticView();
    };
  };
  int repaintsBefore = 0;
  int repaintsAfter = 0;
  person.At(2500, Press(kDiagnosticOnKey));
  person.At(2500, Press(kSomeKey));
  person.At(2500, Press(kDiagnosticOnKey));
  person.At(2500, look("on key apart"));
  person.At(2600, [&](HeadlessBackend& ui) {
    repaintsBefore = ui.RepaintCount(dialog);
    ui.PressKey(kDiagnosticOffKey);
    ui.PressKey(kDiagnosticOffKey);
  });
  person.At(2600, look("off key twice while off"));
  person.At(2700, Press({kDiagnosticOnKey, kDiagnosticOnKey}));
  person.At(2700, [&](HeadlessBackend& ui) {
    repaintsAfter = ui.RepaintCount(dialog);
    look("on key twice")(ui);
  });
  person.At(4500, look("refilled"));
  person.At(4600, Press({kDiagnosticOnKey, kDiagnosticOnKey, kDiagnosticOffKey}));
  person.At(4600, look("on key twice while on, off key once"));
  person.At(4700, Press(kDiagnosticOffKey));
  person.At(4700, look("off key twice"));
  person.At(6500, look("normal again"));
  person.At(6600, Press(ui::VK_ESCAPE));

  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(person.Done());
  EXPECT_EQ(seen["on key apart"], normal);
  EXPECT_EQ(view["on key apart"], 0);
  EXPECT_EQ(seen["off key twice while off"], normal);
  EXPECT_EQ(seen["on key twice"], Lines{});
  EXPECT_EQ(view["on key twice"], 1);
  EXPECT_EQ(repaintsAfter, repaintsBefore + 1) << "the switch repaints at once";
  EXPECT_EQ(seen["refilled"], diagnostic);
  EXPECT_EQ(seen["on key twice while on, off key once"], diagnostic);
  EXPECT_EQ(view["on key twice while on, off key once"], 1);
  EXPECT_EQ(seen["off key twice"], Lines{});
  EXPECT_EQ(view["off key twice"], 0);
  EXPECT_EQ(seen["normal again"], normal);
}

TEST_F(MainDialog, SelectingALineEnablesStartWhoseDeclinedWarningChangesNothingAndCancelLeavesNoRecordBehind) {
  controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(22, 1, 10, "0050C2000B02"));
  CPKGLIFTDlg dialog;
  bool enabledWithSelection = false;
  bool enabledWithout = true;
  bool stillOpen = false;
  person.At(2500, Select(kDeviceListId, 1));
  person.At(2500, [&](HeadlessBackend& ui) {
    enabledWithSelection = dialog.GetButton(ui::IDOK)->IsWindowEnabled();
    ui.ClickButton(ui::IDOK);
    ui.PressKey(ui::VK_RETURN);
  });
  person.At(2500, [&](HeadlessBackend& ui) {
    stillOpen = ui.ActiveDialog() == &dialog;
    dialog.DeviceList().SetCurSel(-1);
    dialog.OnSelchangeDeviceList();
    enabledWithout = dialog.GetButton(ui::IDOK)->IsWindowEnabled();
    ui.ClickButton(ui::IDCANCEL);
  });
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(enabledWithSelection);
  EXPECT_TRUE(stillOpen);
  EXPECT_FALSE(enabledWithout);
  // The click and Enter each asked; the person never chose Yes, so no session was opened.
  ASSERT_EQ(backend.MessageBoxes().size(), 2u);
  for (const auto& box : backend.MessageBoxes()) {
    EXPECT_EQ(box.text, kUpgradeWarning);
    EXPECT_EQ(box.style, ui::MB_YESNO | ui::MB_ICONHAND);
    EXPECT_NE(box.answer, ui::IDYES);
  }
  EXPECT_EQ(dialog.GetStartFailure(), StartFailure::None) << "no connection was tried";
  EXPECT_EQ(GetServer(), nullptr);
  ASSERT_EQ(dialog.DeviceList().GetCount(), 2);
  EXPECT_EQ(dialog.DeviceList().GetItemData(0), nullptr);
  EXPECT_EQ(dialog.DeviceList().GetItemData(1), nullptr);
}

// An installer on a LAN of mixed controllers: looks at the list, narrows it, switches to the
// diagnostic view, watches two controllers go off the air, and switches back.
TEST_F(MainDialog, TheListAsAnInstallerSeesItThroughFilterChangesViewSwitchesAndSilentControllers) {
  auto& a = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));  // PD2
  controllers.Add(Controller(22, 8, 10, "0050c2000b02"));            // PD10, lower-case MAC
  auto& c = controllers.Add(Controller(23, 9, 16, "0050C2000C03"));  // R5 (Extender)
  controllers.Add(Controller(124, 8, 32, "0050C2000D04"));           // Vardo ZRT
  controllers.Add(Controller(25, 1, 80, "0050C2000E05"));            // Sonmark ZRT (Extender)
  controllers.Add(Controller(26, 6, 4, "0050C2000F06"));             // KX4: never listed
  controllers.Add(Controller(27, 7, 0, "001122334455"));             // WinCE ARM
  controllers.Add(Controller(28, 9, 2, "0050C2001008"));             // R5 with a PD2 subtype
  controllers.Add(Controller(29, 8, 20, "0050C2001109"));            // hidden extender subtype
  controllers.Add(Controller(3, 100, 1, "0050C2001110"));            // the local machine

  const std::string g = "00:11:22:33:44:55\t   192.168.1.27\tUnknown";
  const std::string aLine = "00:50:C2:00:0A:01\t   192.168.1.21\tPD2";
  const std::string b = "00:50:c2:00:0b:02\t   192.168.1.22\tPD10";
  const std::string cLine = "00:50:C2:00:0C:03\t   192.168.1.23\tR5 (Extender)";
  const std::string d = "00:50:C2:00:0D:04\t  192.168.1.124\tVardo ZRT";
  const std::string e = "00:50:C2:00:0E:05\t   192.168.1.25\tSonmark ZRT (Extender)";
  const std::string h = "00:50:C2:00:10:08\t   192.168.1.28\tR5";
  const std::string j = "00:50:C2:00:11:10\t    192.168.1.3\tUnknown";
  const std::string aDiag = "Type: 0x01 SubType: 0x02\t00:50:C2:00:0A:01\t   192.168.1.21\tPD2";
  const std::string eDiag = "Type: 0x01 SubType: 0x50\t00:50:C2:00:0E:05\t   192.168.1.25\tSonmark ZRT (Extender)";
  const std::string gDiag = "Type: 0x07 SubType: 0x00\t00:11:22:33:44:55\t   192.168.1.27\tUnknown";
  const std::string bDiag = "Type: 0x08 SubType: 0x0A\t00:50:c2:00:0b:02\t   192.168.1.22\tPD10";
  const std::string dDiag = "Type: 0x08 SubType: 0x20\t00:50:C2:00:0D:04\t  192.168.1.124\tVardo ZRT";
  const std::string hDiag = "Type: 0x09 SubType: 0x02\t00:50:C2:00:10:08\t   192.168.1.28\tR5";
  const std::string cDiag = "Type: 0x09 SubType: 0x10\t00:50:C2:00:0C:03\t   192.168.1.23\tR5 (Extender)";
  const std::string jDiag = "Type: 0x64 SubType: 0x01\t00:50:C2:00:11:10\t    192.168.1.3\tUnknown";

  CPKGLIFTDlg dialog;
  std::vector<std::pair<std::string, Lines>> seen;
  auto look = [&](const char* name) { return [&, name](HeadlessBackend&) { seen.push_back({name, Shown(dialog)}); }; };
  person.At(500, look("before the first answers"));
  person.At(2500, look("everything"));
  person.At(2500, Select(kFilterListId, 4));
  person.At(2500, look("PD2 chosen"));
  person.At(3500, look("PD2 a second later"));
  person.At(3600, Press({kDiagnosticOnKey, kDiagnosticOnKey}));
  person.At(3600, look("diagnostic view on"));
  person.At(4500, look("diagnostic view a second later"));
  person.At(4600, [&](HeadlessBackend&) { a.silent = c.silent = true; });
  person.At(7500, look("two silent, not yet expired"));
  person.At(8500, look("one tick later"));
  person.At(9500, look("another tick later"));
  person.At(9600, Press({kDiagnosticOffKey, kDiagnosticOffKey}));
  person.At(9600, look("diagnostic view off"));
  person.At(11500, look("PD2 again"));
  person.At(11600, Select(kFilterListId, 0));
  person.At(12500, look("ALL"));
  person.At(12600, Click(ui::IDCANCEL));

  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  const std::vector<std::pair<std::string, Lines>> expected = {
      {"before the first answers", {}},
      {"everything", {g, aLine, b, cLine, d, e, h, j}},
      {"PD2 chosen", {}},
      {"PD2 a second later", {aLine, h}},
      {"diagnostic view on", {}},
      {"diagnostic view a second later", {aDiag, eDiag, gDiag, bDiag, dDiag, hDiag, cDiag, jDiag}},
      {"two silent, not yet expired", {aDiag, eDiag, gDiag, bDiag, dDiag, hDiag, cDiag, jDiag}},
      {"one tick later", {eDiag, gDiag, bDiag, dDiag, hDiag, cDiag, jDiag}},
      {"another tick later", {eDiag, gDiag, bDiag, dDiag, hDiag, jDiag}},
      {"diagnostic view off", {}},
      {"PD2 again", {h}},
      {"ALL", {g, b, d, e, h, j}},
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(MainDialog, TheApplicationRunsTheMainDialogUntilItIsCancelled) {
  std::string caption;
  person.At(0, [&](HeadlessBackend& ui) {
    caption = ui.ActiveDialog()->GetWindowText();
    ui.ClickButton(ui::IDCANCEL);
  });
  CPKGLIFTApp app;
  EXPECT_EQ(app.InitInstance(), 0);
  EXPECT_EQ(caption, "Board Support Package Upgrade Utility: 1.4 Build 5.0 Rel (Core: 7.1 Build 269.0 Rel)");
  EXPECT_TRUE(backend.MessageBoxes().empty());
}

TEST_F(MainDialog, TheApplicationEndsWithAMessageWhenSocketsCannotStart) {
  bool sawDialog = false;
  person.At(0, [&](HeadlessBackend& ui) {
    sawDialog = true;
    ui.ClickButton(ui::IDCANCEL);
  });
  CPKGLIFTApp app([] { return 0; });
  EXPECT_EQ(app.InitInstance(), 0);
  EXPECT_FALSE(sawDialog);
  ASSERT_EQ(backend.MessageBoxes().size(), 1u);
  EXPECT_EQ(backend.MessageBoxes()[0].text, "ERROR: Cannot Start Windows Sockets");
  EXPECT_EQ(backend.MessageBoxes()[0].style, ui::MB_OK);
}

}  // namespace
