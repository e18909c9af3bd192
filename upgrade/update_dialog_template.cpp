#include "upgrade/update_dialog_template.h"

#include "ui/constants.h"

namespace {

ui::DialogTemplate Build() {
  using ui::ControlKind;
  ui::DialogTemplate layout;
  layout.id = kUpdateDialogTemplateId;
  layout.caption = "Upgrading Board Support Package...";
  layout.font = "MS Shell Dlg";
  layout.pointSize = 8;
  layout.width = 308;
  layout.height = 198;
  layout.controls = {
      {ui::IDCANCEL, ControlKind::PushButton, "Cancel", 251, 177, 50, 14, 0},
      {kTotalBarId, ControlKind::ProgressBar, "", 65, 144, 236, 14, 0},
      {ui::kStaticId, ControlKind::Static, "Total Progress", 7, 146, 48, 8, 0},
      {kItemBarId, ControlKind::ProgressBar, "", 65, 160, 236, 14, 0},
      {ui::kStaticId, ControlKind::Static, "Item Progress", 7, 163, 46, 8, 0},
      {kLogListId, ControlKind::ListBox, "", 7, 7, 294, 129, ui::kVScroll | ui::kNotify},
  };
  return layout;
}

}  // namespace

const ui::DialogTemplate& UpdateDialogTemplate() {
  static const ui::DialogTemplate layout = Build();
  return layout;
}
