// How an upgrade fails, step by step: a shell line left unanswered, a file the controller refuses,
// a connection that drops in the middle of a file, a payload file that cannot be read, and a
// controller that does not come back after its upgrade script. Each ends with its own lines, the
// verdict and "Done", and nothing after the failed step reaches the controller.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/services.h"
#include "tests/scenario/upgrade_lines.h"
#include "tests/scenario/upgrade_scene.h"
#include "tests/support/fake_controllers.h"
#include "upgrade/pkglift_operations.h"

namespace {

using testing_support::Append;
using testing_support::FileSent;
using testing_support::kRunFailed;
using testing_support::kShellSteps;
using testing_support::Lines;
using testing_support::Opening;
using testing_support::PatternBytes;
using testing_support::ShellsAnswered;
using testing_support::UpgradeScene;

constexpr char kLinuxType[] = "r5 i.MX6";
constexpr char kRefused[] = "Cannot Send File, refused by gateway";

std::string Checking(const std::string& name) { return "Checking File: BSP/UPGRADE\\" + name + "  Changes Detected "; }
std::string Transfer(const std::string& name) { return "Transfer File: BSP/UPGRADE\\" + name; }

// The differences between neighbours.
std::vector<uint32_t> Gaps(const std::vector<uint32_t>& ticks) {
  std::vector<uint32_t> gaps;
  for (size_t i = 1; i < ticks.size(); ++i) gaps.push_back(ticks[i] - ticks[i - 1]);
  return gaps;
}

// The files of the simulated world, except that reading one file from a given offset on fails: a
// failing read first moves the file position halfway through what was asked, as a read cut short
// by a bad sector does, and then reports kReadError. After `failures` such reads (-1: never) the
// file reads normally again.
class FlakyFiles : public platform::FileService {
 public:
  static constexpr int kReadError = EIO;

  FlakyFiles(platform::sim::World& world, std::string name, int64_t failFrom, int failures)
      : inner(platform::Files()),
        name(std::move(name)),
        failFrom(failFrom),
        failuresLeft(failures),
        previous(platform::Install(platform::Services{&world, &world, this})) {}
  ~FlakyFiles() override { platform::Install(previous); }

  // The ticks of the reads that failed.
  std::vector<uint32_t> failedReads;

  platform::File OpenFile(const std::string& path, platform::Access access,
                          platform::Disposition disposition) override {
    failedLast = false;
    platform::File f = inner.OpenFile(path, access, disposition);
    bool ours = path.size() >= name.size() && path.compare(path.size() - name.size(), name.size(), name) == 0;
    if (f != platform::kInvalidFile && ours) watched.insert(f);
    return f;
  }
  int ReadFile(platform::File f, void* buffer, uint32_t size, uint32_t* done) override {
    failedLast = false;
    if (!watched.count(f) || failuresLeft == 0 || inner.SeekFile(f, 0, platform::SeekOrigin::Current) < failFrom) {
      return inner.ReadFile(f, buffer, size, done);
    }
    inner.ReadFile(f, buffer, size / 2, done);
    if (failuresLeft > 0) --failuresLeft;
    failedReads.push_back(platform::GetTickCount());
    failedLast = true;
    return 0;
  }
  int WriteFile(platform::File f, const void* data, uint32_t size, uint32_t* done) override {
    failedLast = false;
    return inner.WriteFile(f, data, size, done);
  }
  int64_t SeekFile(platform::File f, int64_t distance, platform::SeekOrigin origin) override {
    failedLast = false;
    return inner.SeekFile(f, distance, origin);
  }
  int64_t GetFileSize(platform::File f) override {
    failedLast = false;
    return inner.GetFileSize(f);
  }
  int CloseFile(platform::File f) override {
    failedLast = false;
    watched.erase(f);
    return inner.CloseFile(f);
  }
  int ListDirectory(const std::string& folder, std::vector<platform::DirectoryEntry>* entries) override {
    failedLast = false;
    return inner.ListDirectory(folder, entries);
  }
  int CopyFile(const std::string& from, const std::string& to, bool failIfExists) override {
    failedLast = false;
    return inner.CopyFile(from, to, failIfExists);
  }
  uint32_t GetFileAttributes(const std::string& path) override {
    failedLast = false;
    return inner.GetFileAttributes(path);
  }
  int SetFileAttributes(const std::string& path, uint32_t attributes) override {
    failedLast = false;
    return inner.SetFileAttributes(path, attributes);
  }
  std::string GetCurrentDirectory() override { return inner.GetCurrentDirectory(); }
  int SetCurrentDirectory(const std::string& path) override { return inner.SetCurrentDirectory(path); }
  int GetLastError() override { return failedLast ? kReadError : inner.GetLastError(); }

 private:
  platform::FileService& inner;
  const std::string name;
  const int64_t failFrom;
  int failuresLeft;
  std::set<platform::File> watched;
  bool failedLast = false;
  platform::Services previous;
};

// ---------------------------------------------------------------------------------------------
// shell lines

TEST(UpgradeFailures, AShellLineLeftUnansweredFailsItsStepAfterSixtySecondsAndNothingAfterItRuns) {
  const struct { int operation; } cases[] = {{1}, {5}, {6}};
  for (const auto& c : cases) {
    SCOPED_TRACE("operation " + std::to_string(c.operation));
    const testing_support::ShellStep& step = kShellSteps[c.operation - 1];
    UpgradeScene scene;
    scene.site.Config().faults.ignoredCommands = {step.command};
    scene.site.WritePayload("a.bin", PatternBytes(3000, 1));
    scene.Run();

    Lines expected = Opening(kLinuxType);
    Append(expected, ShellsAnswered(1, std::min(c.operation - 1, 5)));
    if (c.operation > 5) Append(expected, FileSent("a.bin"));
    Append(expected, ShellsAnswered(6, c.operation - 1));
    Append(expected, {"Executing [" + std::string(step.command) + "] ...", step.wait, step.failure, kRunFailed});
    EXPECT_EQ(scene.installer.atClose.log, expected);
    EXPECT_EQ(scene.installer.atClose.button, "Done");
    ASSERT_EQ(scene.installer.boxes.size(), 1u) << "a run that failed speaks for itself";

    const uint32_t asked = scene.TickOf("Executing [" + std::string(step.command) + "] ...");
    const uint32_t failed = scene.TickOf(step.failure);
    EXPECT_GE(failed - asked, 60000u);
    EXPECT_LE(failed - asked, 60100u);
    EXPECT_GE(scene.TickOf(kRunFailed) - failed, 5000u);
    EXPECT_LE(scene.TickOf(kRunFailed) - failed, 5000u + kStepPeriodMs);

    // The controller heard every line up to the unanswered one, and no request after it.
    Lines commands;
    for (int operation = 1; operation <= c.operation; ++operation) {
      commands.push_back(kShellSteps[operation - 1].command);
    }
    EXPECT_EQ(scene.site.CommandsReceived(), commands);
    std::vector<int> codes = scene.site.RequestCodes();
    ASSERT_FALSE(codes.empty());
    EXPECT_EQ(codes.back(), 8376);
    EXPECT_EQ(scene.site.LogLinesWith(" no answer (fault)").size(), 1u);
  }
}

// ---------------------------------------------------------------------------------------------
// files the controller refuses

TEST(UpgradeFailures, AFileRefusedFiveTimesOneAndAHalfSecondsApartFailsTheUpgrade) {
  UpgradeScene scene;
  scene.site.Config().faults.refusedFiles = {"BSP/UPGRADE\\a.bin"};
  scene.site.WritePayload("a.bin", PatternBytes(20000, 1));
  scene.Run();

  Lines expected = Opening(kLinuxType);
  Append(expected, ShellsAnswered(1, 5));
  for (int attempt = 0; attempt < 5; ++attempt) Append(expected, {Checking("a.bin"), Transfer("a.bin"), kRefused});
  expected.push_back(kRunFailed);
  EXPECT_EQ(scene.installer.atClose.log, expected);
  EXPECT_EQ(scene.installer.atClose.button, "Done");
  EXPECT_EQ(scene.installer.boxes.size(), 1u);

  std::vector<uint32_t> announced = scene.site.TicksOf("request 14032");
  ASSERT_EQ(announced.size(), 5u);
  for (uint32_t gap : Gaps(announced)) {
    EXPECT_GE(gap, 1500u);
    EXPECT_LE(gap, 1550u);
  }
  EXPECT_EQ(scene.site.CommandsReceived().size(), 5u) << "operation 6 never ran";
  EXPECT_FALSE(scene.site.OnController("a.bin"));
}

TEST(UpgradeFailures, ThePlayerRefusedOnceIsGivenUpWithAWarningAndTheUpgradeCompletes) {
  for (const char* name : {"VRPLAYER.EXE", "vrplayer.exe", "VrPlayer.Exe"}) {
    SCOPED_TRACE(name);
    UpgradeScene scene;
    scene.site.Config().faults.refusedFiles = {std::string("BSP/UPGRADE\\") + name};
    scene.site.WritePayload(name, PatternBytes(20000, 1));
    scene.Run();

    Lines expected = Opening(kLinuxType);
    Append(expected, ShellsAnswered(1, 5));
    Append(expected, {Checking(name), Transfer(name), kRefused, "WARNING: Failed to update VRPLAYER.EXE"});
    Append(expected, ShellsAnswered(6, 7));
    Append(expected, testing_support::ReturnSeenAndCompleted());
    EXPECT_EQ(scene.installer.atClose.log, expected);
    EXPECT_EQ(scene.installer.atClose.button, "OK");
    EXPECT_EQ(scene.installer.boxes.size(), 1u);
    EXPECT_EQ(scene.site.TicksOf("request 14032").size(), 1u) << "no second attempt";
  }
}

// ---------------------------------------------------------------------------------------------
// the connection and the payload

TEST(UpgradeFailures, AConnectionDroppedInTheMiddleOfAFileFailsItsRetriesAndTheUpgrade) {
  UpgradeScene scene;
  scene.site.Config().faults.dropAfterChunkBytes = 150000;
  scene.site.WritePayload("big.bin", PatternBytes(1000000, 3));
  scene.Run();

  Lines expected = Opening(kLinuxType);
  Append(expected, ShellsAnswered(1, 5));
  Append(expected, {Checking("big.bin"), Transfer("big.bin") + " Error Sending Chunk"});
  // Every attempt after the drop meets a dead session: nothing is compared, nothing announced.
  for (int attempt = 1; attempt < 5; ++attempt) Append(expected, {Checking("big.bin"), Transfer("big.bin"), kRefused});
  expected.push_back(kRunFailed);
  EXPECT_EQ(scene.installer.atClose.log, expected);
  EXPECT_EQ(scene.installer.atClose.button, "Done");

  EXPECT_EQ(scene.site.TicksOf("request 14032").size(), 1u);
  EXPECT_EQ(scene.site.LogLinesWith("upload of BSP/UPGRADE\\big.bin cut short at 150000 of 1000000 bytes").size(), 1u);
  EXPECT_EQ(scene.site.StoredOnController("big.bin").size(), 150000u);
  EXPECT_EQ(scene.site.CommandsReceived().size(), 5u);
}

TEST(UpgradeFailures, AChunkThatCannotBeReadIsTriedFiveTimesHalfASecondApartInEachOfFiveAttempts) {
  UpgradeScene scene;
  scene.site.WritePayload("big.bin", PatternBytes(250000, 3));
  FlakyFiles files(scene.world, "big.bin", 100000, -1);
  scene.Run();

  const std::string readError =
      "Error Reading 100000 bytes at 100000 of 250000 ERROR = " + std::to_string(FlakyFiles::kReadError);
  Lines expected = Opening(kLinuxType);
  Append(expected, ShellsAnswered(1, 5));
  for (int attempt = 0; attempt < 5; ++attempt) {
    Append(expected, {Checking("big.bin"), Transfer("big.bin")});
    for (int tries = 0; tries < 5; ++tries) expected.push_back(readError);
  }
  expected.push_back(kRunFailed);
  EXPECT_EQ(scene.installer.atClose.log, expected);
  EXPECT_EQ(scene.installer.atClose.button, "Done");

  ASSERT_EQ(files.failedReads.size(), 25u);
  std::vector<uint32_t> gaps = Gaps(files.failedReads);
  for (size_t i = 0; i < gaps.size(); ++i) {
    SCOPED_TRACE("after failed read " + std::to_string(i + 1));
    if ((i + 1) % 5 != 0) {
      EXPECT_EQ(gaps[i], 500u);
    } else {
      // The last try's pause, then the pause between attempts.
      EXPECT_GE(gaps[i], 500u + 1500u);
      EXPECT_LE(gaps[i], 500u + 1500u + 100u);
    }
  }
  EXPECT_EQ(scene.site.TicksOf("request 14032").size(), 5u);
  EXPECT_EQ(scene.site.CommandsReceived().size(), 5u);
}

TEST(UpgradeFailures, AChunkReadThatFailsOnceIsReadAgainFromTheChunksStartSoTheControllerGetsTheFile) {
  UpgradeScene scene;
  const std::vector<uint8_t> big = PatternBytes(250000, 3);
  scene.site.WritePayload("big.bin", big);
  FlakyFiles files(scene.world, "big.bin", 100000, 1);
  scene.Run();

  Lines expected = Opening(kLinuxType);
  Append(expected, ShellsAnswered(1, 5));
  // The file's " OK" goes behind the last line, which is the read error by then.
  Append(expected,
         {Checking("big.bin"), Transfer("big.bin"),
          "Error Reading 100000 bytes at 100000 of 250000 ERROR = " + std::to_string(FlakyFiles::kReadError) + " OK"});
  Append(expected, ShellsAnswered(6, 7));
  Append(expected, testing_support::ReturnSeenAndCompleted());
  EXPECT_EQ(scene.installer.atClose.log, expected);
  EXPECT_EQ(scene.installer.atClose.button, "OK");
  EXPECT_EQ(files.failedReads.size(), 1u);
  EXPECT_EQ(scene.site.StoredOnController("big.bin"), big);
}

// ---------------------------------------------------------------------------------------------
// the wait for the controller's return

TEST(UpgradeFailures, AControllerThatNeverComesBackIsWaitedForTenMinutesAndTheUpgradeFails) {
  UpgradeScene scene;
  scene.site.Config().faults.neverReturn = true;
  scene.site.WritePayload("upgrade.sh", {'e', 'c', 'h', 'o', '\n'});
  scene.installer.awaitRelisting = false;
  scene.Run();

  Lines expected = Opening(kLinuxType);
  Append(expected, ShellsAnswered(1, 5));
  Append(expected, FileSent("upgrade.sh"));
  Append(expected, ShellsAnswered(6, 7));
  Append(expected, {testing_support::kReturnInitiated, testing_support::kReturnWaiting, kRunFailed});
  EXPECT_EQ(scene.installer.atClose.log, expected);
  EXPECT_EQ(scene.installer.atClose.button, "Done");
  EXPECT_EQ(scene.installer.boxes.size(), 1u);

  const uint32_t scriptAnswered = scene.TickOf("Operation [sh /MIRU/BSP/UPGRADE/upgrade.sh &] success");
  const uint32_t waiting = scene.TickOf(testing_support::kReturnInitiated);
  const uint32_t verdict = scene.TickOf(kRunFailed);
  EXPECT_GE(waiting - scriptAnswered, 2000u);
  EXPECT_LE(waiting - scriptAnswered, 2000u + 2 * kStepPeriodMs);
  // 3000 passes of 200 ms, then the failure report's pause.
  EXPECT_GE(verdict - waiting, 3000u * 200u + 5000u);
  EXPECT_LE(verdict - waiting, 3000u * 200u + 5000u + 1000u);
  EXPECT_EQ(scene.site.Controller().UpgradeRuns(), 1);
  EXPECT_FALSE(scene.site.Controller().OnAir());
}

TEST(UpgradeFailures, TheWaitEndsAtTheFirstPassesAfterTheControllerIsBack) {
  UpgradeScene scene;
  scene.site.Config().rebootSeconds = 40;
  scene.site.WritePayload("upgrade.sh", {'e', 'c', 'h', 'o', '\n'});
  scene.Run();

  EXPECT_EQ(scene.installer.atClose.button, "OK");
  std::vector<uint32_t> back = scene.site.TicksOf("back on the air");
  ASSERT_EQ(back.size(), 1u);
  const uint32_t seen = scene.TickOf(testing_support::kReturnSeen);
  ASSERT_NE(seen, 0u);
  EXPECT_GT(seen, back[0]);
  EXPECT_LE(seen - back[0], 2 * kReturnPassSleepMs);
  const uint32_t scriptAnswered = scene.TickOf("Operation [sh /MIRU/BSP/UPGRADE/upgrade.sh &] success");
  EXPECT_GE(seen - scriptAnswered, 40000u) << "the wait lasted the reboot";
}

TEST(UpgradeFailures, AnswersOfAnotherControllerNeverEndTheWait) {
  UpgradeScene scene;
  scene.site.Config().faults.neverReturn = true;
  scene.site.WritePayload("upgrade.sh", {'e', 'c', 'h', 'o', '\n'});
  testing_support::FakeControllers others(scene.world);
  testing_support::FakeController& other = others.Add(testing_support::Controller(30, 9, 0, "0050C2000099"));
  scene.installer.awaitRelisting = false;
  scene.Run();

  const Lines& log = scene.installer.atClose.log;
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(Lines(log.end() - 3, log.end()),
            (Lines{testing_support::kReturnInitiated, testing_support::kReturnWaiting, kRunFailed}));
  EXPECT_EQ(scene.installer.atClose.button, "Done");
  // The other controller heard, and answered, the probe of every pass.
  EXPECT_GE(other.probesSeen, 3000);
}

TEST(UpgradeFailures, AControllerBackAfterMinutesIsSeenAmongOthersThatAnswerEveryProbe) {
  // Three other controllers answer each probe the wait sends; their answers pile up far faster
  // than one a pass, so the target's own, once it is back, must not wait behind them or be lost.
  UpgradeScene scene;
  scene.site.Config().rebootSeconds = 300;
  scene.site.WritePayload("upgrade.sh", {'e', 'c', 'h', 'o', '\n'});
  testing_support::FakeControllers others(scene.world);
  for (uint8_t last : {30, 31, 32}) {
    others.Add(testing_support::Controller(last, 9, 0, ("0050C20000" + std::to_string(last)).c_str()));
  }
  scene.installer.awaitRelisting = false;
  scene.Run();

  EXPECT_EQ(scene.installer.atClose.button, "OK");
  std::vector<uint32_t> back = scene.site.TicksOf("back on the air");
  ASSERT_EQ(back.size(), 1u);
  const uint32_t seen = scene.TickOf(testing_support::kReturnSeen);
  ASSERT_NE(seen, 0u) << "the controller came back, yet the wait did not see it";
  EXPECT_LE(seen - back[0], 2 * kReturnPassSleepMs);
}

}  // namespace
