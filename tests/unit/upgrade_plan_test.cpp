// The upgrade dialog's plan and its two bars, without running a step: which steps a controller's
// upgrade is made of and in what order, which payload files a WinCE controller does not take, and
// the bars' arithmetic.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "discovery/device_record.h"
#include "tests/support/controller_site.h"
#include "tests/support/fake_controllers.h"
#include "tests/support/test_world.h"
#include "upgrade/copy_file.h"
#include "upgrade/pkglift_operations.h"
#include "upgrade/update_dialog.h"

namespace {

using testing_support::PatternBytes;
using Names = std::vector<std::string>;

// A controller's record as discovery would make it.
DeviceRecord Device(int type, int subtype = 0) {
  testing_support::DiscoveryAnswer answer = testing_support::Controller(20, type, subtype, "0050C2000001");
  return DeviceRecord(testing_support::AnswerBytes(answer).data(), answer.address);
}

// The PC with its payload folder; the plan's probe sockets open on its simulated LAN.
class Plan : public ::testing::Test {
 protected:
  Plan() : site(world) {}

  // What each step of the dialog's plan is: "1" to "8" for the operations, the local name for a file.
  static Names Describe(CUpdateDlg& dialog) {
    Names steps;
    CVRObList::POSITION at = dialog.Steps().GetHeadPosition();
    while (at) {
      auto* step = static_cast<CUpdateProc*>(dialog.Steps().GetNext(at));
      if (auto* file = dynamic_cast<CCopyFile*>(step)) {
        steps.push_back(file->localName);
      } else if (auto* shell = dynamic_cast<CPkgLiftShellOperation*>(step)) {
        steps.push_back(std::to_string(OperationNumber(*shell)));
      } else if (dynamic_cast<CPkgLiftOperation8*>(step)) {
        steps.push_back("8");
      } else {
        steps.push_back("?");
      }
    }
    return steps;
  }

  static int OperationNumber(CPkgLiftShellOperation& step) {
    const std::string command = step.Operation().command;
    const char* commands[] = {"umount /MIRU/BSP",
                              "mkdir /MIRU/BSP",
                              "mount /dev/mmcblk0p4 /MIRU/BSP",
                              "rm -Rf /MIRU/BSP/UPGRADE",
                              "mkdir /MIRU/BSP/UPGRADE",
                              "chmod -R 755 /MIRU/BSP",
                              "sh /MIRU/BSP/UPGRADE/upgrade.sh &"};
    for (int i = 0; i < 7; ++i) {
      if (command == commands[i]) return i + 1;
    }
    return 0;
  }

  testing_support::TestWorld world;
  testing_support::ControllerSite site;
};

Names Operations(int first, int last) {
  Names names;
  for (int i = first; i <= last; ++i) names.push_back(std::to_string(i));
  return names;
}

Names Concat(std::initializer_list<Names> parts) {
  Names all;
  for (const Names& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST_F(Plan, OperationsOneToFiveThenEveryPayloadFileThenSixSevenAndTheWait) {
  site.WritePayload("b.bin", PatternBytes(10, 1));
  site.WritePayload("a.bin", PatternBytes(20, 2));
  site.WritePayload("upgrade.sh", PatternBytes(5, 3));
  site.WritePayload(".hidden", PatternBytes(5, 4));
  site.WritePayload(".DS_Store", PatternBytes(5, 5));
  std::filesystem::create_directories(site.PayloadFolder() + "/sub");
  testing_support::WriteHostFile(site.PayloadFolder() + "/sub/inner.bin", PatternBytes(5, 6));
  DeviceRecord device = Device(9);
  CUpdateDlg dialog(nullptr, &device);

  const Names files = site.PayloadOrder();
  EXPECT_EQ(files.size(), 3u);
  EXPECT_EQ(Describe(dialog), Concat({Operations(1, 5), files, Operations(6, 8)}));
}

TEST_F(Plan, WithoutFilesToSendThePlanHoldsTheOperationsOnly) {
  const struct {
    const char* what;
    bool makeFolder;
  } cases[] = {{"no payload folder", false}, {"an empty payload folder", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(site.Base() + "/pc/BSP");
    if (c.makeFolder) site.PayloadFolder();
    DeviceRecord device = Device(9);
    CUpdateDlg dialog(nullptr, &device);
    EXPECT_EQ(Describe(dialog), Operations(1, 8));
    EXPECT_EQ(dialog.GetTotalWork(), 0u);
  }
}

TEST_F(Plan, ControllersThatTakeNoBoardSupportPackageHaveAnEmptyPlan) {
  site.WritePayload("a.bin", PatternBytes(20, 2));
  for (int type : {0, 2, 3, 4, 5, 10, 99}) {
    SCOPED_TRACE("type " + std::to_string(type));
    DeviceRecord device = Device(type, 1);
    CUpdateDlg dialog(nullptr, &device);
    EXPECT_TRUE(dialog.Steps().IsEmpty());
  }
}

TEST_F(Plan, AWinCeControllerTakesOnlyItsOwnTlsLibrariesAmongTheDlls) {
  const struct {
    const char* name;
    bool winCe;  // allowed on types 6 and 7; every other type takes every file
  } cases[] = {
      {"VR_SSL.DLL", true},   {"vr_ssl.dll", true},    {"VR_SSL_NEW.DLL", true},
      {"LIBEAY32.DLL", true}, {"libeay32.dll", true},  {"SSLEAY32.Dll", true},
      {"other.dll", false},   {"OTHER.DLL", false},    {"LIBEAY.DLL", false},
      {"ssl.dll", false},     {"xVR_SSL.DLL", false},  {"app.exe", true},
      {"readme.txt", true},   {"other.dll.bak", true}, {"DLL", true},
      {"plugin.dl", true},    {"plugin.dlls", true},   {"noextension", true},
  };
  for (int type : {6, 7, 1, 8, 9, 100}) {
    DeviceRecord device = Device(type, 2);
    CUpdateDlg dialog(nullptr, &device);
    const bool winCe = type == 6 || type == 7;
    for (const auto& c : cases) {
      EXPECT_EQ(dialog.IsPayloadFileAllowed(c.name), !winCe || c.winCe ? 1 : 0) << c.name << " on type " << type;
    }
  }
}

// What a look without an upgrade compares is what the dialog's own plan would copy, for every kind
// of controller: the same files, in the same order, read from the same paths.
TEST_F(Plan, TheFileCopiesOfAPlanMadeWithoutTheDialogAreTheDialogsOwn) {
  site.WritePayload("b.bin", PatternBytes(10, 1));
  site.WritePayload("other.dll", PatternBytes(20, 2));
  site.WritePayload("VR_SSL.DLL", PatternBytes(30, 3));
  site.WritePayload(".hidden", PatternBytes(5, 4));
  for (int type : {0, 1, 2, 6, 7, 8, 9, 100}) {
    SCOPED_TRACE("type " + std::to_string(type));
    DeviceRecord device = Device(type, 2);
    CUpdateDlg dialog(nullptr, &device);
    Names planned;
    CVRObList::POSITION at = dialog.Steps().GetHeadPosition();
    while (at) {
      if (auto* file = dynamic_cast<CCopyFile*>(static_cast<CUpdateProc*>(dialog.Steps().GetNext(at)))) {
        planned.push_back(file->LocalPath() + " as " + file->RemotePath());
      }
    }
    Names looked;
    for (const auto& copy : PlanFileCopies(device)) looked.push_back(copy->LocalPath() + " as " + copy->RemotePath());
    EXPECT_EQ(looked, planned);
    EXPECT_EQ(planned.empty(), !device.IsFullController());
  }
}

TEST_F(Plan, TheItemBarShowsTheShareDoneOnlyForTenThousandBytesOrMore) {
  DeviceRecord device = Device(3, 1);
  CUpdateDlg dialog(nullptr, &device);
  const struct {
    uint32_t done;
    uint32_t total;
    int position;
  } cases[] = {
      {5000, 9999, 0},
      {9999, 9999, 0},
      {100, 100, 0},
      {0, 10000, 0},
      {5000, 10000, 50},
      {9999, 10000, 99},
      {10000, 10000, 100},
      // Done times 100 needs more than 32 bits here.
      {3000000000u, 4000000000u, 75},
      {4294967295u, 4294967295u, 100},
  };
  for (const auto& c : cases) {
    dialog.SetItemProgress(c.done, c.total);
    EXPECT_EQ(dialog.ItemBar().GetPos(), c.position) << c.done << " of " << c.total;
  }
}

TEST_F(Plan, TheTotalBarCountsThousandsOfBytesLeftInTheFileSteps) {
  const struct {
    const char* what;
    std::vector<uint32_t> sizes;      // of a.bin, b.bin
    std::vector<uint32_t> bytesDone;  // of each, then the bar updated
    uint32_t totalWork;
    int position;
  } cases[] = {
      {"nothing sent", {250000, 50000}, {0, 0}, 300, 0},
      {"a part of one file", {250000, 50000}, {100000, 0}, 300, 333},
      {"one file of two", {250000, 50000}, {250000, 0}, 300, 833},
      {"everything", {250000, 50000}, {250000, 50000}, 300, 1000},
      // A file that grew after the plan was made counts as done, never as more than done.
      {"more than the file held", {250000, 50000}, {400000, 0}, 300, 833},
      {"files under a thousand bytes in all", {400, 500}, {400, 500}, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(site.Base() + "/pc/BSP");
    site.WritePayload("a.bin", PatternBytes(c.sizes[0], 1));
    site.WritePayload("b.bin", PatternBytes(c.sizes[1], 2));
    DeviceRecord device = Device(9);
    CUpdateDlg dialog(nullptr, &device);
    dialog.TotalBar().SetRange(0, 1000);  // as the dialog sets it when it shows
    EXPECT_EQ(dialog.GetTotalWork(), c.totalWork);
    CVRObList::POSITION at = dialog.Steps().GetHeadPosition();
    while (at) {
      if (auto* file = dynamic_cast<CCopyFile*>(static_cast<CUpdateProc*>(dialog.Steps().GetNext(at)))) {
        file->bytesDone = c.bytesDone[file->localName == "a.bin" ? 0 : 1];
      }
    }
    dialog.UpdateTotalProgress();
    EXPECT_EQ(dialog.TotalBar().GetPos(), c.position);
  }
}

TEST_F(Plan, AVerdictForAnEmptyLogBecomesItsFirstLineAndOtherwiseJoinsTheLastLine) {
  DeviceRecord device = Device(3, 1);
  CUpdateDlg dialog(nullptr, &device);
  dialog.AppendLog(" OK");
  dialog.AddLog("Checking File: BSP/UPGRADE\\a.bin");
  dialog.AppendLog("  CheckSum OK");
  ASSERT_EQ(dialog.LogList().GetCount(), 2);
  EXPECT_EQ(dialog.LogList().GetText(0), " OK");
  EXPECT_EQ(dialog.LogList().GetText(1), "Checking File: BSP/UPGRADE\\a.bin  CheckSum OK");
  EXPECT_EQ(dialog.LogList().GetCurSel(), 1);
}

}  // namespace
