#include "ui/dialog.h"

#include "ui/backend.h"

namespace ui {
namespace {

std::unique_ptr<Control> MakeControl(Dialog& owner, const ControlTemplate& layout) {
  switch (layout.kind) {
    case ControlKind::ListBox:
      return std::make_unique<ListBox>(owner, layout);
    case ControlKind::ProgressBar:
      return std::make_unique<ProgressBar>(owner, layout);
    case ControlKind::PushButton:
      return std::make_unique<Button>(owner, layout);
    case ControlKind::GroupBox:
    case ControlKind::Static:
      break;
  }
  return std::make_unique<Control>(owner, layout);
}

template <typename T>
T* Typed(Control* control, ControlKind kind) {
  return control && control->Kind() == kind ? static_cast<T*>(control) : nullptr;
}

}  // namespace

Dialog::Dialog(const DialogTemplate& layout, Dialog* parent)
    : layout(layout), parent(parent), caption(layout.caption) {
  for (const ControlTemplate& control : layout.controls) controls.push_back(MakeControl(*this, control));
}

Dialog::~Dialog() { detail::Forget(*this); }

int Dialog::DoModal() {
  Backend* backend = CurrentBackend();
  if (!backend || hasWindow || !backend->DialogCreated(*this)) return -1;
  hasWindow = true;
  ended = false;
  result = 0;
  if (OnInitDialog()) FocusFirstControl();
  while (!ended) {
    if (!PumpMessage()) backend->WaitForInput(MsUntilNextTimer());
  }
  detail::Forget(*this);
  hasWindow = false;
  backend->DialogDestroyed(*this);
  return result;
}

void Dialog::EndDialog(int endResult) {
  if (!hasWindow) return;
  ended = true;
  result = endResult;
}

int Dialog::SetTimer(int id, uint32_t periodMs) {
  if (!hasWindow) return 0;
  detail::StartTimer(*this, id, periodMs);
  return 1;
}

int Dialog::KillTimer(int id) { return detail::StopTimer(*this, id); }

void Dialog::UpdateWindow() {
  Backend* backend = CurrentBackend();
  if (backend && hasWindow) backend->Repaint(*this);
}

void Dialog::SetWindowText(const std::string& newCaption) {
  caption = newCaption;
  Backend* backend = CurrentBackend();
  if (backend && hasWindow) backend->CaptionChanged(*this);
}

Control* Dialog::GetControl(int id) {
  for (auto& control : controls) {
    if (control->GetDlgCtrlID() == id) return control.get();
  }
  return nullptr;
}

ListBox* Dialog::GetListBox(int id) { return Typed<ListBox>(GetControl(id), ControlKind::ListBox); }

ProgressBar* Dialog::GetProgressBar(int id) {
  return Typed<ProgressBar>(GetControl(id), ControlKind::ProgressBar);
}

Button* Dialog::GetButton(int id) { return Typed<Button>(GetControl(id), ControlKind::PushButton); }

bool Dialog::TakesFocus(const Control& control) const {
  ControlKind kind = control.Kind();
  return (kind == ControlKind::PushButton || kind == ControlKind::ListBox) && control.IsWindowEnabled();
}

int Dialog::SetFocusId(int id) {
  Control* control = GetControl(id);
  if (!control || !TakesFocus(*control)) return 0;
  focusId = id;
  return 1;
}

void Dialog::FocusFirstControl() {
  focusId = 0;
  for (auto& control : controls) {
    if (TakesFocus(*control)) {
      focusId = control->GetDlgCtrlID();
      return;
    }
  }
}

// The command Enter gives, or 0 for none: the focused push button acts as the default one.
int Dialog::EnterCommand() {
  Button* focused = GetButton(focusId);
  if (focused && focused->IsWindowEnabled()) return focusId;
  for (auto& control : controls) {
    if (control->Kind() == ControlKind::PushButton && control->HasStyle(kDefaultButton)) {
      return control->IsWindowEnabled() ? control->GetDlgCtrlID() : 0;
    }
  }
  return IDOK;
}

int Dialog::OnInitDialog() { return 1; }

void Dialog::OnOK() { EndDialog(IDOK); }

void Dialog::OnCancel() { EndDialog(IDCANCEL); }

void Dialog::OnTimer(int) {}

int Dialog::PreTranslateMessage(const Message& message) {
  if (message.kind != MessageKind::KeyDown) return 0;
  if (message.key == VK_ESCAPE) {
    OnCommand(IDCANCEL);
    return 1;
  }
  if (message.key == VK_RETURN) {
    if (int command = EnterCommand()) OnCommand(command);
    return 1;
  }
  return 0;
}

void Dialog::OnCommand(int id) {
  if (id == IDOK) {
    OnOK();
  } else if (id == IDCANCEL) {
    OnCancel();
  }
}

void Dialog::OnSelChange(int) {}

}  // namespace ui
