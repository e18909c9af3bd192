#pragma once
// The dialogs as native Windows dialogs. Nothing of <windows.h> shows through this header: its
// macros (IDOK, MessageBox, PostMessage...) would rename the framework's own names in whatever
// includes it.

namespace ui::win32 {

// Registers the common controls, installs the window backend and the wait hook that keeps the
// windows painted while a step holds the thread (it paints and does nothing else: no input, no
// timers), runs `body` (which runs the dialogs), takes both away again and answers body's result.
//
// With BSPLIFT_UI_TRACE naming a file, the backend appends to it one line for each thing it shows
// (windows and their control rectangles on the screen, lines, selections, bars, buttons, message
// boxes), in the same format as the other window backend, so that a test driving the windows from
// outside knows where to click and what is shown.
int RunWithWindows(int (*body)());

}  // namespace ui::win32
