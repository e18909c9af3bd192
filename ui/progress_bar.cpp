#include "ui/progress_bar.h"

#include <algorithm>

namespace ui {

ProgressBar::ProgressBar(Dialog& owner, const ControlTemplate& layout) : Control(owner, layout) {}

int ProgressBar::Clamp(int position) const { return std::clamp(position, low, high); }

int ProgressBar::SetRange(int newLow, int newHigh) {
  if (newLow > newHigh) return 0;
  low = newLow;
  high = newHigh;
  pos = Clamp(pos);
  NotifyChanged();
  return 1;
}

int ProgressBar::SetPos(int position) {
  int previous = pos;
  pos = Clamp(position);
  NotifyChanged();
  return previous;
}

}  // namespace ui
