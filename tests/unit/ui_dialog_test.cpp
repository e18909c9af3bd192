#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/services.h"
#include "tests/support/fake_clock.h"
#include "ui/dialog.h"
#include "ui/headless/headless_backend.h"

namespace {

using testing_support::FakeClock;

// A dialog whose handlers are set by the test; it records what reached it, in order.
class ScriptedDialog : public ui::Dialog {
 public:
  explicit ScriptedDialog(std::vector<std::string>& events, ui::Dialog* parent = nullptr)
      : ui::Dialog(ui::DialogTemplate(), parent), events(events) {}

  int OnInitDialog() override {
    if (onInit) onInit();
    return 1;
  }
  void OnTimer(int id) override {
    events.push_back(name + " timer " + std::to_string(id));
    if (onTimer) onTimer(id);
  }
  void OnCommand(int id) override {
    events.push_back(name + " command " + std::to_string(id));
    if (onCommand) onCommand(id);
  }
  void OnSelChange(int id) override { events.push_back(name + " selchange " + std::to_string(id)); }

  std::string name = "dialog";
  std::function<void()> onInit;
  std::function<void(int)> onTimer;
  std::function<void(int)> onCommand;

 private:
  std::vector<std::string>& events;
};

ui::Message Command(ui::Dialog& target, int id) { return ui::Message{ui::MessageKind::Command, &target, id, 0}; }

class DialogLoop : public ::testing::Test {
 protected:
  FakeClock clock;
  ui::headless::HeadlessBackend backend;
  ui::ScopedBackend installed{backend};
  std::vector<std::string> events;
};

TEST_F(DialogLoop, EndDialogFromATimerHandlerEndsDoModalWithItsResultAndStopsItsTimers) {
  ScriptedDialog dialog(events);
  dialog.onInit = [&] { dialog.SetTimer(1, 100); };
  dialog.onTimer = [&](int) { dialog.EndDialog(42); };

  EXPECT_EQ(dialog.DoModal(), 42);
  EXPECT_FALSE(dialog.HasWindow());
  clock.Sleep(1000);
  EXPECT_EQ(ui::PumpMessage(), 0);
  EXPECT_EQ(events, std::vector<std::string>{"dialog timer 1"});
}

TEST_F(DialogLoop, TimersFireOnTheirPeriodAndSetTimerAgainRestartsIt) {
  ScriptedDialog dialog(events);
  std::vector<uint32_t> ticks;
  const uint32_t shown = clock.now;
  dialog.onInit = [&] { dialog.SetTimer(1, 5000); };
  dialog.onTimer = [&](int id) {
    ticks.push_back(clock.now - shown);
    if (ticks.size() == 1) {
      EXPECT_EQ(dialog.KillTimer(id), 1);
      dialog.SetTimer(id, 10);
    }
    if (ticks.size() == 3) {
      dialog.KillTimer(id);
      EXPECT_EQ(dialog.KillTimer(id), 0);
      dialog.EndDialog(ui::IDOK);
    }
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(ticks, (std::vector<uint32_t>{5000, 5010, 5020}));
}

TEST_F(DialogLoop, ChildRunsModallyInsideTheParentsHandlerWhileTheParentsTimerKeepsFiring) {
  ScriptedDialog parent(events);
  parent.name = "parent";
  ScriptedDialog child(events, &parent);
  child.name = "child";
  int parentTicksDuringChild = 0;
  int childResult = 0;

  parent.onInit = [&] { parent.SetTimer(1, 100); };
  parent.onTimer = [&](int) {
    if (child.HasWindow()) {
      ++parentTicksDuringChild;
      return;
    }
    childResult = child.DoModal();  // this handler stays inside until the child ends
    parent.EndDialog(ui::IDCANCEL);
  };
  child.onInit = [&] { child.SetTimer(1, 1000); };
  child.onTimer = [&](int) { child.EndDialog(7); };

  EXPECT_EQ(parent.DoModal(), ui::IDCANCEL);
  EXPECT_EQ(childResult, 7);
  EXPECT_GE(parentTicksDuringChild, 9);  // one a tenth of a second for the child's second
}

TEST_F(DialogLoop, AHandlerThatHeldTheThreadForSeveralPeriodsGetsOneTimerMessage) {
  ScriptedDialog dialog(events);
  int timersWhileHeld = -1;
  dialog.onInit = [&] {
    dialog.SetTimer(1, 10);
    ui::PostMessage(Command(dialog, 100));
  };
  dialog.onCommand = [&](int) {
    size_t before = events.size();
    clock.Sleep(55);
    while (ui::PumpMessage()) {
    }
    timersWhileHeld = int(events.size() - before);
    dialog.EndDialog(ui::IDOK);
  };
  dialog.DoModal();
  EXPECT_EQ(timersWhileHeld, 1);
}

TEST_F(DialogLoop, ATimerHandlerThatPumpsIsEnteredAgainByItsOwnTimer) {
  ScriptedDialog dialog(events);
  bool inHandler = false;
  int entries = 0;
  bool reentrySawTheGuard = false;
  dialog.onInit = [&] { dialog.SetTimer(1, 10); };
  dialog.onTimer = [&](int) {
    ++entries;
    if (inHandler) {
      reentrySawTheGuard = true;
      return;
    }
    inHandler = true;
    clock.Sleep(10);
    ui::PumpMessage();
    inHandler = false;
    dialog.EndDialog(ui::IDOK);
  };
  dialog.DoModal();
  EXPECT_EQ(entries, 2);
  EXPECT_TRUE(reentrySawTheGuard);
}

TEST_F(DialogLoop, MessagesQueuedBeforeATimerIsDueAreDispatchedBeforeIt) {
  ScriptedDialog dialog(events);
  dialog.onInit = [&] {
    dialog.SetTimer(1, 10);
    clock.Sleep(20);
    ui::PostMessage(Command(dialog, 7));
    ui::PostMessage(ui::Message{ui::MessageKind::SelChange, &dialog, 1001, 0});
  };
  dialog.onTimer = [&](int) { dialog.EndDialog(ui::IDOK); };
  dialog.DoModal();
  EXPECT_EQ(events, (std::vector<std::string>{"dialog command 7", "dialog selchange 1001", "dialog timer 1"}));
}

TEST_F(DialogLoop, MessagesForADialogThatHasEndedAreDropped) {
  ScriptedDialog dialog(events);
  dialog.onInit = [&] { ui::PostMessage(Command(dialog, 5)); };
  dialog.onCommand = [&](int) {
    EXPECT_EQ(ui::PostMessage(Command(dialog, 6)), 1);
    dialog.EndDialog(ui::IDOK);
    EXPECT_EQ(ui::PostMessage(Command(dialog, 7)), 0);
    EXPECT_EQ(ui::PumpMessage(), 0);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(events, std::vector<std::string>{"dialog command 5"});
}

TEST_F(DialogLoop, ADialogWithoutAWindowTakesNoTimersMessagesOrEnd) {
  ScriptedDialog dialog(events);
  EXPECT_EQ(dialog.SetTimer(1, 10), 0);
  EXPECT_EQ(ui::PostMessage(Command(dialog, 5)), 0);
  dialog.EndDialog(3);
  EXPECT_FALSE(dialog.HasEnded());
  dialog.onInit = [&] { dialog.EndDialog(ui::IDCANCEL); };
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  EXPECT_TRUE(events.empty());
}

TEST_F(DialogLoop, DoModalAnswersMinusOneWhenNoWindowCanBeMade) {
  ScriptedDialog dialog(events);
  int nested = 0;
  dialog.onInit = [&] {
    nested = dialog.DoModal();
    dialog.EndDialog(ui::IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(nested, -1);

  class RefusingBackend : public ui::headless::HeadlessBackend {
    int DialogCreated(ui::Dialog&) override { return 0; }
  } refusing;
  {
    ui::ScopedBackend swapped(refusing);
    EXPECT_EQ(dialog.DoModal(), -1);
  }
  ui::SetBackend(nullptr);
  EXPECT_EQ(dialog.DoModal(), -1);
  ui::SetBackend(&backend);
}

// A toolkit's own modal loop (a message box) keeps the framework's timers going with these two
// calls alone; they must neither ask the backend for input nor let a timer overtake a message.
class CountingPolls : public ui::headless::Driver {
 public:
  void OnPoll(ui::headless::HeadlessBackend&) override { ++polls; }
  int OnMessageBox(const std::string&, uint32_t) override { return ui::IDOK; }
  int polls = 0;
};

TEST_F(DialogLoop, AToolkitsOwnLoopKeepsTimersRunningWithoutAskingForInput) {
  CountingPolls driver;
  backend.SetDriver(&driver);
  ScriptedDialog dialog(events);
  dialog.onInit = [&] {
    dialog.SetTimer(1, 100);
    EXPECT_EQ(ui::MsUntilNextTimer(), 100u);
    clock.Sleep(30);
    EXPECT_EQ(ui::MsUntilNextTimer(), 70u);
    EXPECT_EQ(ui::DispatchOne(), 0);
    ui::PostMessage(Command(dialog, 9));
    clock.Sleep(200);
    EXPECT_EQ(ui::MsUntilNextTimer(), 0u);
    EXPECT_EQ(ui::DispatchOne(), 1);
    EXPECT_EQ(ui::DispatchOne(), 1);
    EXPECT_EQ(ui::DispatchOne(), 0);
    EXPECT_EQ(ui::MsUntilNextTimer(), 100u);
    dialog.EndDialog(ui::IDOK);
  };
  dialog.DoModal();
  EXPECT_EQ(driver.polls, 0);
  EXPECT_EQ(events, (std::vector<std::string>{"dialog command 9", "dialog timer 1"}));
  EXPECT_EQ(ui::MsUntilNextTimer(), ui::kWaitForever);
  backend.SetDriver(nullptr);
}

TEST_F(DialogLoop, TheQueueRefusesMessagesBeyondItsBoundAndTakesThemAgainOnceDrained) {
  ScriptedDialog dialog(events);
  size_t accepted = 0;
  int refusedThenAccepted = -1;
  dialog.onInit = [&] {
    while (ui::PostMessage(Command(dialog, 1)) == 1 && accepted <= ui::kMaxQueuedMessages) ++accepted;
    EXPECT_EQ(ui::QueuedMessages(), ui::kMaxQueuedMessages);
    EXPECT_EQ(ui::DispatchOne(), 1);
    refusedThenAccepted = ui::PostMessage(Command(dialog, 2));
    dialog.EndDialog(ui::IDOK);
  };
  dialog.DoModal();
  EXPECT_EQ(accepted, ui::kMaxQueuedMessages);
  EXPECT_EQ(refusedThenAccepted, 1);
  EXPECT_EQ(ui::QueuedMessages(), 0u);
}

}  // namespace
