#pragma once
// A modal dialog built from a template: its controls (the model), its timers, its modal loop and
// the handlers a derived dialog overrides. Everything runs on the one user-interface thread.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/constants.h"
#include "ui/control.h"
#include "ui/dialog_template.h"
#include "ui/list_box.h"
#include "ui/message.h"
#include "ui/progress_bar.h"

namespace ui {

class Dialog {
 public:
  // Creates the controls of the template at once, so the model exists before any window does.
  // `parent` is borrowed and may be null.
  Dialog(const DialogTemplate& layout, Dialog* parent);
  virtual ~Dialog();
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Shows the dialog and runs its modal loop until EndDialog, then removes the window and returns
  // EndDialog's result; -1 when the window cannot be created (no backend, the backend refused, or
  // the dialog is running already). The loop pumps messages for every dialog, so handlers may
  // re-enter the code that called DoModal (a parent's timers keep firing while a child runs).
  int DoModal();
  // Ends the modal run with `result` (the last call wins) once the handler now running returns.
  // From then on the dialog's timers stop and messages for it are dropped. Ignored without a window.
  void EndDialog(int result);

  // Starts (or restarts) timer `id`, due every periodMs. 1, or 0 without a window.
  int SetTimer(int id, uint32_t periodMs);
  // 1 if the timer ran, else 0.
  int KillTimer(int id);

  // Repaints the window now, even while a handler holds the thread. Nothing without a window.
  void UpdateWindow();

  void SetWindowText(const std::string& caption);
  std::string GetWindowText() const { return caption; }

  // Controls by id; null when the template has no control of that id and kind. The dialog owns them.
  Control* GetControl(int id);
  ListBox* GetListBox(int id);
  ProgressBar* GetProgressBar(int id);
  Button* GetButton(int id);
  // Every control, statics included, in template order (for backends).
  const std::vector<std::unique_ptr<Control>>& Controls() const { return controls; }

  const DialogTemplate& Layout() const { return layout; }
  Dialog* GetParent() const { return parent; }

  // The control with the keyboard focus (0 for none): a push button or list box that is enabled.
  // A backend or headless driver moves it as a person would; SetFocusId answers 0 for a control
  // that cannot take it. When OnInitDialog returns nonzero the focus goes to the first such control.
  int GetFocusId() const { return focusId; }
  int SetFocusId(int id);

  // From DialogCreated to DialogDestroyed.
  bool HasWindow() const { return hasWindow; }
  // EndDialog was called in the current (or last) run.
  bool HasEnded() const { return ended; }

  // The window exists and its controls are ready. Return nonzero to have the focus set to the first
  // control that takes it, 0 when the dialog set the focus itself. Base: 1.
  virtual int OnInitDialog();
  // Base: EndDialog(IDOK).
  virtual void OnOK();
  // Base: EndDialog(IDCANCEL).
  virtual void OnCancel();
  // A timer of this dialog is due. Base: nothing.
  virtual void OnTimer(int id);
  // Sees every key-down for this dialog before anything else; return nonzero when the key was taken.
  // Base: the dialog keys. Enter gives the command of the focused push button or else of the
  // default button (nothing when that is disabled), or IDOK when there is no default button;
  // Escape gives IDCANCEL. Both are taken; other keys are not.
  virtual int PreTranslateMessage(const Message& message);
  // A command: a click, or a dialog key. Base: IDOK to OnOK, IDCANCEL to OnCancel, others ignored.
  virtual void OnCommand(int id);
  // A person changed the selection of a list box that notifies (kNotify). Base: nothing.
  virtual void OnSelChange(int controlId);

 private:
  bool TakesFocus(const Control& control) const;
  int EnterCommand();
  void FocusFirstControl();

  DialogTemplate layout;
  Dialog* parent;
  std::vector<std::unique_ptr<Control>> controls;
  std::string caption;
  int focusId = 0;
  bool hasWindow = false;
  bool ended = false;
  int result = 0;
};

}  // namespace ui
