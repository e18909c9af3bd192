#pragma once
// Dialog template 137: the upgrade dialog's controls.
#include "ui/dialog_template.h"

inline constexpr int kUpdateDialogTemplateId = 137;
inline constexpr int kTotalBarId = 1007;
inline constexpr int kItemBarId = 1008;
inline constexpr int kLogListId = 1009;

const ui::DialogTemplate& UpdateDialogTemplate();
