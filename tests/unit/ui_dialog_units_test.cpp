// Templates laid out as Windows lays them out: a backend that got the base units or the rounding
// wrong would crop the captions and misplace the columns of the device list.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_dialog_template.h"
#include "ui/dialog_units.h"

namespace {

using ui::DialogBaseUnits;

TEST(DialogUnits, BaseUnitsRoundTheAverageOfTheFiftyTwoLettersToNearest) {
  struct Case {
    int width;
    int expectedCx;
  };
  // 8-point "MS Shell Dlg" on Windows: 52 letters are 312 px wide, 6 px each; halves round up.
  for (Case c : {Case{312, 6}, Case{337, 6}, Case{338, 7}, Case{364, 7}, Case{0, 0}}) {
    EXPECT_EQ(ui::BaseUnitsOfFont(c.width, 13).cx, c.expectedCx) << c.width;
    EXPECT_EQ(ui::BaseUnitsOfFont(c.width, 13).cy, 13);
  }
}

TEST(DialogUnits, QuartersAcrossAndEighthsDownRoundedToNearest) {
  DialogBaseUnits base{6, 13};
  // The Start button of the main dialog: 325, 123, 50, 16.
  ui::PixelRect start = ui::ControlPixels(ui::ControlTemplate{1, ui::ControlKind::PushButton, "Start", 325, 123, 50, 16, 0}, base);
  EXPECT_EQ(start, (ui::PixelRect{488, 200, 75, 26}));
  EXPECT_EQ(ui::DialogXToPixels(383, base), 575);  // 574.5 rounds up
  EXPECT_EQ(ui::DialogYToPixels(147, base), 239);  // 238.875
  EXPECT_EQ(ui::DialogXToPixels(1, DialogBaseUnits{7, 16}), 2);  // 1.75
  EXPECT_EQ(ui::DialogYToPixels(3, DialogBaseUnits{7, 16}), 6);
}

TEST(DialogUnits, TheMainDialogsControlsStayInsideItAtAnyFont) {
  for (DialogBaseUnits base : {DialogBaseUnits{6, 13}, DialogBaseUnits{7, 17}, DialogBaseUnits{9, 20}}) {
    const ui::DialogTemplate& layout = MainDialogTemplate();
    int width = ui::DialogXToPixels(layout.width, base);
    int height = ui::DialogYToPixels(layout.height, base);
    for (const ui::ControlTemplate& control : layout.controls) {
      ui::PixelRect r = ui::ControlPixels(control, base);
      EXPECT_LE(r.x + r.width, width) << control.text;
      EXPECT_LE(r.y + r.height, height) << control.text;
    }
  }
}

TEST(TabStops, TextAfterATabStartsAtTheNextStopBeyondIt) {
  // Every 32 dialog units at cx 6: 48 px.
  int stop = ui::DialogXToPixels(ui::kListTabStopUnits, DialogBaseUnits{6, 13});
  EXPECT_EQ(stop, 48);
  EXPECT_EQ(ui::NextTabStop(0, stop), 48);
  EXPECT_EQ(ui::NextTabStop(47, stop), 48);
  EXPECT_EQ(ui::NextTabStop(48, stop), 96);  // text ending on a stop goes on to the next one
  EXPECT_EQ(ui::NextTabStop(100, stop), 144);
  EXPECT_EQ(ui::NextTabStop(5, 0), 5);
}

TEST(TabStops, ALineSplitsIntoThePiecesBetweenItsTabs) {
  using Pieces = std::vector<std::string>;
  EXPECT_EQ(ui::TabPieces("00:50:C2:00:00:01\t192.168.1.20\tModel"), (Pieces{"00:50:C2:00:00:01", "192.168.1.20", "Model"}));
  EXPECT_EQ(ui::TabPieces(""), Pieces{""});
  EXPECT_EQ(ui::TabPieces("a\t\tb\t"), (Pieces{"a", "", "b", ""}));
}

}  // namespace
