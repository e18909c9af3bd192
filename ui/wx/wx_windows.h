#pragma once
// The dialogs as real windows (wxWidgets on GTK 3). Nothing of the toolkit shows through this
// header, so that the command line decides whether to open windows without depending on it.

namespace ui::wx {

// Starts the toolkit on the display, installs the window backend and the wait hook that keeps the
// windows painted, runs `body` (which runs the dialogs), and takes it all down again. Answers
// body's result, or -1 when no display could be opened (then nothing was shown).
//
// With BSPLIFT_UI_TRACE naming a file, the backend appends to it one line for each thing it shows
// (windows and their control rectangles on the screen, lines, selections, bars, buttons, message
// boxes), so that a test driving the windows from outside knows where to click and what is shown.
int RunWithWindows(int argc, char** argv, int (*body)());

}  // namespace ui::wx
