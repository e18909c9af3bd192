#pragma once
// A control of a dialog: the model that every backend mirrors. Each change is reported to the
// installed backend while the dialog's window exists, so that a GUI can show it.
#include <string>

#include "ui/dialog_template.h"

namespace ui {

class Dialog;

class Control {
 public:
  // `owner` outlives the control (the dialog owns its controls).
  Control(Dialog& owner, const ControlTemplate& layout);
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  int GetDlgCtrlID() const { return layout.id; }
  ControlKind Kind() const { return layout.kind; }
  const ControlTemplate& Layout() const { return layout; }
  bool HasStyle(uint32_t bits) const { return (layout.style & bits) == bits; }

  // The text of a button or static, the title of a group box; list boxes and bars show none.
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const { return text; }

  // A disabled control takes no clicks and no focus.
  void EnableWindow(bool enable = true);
  bool IsWindowEnabled() const { return enabled; }

 protected:
  void NotifyChanged();
  Dialog& Owner() const { return owner; }

 private:
  Dialog& owner;
  ControlTemplate layout;
  std::string text;
  bool enabled;
};

class Button : public Control {
 public:
  using Control::Control;

  // The button whose command Enter gives when the focus is on no other push button.
  bool IsDefault() const { return HasStyle(kDefaultButton); }
};

}  // namespace ui
