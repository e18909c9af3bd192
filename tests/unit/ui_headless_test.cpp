#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/services.h"
#include "platform/socket.h"
#include "tests/support/fake_clock.h"
#include "tests/support/scripted_person.h"
#include "tests/support/test_world.h"
#include "ui/dialog.h"
#include "ui/headless/headless_backend.h"

namespace {

using ui::ControlKind;
using ui::headless::HeadlessBackend;

using testing_support::Click;
using testing_support::End;
using testing_support::FakeClock;
using testing_support::Press;
using testing_support::ScriptedPerson;

constexpr int kDeviceList = 1001;
constexpr int kPlainList = 1002;

ui::ControlTemplate Control(int id, ControlKind kind, const char* text, uint32_t style) {
  return ui::ControlTemplate{id, kind, text, 0, 0, 50, 14, style};
}

ui::DialogTemplate Layout(std::vector<ui::ControlTemplate> controls) {
  ui::DialogTemplate layout;
  layout.controls = std::move(controls);
  return layout;
}

// A list first, then a default button and Cancel: Enter means the default button unless the focus
// is on Cancel.
ui::DialogTemplate ChooserLayout() {
  return Layout({Control(ui::kStaticId, ControlKind::GroupBox, "Select", 0),
                 Control(kDeviceList, ControlKind::ListBox, "", ui::kSorted | ui::kNotify),
                 Control(ui::IDOK, ControlKind::PushButton, "Start", ui::kDefaultButton),
                 Control(ui::IDCANCEL, ControlKind::PushButton, "Cancel", 0),
                 Control(kPlainList, ControlKind::ListBox, "", 0)});
}

// Cancel first and no default button: Enter means Cancel until the focus moves to the log.
ui::DialogTemplate ProgressLayout() {
  return Layout({Control(ui::IDCANCEL, ControlKind::PushButton, "Cancel", 0),
                 Control(1007, ControlKind::ProgressBar, "", 0),
                 Control(1009, ControlKind::ListBox, "", ui::kNotify)});
}

// Records commands, selection changes and keys; commands end nothing unless `endOnCommand`.
class RecordingDialog : public ui::Dialog {
 public:
  RecordingDialog(const ui::DialogTemplate& layout, ui::Dialog* parent = nullptr) : ui::Dialog(layout, parent) {}

  int OnInitDialog() override {
    if (onInit) onInit();
    return 1;
  }
  int PreTranslateMessage(const ui::Message& message) override {
    keys.push_back(message.key);
    if (message.key == takenKey) return 1;
    return ui::Dialog::PreTranslateMessage(message);
  }
  void OnCommand(int id) override {
    commands.push_back(id);
    if (onCommand) onCommand(id);
    if (endOnCommand) ui::Dialog::OnCommand(id);
  }
  void OnSelChange(int id) override {
    selChanges.push_back(id);
    if (onSelChange) onSelChange(id);
  }

  std::function<void()> onInit;
  std::function<void(int)> onCommand;
  std::function<void(int)> onSelChange;
  bool endOnCommand = false;
  uint32_t takenKey = 0;
  std::vector<uint32_t> keys;
  std::vector<int> commands;
  std::vector<int> selChanges;
};

class Headless : public ::testing::Test {
 protected:
  // Runs the dialog, letting the person act, and ends it once the script is done.
  int Run(ui::Dialog& dialog) {
    person.Then(End(0));
    return dialog.DoModal();
  }

  FakeClock clock;
  ScriptedPerson person;
  HeadlessBackend backend{&person};
  ui::ScopedBackend installed{backend};
};

TEST_F(Headless, DialogKeysGiveTheCommandsOfTheFocusedOrDefaultButton) {
  struct Case {
    const char* name;
    ui::DialogTemplate layout;
    int focus;  // 0: where OnInitDialog's default put it
    bool disableDefault;
    uint32_t key;
    std::vector<int> commands;
  };
  const Case cases[] = {
      {"Enter in the list", ChooserLayout(), 0, false, ui::VK_RETURN, {ui::IDOK}},
      {"Enter on Cancel", ChooserLayout(), ui::IDCANCEL, false, ui::VK_RETURN, {ui::IDCANCEL}},
      {"Enter with the default button disabled", ChooserLayout(), 0, true, ui::VK_RETURN, {}},
      {"Escape", ChooserLayout(), 0, false, ui::VK_ESCAPE, {ui::IDCANCEL}},
      {"a function key", ChooserLayout(), 0, false, ui::VK_F5, {}},
      {"Enter without a default button, focus on Cancel", ProgressLayout(), 0, false, ui::VK_RETURN, {ui::IDCANCEL}},
      {"Enter without a default button, focus in the log", ProgressLayout(), 1009, false, ui::VK_RETURN, {ui::IDOK}},
  };
  for (const Case& c : cases) {
    RecordingDialog dialog(c.layout);
    if (c.disableDefault) dialog.GetButton(ui::IDOK)->EnableWindow(false);
    ScriptedPerson keys;
    keys.Then([&](HeadlessBackend& ui) {
          if (c.focus) {
            ASSERT_EQ(ui.ActiveDialog()->SetFocusId(c.focus), 1);
          }
          ASSERT_EQ(ui.PressKey(c.key), 1);
        })
        .Then(End(0));
    backend.SetDriver(&keys);
    dialog.DoModal();
    EXPECT_EQ(dialog.commands, c.commands) << c.name;
    backend.SetDriver(&person);
  }
}

TEST_F(Headless, PreTranslateMessageSeesKeysBeforeTheDialogKeys) {
  RecordingDialog dialog(ChooserLayout());
  dialog.takenKey = ui::VK_ESCAPE;
  dialog.endOnCommand = true;
  person.Then(Press(ui::VK_ESCAPE)).Then(Press(ui::VK_F2)).Then(Press(ui::VK_RETURN));
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(dialog.keys, (std::vector<uint32_t>{ui::VK_ESCAPE, ui::VK_F2, ui::VK_RETURN}));
  EXPECT_EQ(dialog.commands, std::vector<int>{ui::IDOK});
}

TEST_F(Headless, APersonSelectsLinesAndClicksOnlyEnabledButtons) {
  RecordingDialog dialog(ChooserLayout());
  dialog.endOnCommand = true;
  dialog.onInit = [&] {
    dialog.GetListBox(kDeviceList)->AddString("controller");
    dialog.GetListBox(kPlainList)->AddString("quiet");
    dialog.GetButton(ui::IDOK)->EnableWindow(false);
  };
  dialog.onSelChange = [&](int) { dialog.GetButton(ui::IDOK)->EnableWindow(true); };
  std::vector<int> answers;
  person
      .Then([&](HeadlessBackend& ui) {
        answers.push_back(ui.ClickButton(ui::IDOK));
        answers.push_back(ui.SelectItem(kPlainList, 0));  // no notification
        answers.push_back(ui.SelectItem(kDeviceList, 1));
      })
      .Then([&](HeadlessBackend& ui) {
        answers.push_back(ui.SelectItem(kDeviceList, 0));
        EXPECT_EQ(ui.ActiveDialog()->GetFocusId(), kDeviceList);
      })
      .Then([&](HeadlessBackend& ui) { answers.push_back(ui.ClickButton(ui::IDOK)); });

  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(answers, (std::vector<int>{0, 1, 0, 1, 1}));
  EXPECT_EQ(dialog.selChanges, std::vector<int>{kDeviceList});
  EXPECT_EQ(dialog.GetListBox(kPlainList)->GetCurSel(), 0);
  EXPECT_EQ(dialog.GetListBox(kDeviceList)->GetCurSel(), 0);
}

TEST_F(Headless, InputGoesToTheTopmostDialog) {
  RecordingDialog parent(ChooserLayout());
  RecordingDialog child(ProgressLayout(), &parent);
  parent.endOnCommand = true;
  child.endOnCommand = true;
  int childResult = 0;
  parent.onInit = [&] { ui::PostMessage(ui::Message{ui::MessageKind::Command, &parent, 100, 0}); };
  parent.onCommand = [&](int id) {
    if (id == 100) childResult = child.DoModal();
  };
  person
      .Then([&](HeadlessBackend& ui) {
        EXPECT_EQ(ui.Dialogs(), (std::vector<ui::Dialog*>{&parent, &child}));
        ui.PressKey(ui::VK_ESCAPE);
      })
      .Then([&](HeadlessBackend& ui) {
        EXPECT_EQ(ui.ActiveDialog(), &parent);
        ui.PressKey(ui::VK_RETURN);
      });

  EXPECT_EQ(parent.DoModal(), ui::IDOK);
  EXPECT_EQ(childResult, ui::IDCANCEL);
  EXPECT_TRUE(backend.Dialogs().empty());
}

TEST_F(Headless, MessageBoxesAreAnsweredByTheDriverAndRecorded) {
  const std::string warning = "Warning: proceed?\n\nClick Yes below.\n";
  person.Answer(ui::IDYES);
  EXPECT_EQ(ui::MessageBox(warning, ui::MB_YESNO | ui::MB_ICONHAND), ui::IDYES);

  backend.SetDriver(nullptr);
  EXPECT_EQ(ui::MessageBox(warning, ui::MB_YESNO | ui::MB_ICONHAND), ui::IDNO);
  EXPECT_EQ(ui::MessageBox("ERROR: done"), ui::IDOK);

  ASSERT_EQ(backend.MessageBoxes().size(), 3u);
  const ui::headless::ShownMessageBox& first = backend.MessageBoxes()[0];
  EXPECT_EQ(first.text, warning);
  EXPECT_EQ(first.style, ui::MB_YESNO | ui::MB_ICONHAND);
  EXPECT_EQ(first.answer, ui::IDYES);
  EXPECT_EQ(backend.MessageBoxes()[1].answer, ui::IDNO);
  EXPECT_EQ(backend.MessageBoxes()[2].text, "ERROR: done");
  EXPECT_EQ(backend.MessageBoxes()[2].style, ui::MB_OK);
  EXPECT_EQ(backend.MessageBoxes()[2].answer, ui::IDOK);

  ui::SetBackend(nullptr);
  EXPECT_EQ(ui::MessageBox("nobody sees this"), 0);
  ui::SetBackend(&backend);
}

TEST_F(Headless, RepaintsAreCountedWhileTheWindowExists) {
  RecordingDialog dialog(ProgressLayout());
  dialog.UpdateWindow();
  dialog.onInit = [&] {
    dialog.UpdateWindow();
    dialog.UpdateWindow();
  };
  Run(dialog);
  dialog.UpdateWindow();
  EXPECT_EQ(backend.RepaintCount(dialog), 2);
}

TEST_F(Headless, AnIdleModalLoopLetsTimeMoveInSmallSlices) {
  // The script does not say when it acts: the default is a look every slice.
  RecordingDialog dialog(ProgressLayout());
  std::vector<uint32_t> seen;
  for (int look = 0; look < 5; ++look) person.Then([&](HeadlessBackend&) { seen.push_back(clock.now); });
  Run(dialog);
  ASSERT_EQ(seen.size(), 5u);
  for (size_t i = 1; i < seen.size(); ++i) {
    EXPECT_GT(seen[i], seen[i - 1]);
    EXPECT_LE(seen[i] - seen[i - 1], HeadlessBackend::kIdleSliceMs);
  }
}

// A dialog with one timer, which notes each time it fires; it ends on Cancel, or on its timer when
// `endOnTimer`.
class TimerDialog : public RecordingDialog {
 public:
  TimerDialog(uint32_t periodMs, const FakeClock& clock)
      : RecordingDialog(ProgressLayout()), periodMs(periodMs), clock(clock) {
    endOnCommand = true;
  }
  int OnInitDialog() override {
    SetTimer(1, periodMs);
    return RecordingDialog::OnInitDialog();
  }
  void OnTimer(int) override {
    fired.push_back(clock.now);
    if (endOnTimer) EndDialog(0);
  }

  bool endOnTimer = false;
  std::vector<uint32_t> fired;

 private:
  uint32_t periodMs;
  const FakeClock& clock;
};

TEST_F(Headless, AnIdleModalLoopSleepsUntilTheSoonerOfTheNextTimerAndTheDriversMoment) {
  constexpr uint32_t kMinuteMs = 60 * 1000;
  struct Case {
    const char* name;
    uint32_t timerMs;
    std::optional<uint32_t> clickAtMs;  // none: no driver, the first timer ends the dialog
    uint32_t endsAtMs;
    int sleeps;  // in slices of kIdleSliceMs, ten minutes would be 60,000
    size_t fired;
  };
  const Case cases[] = {
      {"a driver acting when the timer is due", 10 * kMinuteMs, 10 * kMinuteMs, 10 * kMinuteMs, 1, 0},
      {"a driver acting before the timer", 10 * kMinuteMs, 3 * kMinuteMs, 3 * kMinuteMs, 1, 0},
      {"a timer due each minute before the driver acts", kMinuteMs, 10 * kMinuteMs, 10 * kMinuteMs, 10, 9},
      {"no driver, a timer that ends the dialog", 10 * kMinuteMs, std::nullopt, 10 * kMinuteMs, 1, 1},
  };
  for (const Case& c : cases) {
    const uint32_t start = clock.now;
    ScriptedPerson alarm;  // says when it clicks Cancel
    if (c.clickAtMs) alarm.At(*c.clickAtMs, Click(ui::IDCANCEL));
    backend.SetDriver(c.clickAtMs ? &alarm : nullptr);
    TimerDialog dialog(c.timerMs, clock);
    dialog.endOnTimer = !c.clickAtMs;
    clock.sleeps = 0;

    dialog.DoModal();

    EXPECT_EQ(clock.now - start, c.endsAtMs) << c.name;
    EXPECT_EQ(clock.sleeps, c.sleeps) << c.name;
    EXPECT_EQ(dialog.fired.size(), c.fired) << c.name;
    EXPECT_EQ(dialog.commands, c.clickAtMs ? std::vector<int>{ui::IDCANCEL} : std::vector<int>{}) << c.name;
    backend.SetDriver(&person);
  }
}

TEST(HeadlessWait, ALoopWithNoTimerAndNoMomentToWaitForStillLooksEverySliceForWhatTheLanDid) {
  for (bool withDriver : {false, true}) {
    testing_support::TestWorld world;
    world.AddHost("pc", platform::MakeAddress(10, 0, 0, 2));
    // With nothing left to do, a person waits for something else; nothing else comes in a headless
    // run but the LAN's events.
    ScriptedPerson patient;
    HeadlessBackend backend(withDriver ? &patient : nullptr);
    ui::ScopedBackend installed(backend);
    RecordingDialog dialog(ProgressLayout());
    world.Schedule(5000, [&] { dialog.EndDialog(7); });

    EXPECT_EQ(dialog.DoModal(), 7) << withDriver;
    EXPECT_GE(world.NowMs(), 5000u) << withDriver;
    EXPECT_LE(world.NowMs(), 5000u + HeadlessBackend::kIdleSliceMs) << withDriver;
  }
}

}  // namespace
