#pragma once
// A progress bar: a position within a range, both as the program last set them.
#include "ui/control.h"

namespace ui {

class ProgressBar : public Control {
 public:
  ProgressBar(Dialog& owner, const ControlTemplate& layout);

  // Sets the range (0..100 until first set) and pulls the position into it. Returns 1, or 0 and
  // changes nothing when low is above high.
  int SetRange(int low, int high);
  int GetRangeLow() const { return low; }
  int GetRangeHigh() const { return high; }

  // Sets the position, clamped to the range, and returns the previous one.
  int SetPos(int position);
  int GetPos() const { return pos; }

 private:
  int Clamp(int position) const;

  int low = 0;
  int high = 100;
  int pos = 0;
};

}  // namespace ui
