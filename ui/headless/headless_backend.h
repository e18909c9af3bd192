#pragma once
// Dialogs without windows: for tests, and for the command-line runs over SSH. The model is the
// whole user interface; a Driver plays the person, acting on what the dialogs show through the
// input helpers below and answering message boxes. Idle waits go through platform::Sleep, so in a
// simulated world they advance its virtual clock instead of passing real time.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "ui/backend.h"

namespace ui::headless {

class HeadlessBackend;

class Driver {
 public:
  virtual ~Driver() = default;
  // The framework is looking for input: each turn of a modal loop, and each PumpMessage that finds
  // the queue empty. Act through the backend's input helpers; do not pump messages here.
  virtual void OnPoll(HeadlessBackend& ui) = 0;
  // A message box is shown: return the button chosen (IDOK, IDYES, IDNO).
  virtual int OnMessageBox(const std::string& text, uint32_t style) = 0;
  // Milliseconds until this driver next wants to look (0: at once; kWaitForever: only when
  // something else happens). An idle modal loop waits the sooner of this and the next timer.
  // Default: kIdleSliceMs, a look every few milliseconds.
  virtual uint32_t MsUntilNextAction();
};

struct ShownMessageBox {
  std::string text;
  uint32_t style = 0;
  int answer = 0;
};

class HeadlessBackend : public Backend {
 public:
  // How often a driver that does not say when it acts is given a look; also the longest idle wait
  // when neither a timer nor the driver names a moment, so that such a loop still lets (simulated)
  // time move in small steps instead of sleeping for good.
  static constexpr uint32_t kIdleSliceMs = 10;

  // `driver` is borrowed and may be null: then nobody acts, MB_YESNO boxes answer IDNO and every
  // other box IDOK.
  explicit HeadlessBackend(Driver* driver = nullptr) : driver(driver) {}
  void SetDriver(Driver* newDriver) { driver = newDriver; }

  int DialogCreated(Dialog& dialog) override;
  void DialogDestroyed(Dialog& dialog) override;
  void ControlChanged(Dialog&, Control&) override {}
  void ListChanged(Dialog&, ListBox&, ListChange, int) override {}
  void CaptionChanged(Dialog&) override {}
  void Repaint(Dialog& dialog) override;
  int ShowMessageBox(const std::string& text, uint32_t style) override;
  void PollInput() override;
  // Waits the sooner of maxMs and the driver's next action (without a driver: maxMs); when that is
  // kWaitForever, kIdleSliceMs.
  void WaitForInput(uint32_t maxMs) override;

  // The dialogs with a window, the first opened first; the last one is the active dialog, the only
  // one a person can reach. Null / empty when none is open.
  Dialog* ActiveDialog() const { return dialogs.empty() ? nullptr : dialogs.back(); }
  const std::vector<Dialog*>& Dialogs() const { return dialogs; }

  // Every message box shown, in order, with the answer it got.
  const std::vector<ShownMessageBox>& MessageBoxes() const { return messageBoxes; }
  // Repaints (UpdateWindow) of the dialog since its window was last created.
  int RepaintCount(const Dialog& dialog) const;

  // Input as a person gives it, to the active dialog. Each answers 1 when it did something.
  // Clicks a push button: focuses it and posts its command; a disabled button ignores the click.
  int ClickButton(int id);
  // Selects a line of a list box: focuses the list, selects the line, and posts a selection change
  // when the list notifies (kNotify).
  int SelectItem(int listId, int index);
  // Presses a key: posts a key-down.
  int PressKey(uint32_t key);

 private:
  Driver* driver;
  std::vector<Dialog*> dialogs;
  std::vector<ShownMessageBox> messageBoxes;
  std::map<const Dialog*, int> repaints;
};

}  // namespace ui::headless
