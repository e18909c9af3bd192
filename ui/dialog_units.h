#pragma once
// Dialog units to pixels, as Windows converts them for a dialog: from the base units of the
// dialog's font, its average character width and its height. A window backend lays out templates
// with these, so that the dialogs keep the proportions they were designed with on any font.
#include <string>
#include <vector>

#include "ui/dialog_template.h"

namespace ui {

struct DialogBaseUnits {
  int cx = 0;  // average character width, pixels
  int cy = 0;  // character height, pixels
};

// Windows' average width: the width of "A".."Z" "a".."z" (52 letters) over 52, rounded to nearest.
DialogBaseUnits BaseUnitsOfFont(int widthOf52Letters, int charHeight);

// x units are quarters of cx, y units eighths of cy; rounded to nearest, as MulDiv rounds.
int DialogXToPixels(int x, DialogBaseUnits base);
int DialogYToPixels(int y, DialogBaseUnits base);

struct PixelRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const PixelRect&) const = default;
};
PixelRect ControlPixels(const ControlTemplate& control, DialogBaseUnits base);

// A list box with tab stops puts one every 32 dialog units (horizontal units) by default.
constexpr int kListTabStopUnits = 32;

// Where text continues after a tab at pixel x: the first stop beyond x, stops every stopPx.
int NextTabStop(int x, int stopPx);

// The pieces of a line between its tabs (a line with n tabs has n + 1 pieces).
std::vector<std::string> TabPieces(const std::string& line);

}  // namespace ui
