#pragma once
// Dialog template 136: the main dialog's controls.
#include "ui/dialog_template.h"

inline constexpr int kMainDialogTemplateId = 136;
inline constexpr int kDeviceListId = 1001;
inline constexpr int kFilterListId = 1034;

const ui::DialogTemplate& MainDialogTemplate();
