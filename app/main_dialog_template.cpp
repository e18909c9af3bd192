#include "app/main_dialog_template.h"

#include "ui/constants.h"

namespace {

ui::DialogTemplate Build() {
  using ui::ControlKind;
  ui::DialogTemplate layout;
  layout.id = kMainDialogTemplateId;
  layout.font = "MS Shell Dlg";
  layout.pointSize = 8;
  layout.width = 383;
  layout.height = 147;
  layout.appWindow = true;
  layout.controls = {
      {ui::kStaticId, ControlKind::GroupBox, "Select the device on which you wish to upgrade the BSP", 7, 7, 369, 67, 0},
      {kDeviceListId, ControlKind::ListBox, "", 14, 19, 362, 51,
       ui::kSorted | ui::kUseTabStops | ui::kNotify | ui::kVScroll},
      {ui::IDOK, ControlKind::PushButton, "Start", 325, 123, 50, 16, ui::kDefaultButton},
      {ui::IDCANCEL, ControlKind::PushButton, "Cancel", 269, 123, 50, 16, 0},
      {ui::kStaticId, ControlKind::Static, "Show Only:", 15, 80, 40, 11, 0},
      {kFilterListId, ControlKind::ListBox, "", 60, 77, 193, 55, ui::kNotify | ui::kVScroll},
  };
  return layout;
}

}  // namespace

const ui::DialogTemplate& MainDialogTemplate() {
  static const ui::DialogTemplate layout = Build();
  return layout;
}
