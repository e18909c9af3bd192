#include "ui/control.h"

#include "ui/backend.h"
#include "ui/dialog.h"

namespace ui {

Control::Control(Dialog& owner, const ControlTemplate& layout)
    : owner(owner), layout(layout), text(layout.text), enabled(!(layout.style & kDisabled)) {}

void Control::SetWindowText(const std::string& newText) {
  text = newText;
  NotifyChanged();
}

void Control::EnableWindow(bool enable) {
  enabled = enable;
  NotifyChanged();
}

void Control::NotifyChanged() {
  Backend* backend = CurrentBackend();
  if (backend && owner.HasWindow()) backend->ControlChanged(owner, *this);
}

}  // namespace ui
