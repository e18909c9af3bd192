#pragma once
// What shows the dialogs: the seam between the dialog framework and a toolkit (or none). The
// framework keeps the model, the message queue and the timers itself; a backend mirrors the model,
// turns a person's clicks and keys into messages, waits when there is nothing to do, and asks the
// questions of message boxes.
#include <cstdint>
#include <string>

#include "ui/constants.h"

namespace ui {

class Control;
class Dialog;
class ListBox;

// How a list box changed, so that a native list can follow line by line instead of rebuilding.
enum class ListChange {
  Inserted,   // a line was added at the index; later lines moved down by one
  Deleted,    // the line at the index was removed; later lines moved up by one
  Reset,      // every line was removed (index -1)
  Selection,  // the program selected the line at the index (-1: none)
};

// "No timer is due": wait until input arrives.
constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

class Backend {
 public:
  virtual ~Backend() = default;

  // The dialog's window is to appear; its controls exist, OnInitDialog has not run yet. Return 1,
  // or 0 when no window can be made (DoModal then answers -1).
  virtual int DialogCreated(Dialog& dialog) = 0;
  // The dialog's modal run is over: remove its window. The dialog object still exists.
  virtual void DialogDestroyed(Dialog& dialog) = 0;
  // A control of a dialog with a window changed (text, enabled state, range, position). List boxes
  // report their lines and selection through ListChanged instead.
  virtual void ControlChanged(Dialog& dialog, Control& control) = 0;
  // A list box of a dialog with a window changed. The model has changed already; an insertion or
  // deletion may also have moved the selection (it stays on the line it was on, or is cleared with
  // its line), which is not reported separately.
  virtual void ListChanged(Dialog& dialog, ListBox& list, ListChange change, int index) = 0;
  // The caption of a dialog with a window changed.
  virtual void CaptionChanged(Dialog& dialog) = 0;
  // UpdateWindow: paint the dialog now, before control returns to any loop.
  virtual void Repaint(Dialog& dialog) = 0;

  // Shows a message box and returns the button chosen (IDOK, IDYES, IDNO). A GUI runs its own modal
  // loop meanwhile, in which handlers may re-enter.
  virtual int ShowMessageBox(const std::string& text, uint32_t style) = 0;

  // Turns pending input into posted messages without waiting. Called by PumpMessage when the queue
  // is empty; must not pump messages itself.
  virtual void PollInput() = 0;
  // Waits for input, at most maxMs (kWaitForever: no timer is due). Called by a modal loop with
  // nothing to do; returning early is always allowed.
  virtual void WaitForInput(uint32_t maxMs) = 0;
};

// Installs the backend for the process (borrowed; null for none) and returns the one it replaces.
// Without a backend no dialog can run (DoModal answers -1) and MessageBox answers 0.
Backend* SetBackend(Backend* backend);
Backend* CurrentBackend();

// Installs a backend for the lifetime of this object, then puts the previous one back.
class ScopedBackend {
 public:
  explicit ScopedBackend(Backend& backend) : previous(SetBackend(&backend)) {}
  ~ScopedBackend() { SetBackend(previous); }
  ScopedBackend(const ScopedBackend&) = delete;
  ScopedBackend& operator=(const ScopedBackend&) = delete;

 private:
  Backend* previous;
};

// Shows a message box and returns the answer: IDOK, IDYES or IDNO, or 0 when no backend can show it.
// In a GUI the box pumps messages, so handlers (timers above all) may re-enter while it is open.
int MessageBox(const std::string& text, uint32_t style = MB_OK);

}  // namespace ui
