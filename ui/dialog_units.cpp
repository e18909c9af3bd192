#include "ui/dialog_units.h"

#include <cstdint>

namespace ui {
namespace {

// a * b / c rounded to nearest, halves away from zero (units and pixels are never negative here).
int MulDiv(int a, int b, int c) { return c == 0 ? 0 : int((int64_t(a) * b + c / 2) / c); }

}  // namespace

DialogBaseUnits BaseUnitsOfFont(int widthOf52Letters, int charHeight) {
  return DialogBaseUnits{(widthOf52Letters / 26 + 1) / 2, charHeight};
}

int DialogXToPixels(int x, DialogBaseUnits base) { return MulDiv(x, base.cx, 4); }
int DialogYToPixels(int y, DialogBaseUnits base) { return MulDiv(y, base.cy, 8); }

PixelRect ControlPixels(const ControlTemplate& control, DialogBaseUnits base) {
  return PixelRect{DialogXToPixels(control.x, base), DialogYToPixels(control.y, base),
                   DialogXToPixels(control.width, base), DialogYToPixels(control.height, base)};
}

int NextTabStop(int x, int stopPx) {
  if (stopPx <= 0) return x;
  return (x / stopPx + 1) * stopPx;
}

std::vector<std::string> TabPieces(const std::string& line) {
  std::vector<std::string> pieces(1);
  for (char c : line) {
    if (c == '\t') {
      pieces.emplace_back();
    } else {
      pieces.back() += c;
    }
  }
  return pieces;
}

}  // namespace ui
