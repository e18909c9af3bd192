// The window backend in-process, on an Xvfb display of its own, with input from xdotool as a person
// gives it: what the framework relies on from any backend. A step that holds the thread gets no
// input (a click made meanwhile arrives after it, not lost and not nested); a message box keeps the
// framework's timers running and Escape in a Yes/No box means No; keys reach the dialog as
// key-downs. No network is used. Skipped without Xvfb or xdotool, or in a build without windows.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "ui/dialog.h"
#include "ui/wx/wx_windows.h"

namespace {

bool displayUp = false;
std::string tracePath;

// Runs a shell command without waiting for it (xdotool while the dialog's thread is busy).
void Spawn(const std::string& command) {
  std::string line = command + " >/dev/null 2>&1 &";
  if (std::system(line.c_str()) != 0) ADD_FAILURE() << "could not start: " << command;
}

// A point inside control `id` of the last window with `templateId`, from the trace: its centre, or
// with `nearTop` a few pixels below its top edge (the first line of a list).
bool ControlPoint(int templateId, int id, int* x, int* y, bool nearTop = false) {
  std::ifstream in(tracePath);
  std::string line;
  bool found = false;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string kind;
    int tpl = 0, index = 0, control = 0, left = 0, top = 0, width = 0, height = 0;
    if (!(fields >> kind) || kind != "control") continue;
    if (!(fields >> tpl >> index >> control >> left >> top >> width >> height)) continue;
    if (tpl != templateId || control != id) continue;
    *x = left + width / 2;
    *y = nearTop ? top + 6 : top + height / 2;
    found = true;
  }
  return found;
}

ui::DialogTemplate TestLayout(int id, const char* caption) {
  ui::DialogTemplate layout;
  layout.id = id;
  layout.caption = caption;
  layout.font = "MS Shell Dlg";
  layout.pointSize = 8;
  layout.width = 200;
  layout.height = 100;
  layout.appWindow = true;
  layout.controls = {
      {ui::IDOK, ui::ControlKind::PushButton, "OK", 140, 80, 50, 14, ui::kDefaultButton},
      {5, ui::ControlKind::PushButton, "Five", 80, 80, 50, 14, 0},
      {9, ui::ControlKind::ListBox, "", 7, 7, 186, 60, ui::kVScroll | ui::kNotify},
      {7, ui::ControlKind::ProgressBar, "", 7, 68, 186, 8, 0},
  };
  return layout;
}

// A dialog whose handlers the test sets.
class TestDialog : public ui::Dialog {
 public:
  TestDialog(int id, const char* caption) : ui::Dialog(TestLayout(id, caption), nullptr) {}
  int OnInitDialog() override {
    SetTimer(1, 20);
    return 1;
  }
  void OnTimer(int id) override {
    if (onTimer) onTimer(id);
  }
  void OnCommand(int id) override {
    commands.push_back(id);
    if (onCommand) {
      onCommand(id);
    } else {
      ui::Dialog::OnCommand(id);
    }
  }
  int PreTranslateMessage(const ui::Message& message) override {
    if (message.kind == ui::MessageKind::KeyDown) {
      keys.push_back(message.key);
      focusAtKey.push_back(GetFocusId());
    }
    return ui::Dialog::PreTranslateMessage(message);
  }

  std::function<void(int)> onTimer;
  std::function<void(int)> onCommand;
  std::vector<int> commands;
  std::vector<uint32_t> keys;
  std::vector<int> focusAtKey;  // the model's focus when each key-down was dispatched
};

// A dialog that nobody ends would hang the test: a watchdog timer ends it after a while.
constexpr int kWatchdogTimer = 99;
constexpr uint32_t kWatchdogMs = 20000;
constexpr int kWatchdogResult = -99;

class WindowBackend : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!displayUp) GTEST_SKIP() << "no Xvfb display with xdotool here, or bsplift was built without windows";
  }
};

TEST_F(WindowBackend, AClickDuringAStepThatHoldsTheThreadArrivesAfterTheStepNotInsideIt) {
  TestDialog dialog(501, "held step");
  dialog.GetListBox(9)->AddString("first line");
  bool held = false;
  int commandsDuringStep = -1;
  int selectionAfterStep = 0;
  uint32_t stepEnded = 0;
  uint32_t commandAt = 0;
  dialog.onTimer = [&](int id) {
    if (id == kWatchdogTimer) return dialog.EndDialog(kWatchdogResult);
    if (held) return;
    held = true;
    dialog.SetTimer(kWatchdogTimer, kWatchdogMs);
    // A person clicks the first line of the list, then the button, while the step runs.
    int lineX = 0, lineY = 0, x = 0, y = 0;
    ASSERT_TRUE(ControlPoint(501, 9, &lineX, &lineY, true));
    ASSERT_TRUE(ControlPoint(501, 5, &x, &y));
    Spawn("xdotool mousemove " + std::to_string(lineX) + " " + std::to_string(lineY) + " click 1 sleep 0.2 mousemove " +
          std::to_string(x) + " " + std::to_string(y) + " click 1");
    // The step: a long sleep, as the return wait sleeps, with lines added meanwhile.
    for (int i = 0; i < 15; ++i) {
      platform::Sleep(100);
      dialog.GetListBox(9)->AddString("line " + std::to_string(i));
      dialog.UpdateWindow();
    }
    commandsDuringStep = int(dialog.commands.size());
    selectionAfterStep = dialog.GetListBox(9)->GetCurSel();
    stepEnded = platform::GetTickCount();
  };
  dialog.onCommand = [&](int id) {
    if (id != 5) return;
    commandAt = platform::GetTickCount();
    dialog.EndDialog(ui::IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  // Neither the list's selection nor a command changed while the step held the thread.
  EXPECT_EQ(commandsDuringStep, 0);
  EXPECT_EQ(selectionAfterStep, ui::LB_ERR);
  EXPECT_EQ(dialog.GetListBox(9)->GetCurSel(), 0);
  EXPECT_EQ(dialog.commands, std::vector<int>{5});
  EXPECT_GE(commandAt, stepEnded);
}

TEST_F(WindowBackend, AMessageBoxKeepsTimersRunningAndEscapeInAYesNoBoxMeansNo) {
  TestDialog dialog(502, "message box");
  int ticksBeforeBox = 0;
  int ticks = 0;
  std::vector<int> answers;
  std::vector<int> ticksWhileOpen;
  dialog.onTimer = [&](int id) {
    if (id == kWatchdogTimer) return dialog.EndDialog(kWatchdogResult);
    ++ticks;
    if (ticks == 1) {
      dialog.SetTimer(kWatchdogTimer, kWatchdogMs);
      dialog.KillTimer(1);
      ui::PostMessage(ui::Message{ui::MessageKind::Command, &dialog, 100, 0});
      return;
    }
    // The timer went on while the box was open: answer it after a few ticks.
    if (ticks == ticksBeforeBox + 5) Spawn(answers.empty() ? "xdotool key Return" : "xdotool key Escape");
  };
  dialog.onCommand = [&](int id) {
    if (id != 100) return;
    dialog.SetTimer(1, 20);
    for (int round = 0; round < 2; ++round) {
      ticksBeforeBox = ticks;
      answers.push_back(ui::MessageBox("Go on?", ui::MB_YESNO | ui::MB_ICONHAND));
      ticksWhileOpen.push_back(ticks - ticksBeforeBox);
    }
    dialog.EndDialog(ui::IDOK);
  };
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(answers, (std::vector<int>{ui::IDYES, ui::IDNO}));
  ASSERT_EQ(ticksWhileOpen.size(), 2u);
  EXPECT_GE(ticksWhileOpen[0], 5);
  EXPECT_GE(ticksWhileOpen[1], 5);
}

// On the dialog's first timer tick, focuses its window (found by its caption) and types `keys`
// (xdotool key arguments); the watchdog ends the dialog should nothing else.
void TypeOnceShown(TestDialog& dialog, const std::string& caption, const std::string& keys) {
  dialog.onTimer = [&dialog, caption, keys, sent = false](int id) mutable {
    if (id == kWatchdogTimer) return dialog.EndDialog(kWatchdogResult);
    if (sent) return;
    sent = true;
    dialog.SetTimer(kWatchdogTimer, kWatchdogMs);
    Spawn("xdotool search --sync --name '^" + caption + "$' windowfocus --sync key " + keys);
  };
}

TEST_F(WindowBackend, KeysReachTheDialogAsKeyDownsAndEnterGivesTheDefaultButton) {
  TestDialog dialog(503, "keys");
  // The focus starts on the first control that takes it, the OK button: Enter gives its command.
  TypeOnceShown(dialog, "keys", "F7 a F8 Return");
  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  EXPECT_EQ(dialog.keys, (std::vector<uint32_t>{ui::VK_F7, 'A', ui::VK_F8, ui::VK_RETURN}));
  EXPECT_EQ(dialog.commands, std::vector<int>{ui::IDOK});
}

// Tab goes round the buttons and the list only (a list's frame and a bar take no focus, as on
// Windows), and the model follows: Enter then gives the button the focus came to.
TEST_F(WindowBackend, TabMovesTheFocusOverTheButtonsAndTheListAndTheModelFollows) {
  TestDialog dialog(504, "tabs");
  TypeOnceShown(dialog, "tabs", "--delay 100 Tab Tab Tab Tab Return");
  dialog.onCommand = [&](int id) { dialog.EndDialog(id); };
  EXPECT_EQ(dialog.DoModal(), 5);
  EXPECT_EQ(dialog.keys, (std::vector<uint32_t>{0x09, 0x09, 0x09, 0x09, ui::VK_RETURN}));
  EXPECT_EQ(dialog.focusAtKey, (std::vector<int>{5, 9, ui::IDOK, 5, 5}));
  EXPECT_EQ(dialog.commands, std::vector<int>{5});
}

// Starts Xvfb on a display of its own for this process; "" when it runs, else why not.
std::string StartDisplay(pid_t* server) {
  if (std::system("command -v Xvfb >/dev/null && command -v xdotool >/dev/null") != 0) return "no Xvfb or xdotool";
  int number = 300 + int(getpid() % 500);
  std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
  std::string display = ":" + std::to_string(number);
  *server = fork();
  if (*server == 0) {
    execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp", (char*)nullptr);
    _exit(127);
  }
  struct stat st;
  for (int i = 0; i < 200 && stat(socket.c_str(), &st) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  if (stat(socket.c_str(), &st) != 0) return "Xvfb did not start";
  setenv("DISPLAY", display.c_str(), 1);
  return "";
}

int runResult = 0;

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
#ifndef BSPLIFT_WITH_WINDOWS
  return RUN_ALL_TESTS();
#else
  if (::testing::GTEST_FLAG(list_tests)) return RUN_ALL_TESTS();
  pid_t server = -1;
  std::string why = StartDisplay(&server);
  if (!why.empty()) {
    std::fprintf(stderr, "windows backend tests skipped: %s\n", why.c_str());
    return RUN_ALL_TESTS();
  }
  tracePath = "/tmp/bsplift-wx-trace-" + std::to_string(getpid());
  std::remove(tracePath.c_str());
  setenv("BSPLIFT_UI_TRACE", tracePath.c_str(), 1);
  displayUp = true;
  int shown = ui::wx::RunWithWindows(argc, argv, [] {
    runResult = RUN_ALL_TESTS();
    return 0;
  });
  if (shown < 0) {
    displayUp = false;
    runResult = RUN_ALL_TESTS();
  }
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);
  std::remove(tracePath.c_str());
  return runResult;
#endif
}
