#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/dialog.h"
#include "ui/headless/headless_backend.h"

namespace {

using ui::ControlKind;
using ui::LB_ERR;

constexpr int kControlId = 10;

ui::ControlTemplate Control(int id, ControlKind kind, const char* text = "", uint32_t style = 0) {
  return ui::ControlTemplate{id, kind, text, 0, 0, 50, 14, style};
}

ui::DialogTemplate Layout(std::vector<ui::ControlTemplate> controls) {
  ui::DialogTemplate layout;
  layout.controls = std::move(controls);
  return layout;
}

ui::DialogTemplate OneControl(ControlKind kind, uint32_t style) { return Layout({Control(kControlId, kind, "", style)}); }

std::vector<std::string> Lines(const ui::ListBox& list) {
  std::vector<std::string> lines;
  for (int i = 0; i < list.GetCount(); ++i) lines.push_back(list.GetText(i));
  return lines;
}

TEST(ListBox, SortedListPlacesEachLineIgnoringCaseAfterTheLinesEqualToIt) {
  ui::Dialog dialog(OneControl(ControlKind::ListBox, ui::kSorted), nullptr);
  ui::ListBox& list = *dialog.GetListBox(kControlId);
  struct Add {
    const char* text;
    int index;
  };
  const Add adds[] = {
      {"beta", 0},   {"Alpha", 0},  {"ALPHA", 1},  {"alpha", 2}, {"Gamma", 4},
      {"BETA", 4},   {"alpha2", 3},
      {"_x", 0},  // letters fold to lower case, which sorts after '_'
      {"", 0},       {"Beta\t2", 8},
  };
  for (const Add& add : adds) EXPECT_EQ(list.AddString(add.text), add.index) << add.text;
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"", "_x", "Alpha", "ALPHA", "alpha", "alpha2", "beta", "BETA",
                                                   "Beta\t2", "Gamma"}));
}

TEST(ListBox, UnsortedListKeepsTheOrderOfAdding) {
  ui::Dialog dialog(OneControl(ControlKind::ListBox, 0), nullptr);
  ui::ListBox& list = *dialog.GetListBox(kControlId);
  EXPECT_EQ(list.AddString("c"), 0);
  EXPECT_EQ(list.AddString("A"), 1);
  EXPECT_EQ(list.AddString("b"), 2);
  EXPECT_EQ(Lines(list), (std::vector<std::string>{"c", "A", "b"}));
}

TEST(ListBox, ItemDataAndSelectionStayWithTheirLineWhenLinesAreAddedBeforeIt) {
  ui::Dialog dialog(OneControl(ControlKind::ListBox, ui::kSorted), nullptr);
  ui::ListBox& list = *dialog.GetListBox(kControlId);
  int m = 0;
  int z = 0;
  ASSERT_EQ(list.SetItemData(list.AddString("m"), &m), 0);
  ASSERT_EQ(list.SetItemData(list.AddString("z"), &z), 0);
  list.SetCurSel(1);
  list.AddString("a");
  EXPECT_EQ(list.GetCurSel(), 2);
  EXPECT_EQ(list.GetText(2), "z");
  EXPECT_EQ(list.GetItemData(1), &m);
  EXPECT_EQ(list.GetItemData(2), &z);
  EXPECT_EQ(list.GetItemData(0), nullptr);
}

TEST(ListBox, DeletingLinesMovesTheSelectionWithItsLineAndClearsItWithTheLine) {
  struct Case {
    int selected;
    int deleted;
    int result;
    int selectedAfter;
  };
  const Case cases[] = {
      {2, 2, 3, LB_ERR},  // the selected line
      {2, 0, 3, 1},       // an earlier line: "c" stays selected
      {2, 3, 3, 2},       // a later line
      {2, 4, LB_ERR, 2},  // out of range: nothing changes
      {2, -1, LB_ERR, 2},
      {LB_ERR, 0, 3, LB_ERR},
  };
  for (const Case& c : cases) {
    ui::Dialog dialog(OneControl(ControlKind::ListBox, 0), nullptr);
    ui::ListBox& list = *dialog.GetListBox(kControlId);
    for (const char* text : {"a", "b", "c", "d"}) list.AddString(text);
    list.SetCurSel(c.selected);
    EXPECT_EQ(list.DeleteString(c.deleted), c.result) << "delete " << c.deleted;
    EXPECT_EQ(list.GetCurSel(), c.selectedAfter) << "delete " << c.deleted;
    if (c.selectedAfter == 1) {
      EXPECT_EQ(list.GetText(1), "c");
    }
  }
}

TEST(ListBox, OutOfRangeIndexesAreRefusedWithoutSideEffects) {
  ui::Dialog dialog(OneControl(ControlKind::ListBox, 0), nullptr);
  ui::ListBox& list = *dialog.GetListBox(kControlId);
  list.AddString("only");
  list.SetCurSel(0);

  EXPECT_EQ(list.SetCurSel(1), LB_ERR);
  EXPECT_EQ(list.GetCurSel(), 0);
  std::string text = "untouched";
  EXPECT_EQ(list.GetText(1, text), LB_ERR);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(list.GetText(-1), "");
  EXPECT_EQ(list.SetItemData(1, &text), LB_ERR);
  EXPECT_EQ(list.GetItemData(1), nullptr);

  EXPECT_EQ(list.GetText(0, text), 4);
  EXPECT_EQ(text, "only");
  EXPECT_EQ(list.SetCurSel(-1), LB_ERR);
  EXPECT_EQ(list.GetCurSel(), LB_ERR);
}

TEST(ListBox, ResetContentRemovesLinesAndSelection) {
  ui::Dialog dialog(OneControl(ControlKind::ListBox, 0), nullptr);
  ui::ListBox& list = *dialog.GetListBox(kControlId);
  list.AddString("a");
  list.AddString("b");
  list.SetCurSel(1);
  list.ResetContent();
  EXPECT_EQ(list.GetCount(), 0);
  EXPECT_EQ(list.GetCurSel(), LB_ERR);
}

TEST(ListBox, AFullListAnswersErrSpace) {
  ui::Dialog dialog(OneControl(ControlKind::ListBox, 0), nullptr);
  ui::ListBox& list = *dialog.GetListBox(kControlId);
  for (int i = 0; i < ui::ListBox::kMaxItems; ++i) list.AddString("");
  EXPECT_EQ(list.AddString("one too many"), ui::LB_ERRSPACE);
  EXPECT_EQ(list.GetCount(), ui::ListBox::kMaxItems);
}

TEST(ProgressBar, PositionIsClampedToTheRangeAndFollowsItsChanges) {
  ui::Dialog dialog(OneControl(ControlKind::ProgressBar, 0), nullptr);
  ui::ProgressBar& bar = *dialog.GetProgressBar(kControlId);
  EXPECT_EQ(bar.GetRangeLow(), 0);
  EXPECT_EQ(bar.GetRangeHigh(), 100);

  ASSERT_EQ(bar.SetRange(0, 1000), 1);
  EXPECT_EQ(bar.SetPos(1200), 0);  // answers the previous position
  EXPECT_EQ(bar.GetPos(), 1000);
  bar.SetPos(-5);
  EXPECT_EQ(bar.GetPos(), 0);

  ASSERT_EQ(bar.SetRange(10, 20), 1);
  EXPECT_EQ(bar.GetPos(), 10);
  EXPECT_EQ(bar.SetRange(5, 4), 0);
  EXPECT_EQ(bar.GetRangeLow(), 10);
  EXPECT_EQ(bar.GetRangeHigh(), 20);
}

TEST(Dialog, ControlsAreFoundByIdAndKindOnly) {
  ui::Dialog dialog(Layout({Control(1, ControlKind::PushButton, "Go"), Control(2, ControlKind::ListBox),
                            Control(ui::kStaticId, ControlKind::Static, "Label")}),
                    nullptr);
  ASSERT_NE(dialog.GetButton(1), nullptr);
  EXPECT_EQ(dialog.GetButton(1)->GetWindowText(), "Go");
  EXPECT_EQ(dialog.GetListBox(1), nullptr);
  EXPECT_EQ(dialog.GetButton(2), nullptr);
  EXPECT_NE(dialog.GetListBox(2), nullptr);
  EXPECT_EQ(dialog.GetProgressBar(3), nullptr);
  EXPECT_EQ(dialog.Controls().size(), 3u);
}

// Records what a GUI would be told to mirror.
class RecordingBackend : public ui::headless::HeadlessBackend {
 public:
  void ControlChanged(ui::Dialog&, ui::Control& control) override { changed.push_back(control.GetDlgCtrlID()); }
  void ListChanged(ui::Dialog&, ui::ListBox& list, ui::ListChange change, int index) override {
    listChanges.push_back({list.GetDlgCtrlID(), change, index});
  }
  void CaptionChanged(ui::Dialog& dialog) override { captions.push_back(dialog.GetWindowText()); }
  struct ListChangeSeen {
    int id;
    ui::ListChange change;
    int index;
    bool operator==(const ListChangeSeen&) const = default;
  };
  std::vector<int> changed;
  std::vector<ListChangeSeen> listChanges;
  std::vector<std::string> captions;
};

class InitDialog : public ui::Dialog {
 public:
  using ui::Dialog::Dialog;
  int OnInitDialog() override {
    GetListBox(1009)->AddString("line");
    GetProgressBar(1007)->SetPos(5);
    GetButton(ui::IDCANCEL)->SetWindowText("OK");
    GetButton(ui::IDCANCEL)->EnableWindow(false);
    SetWindowText("Caption");
    EndDialog(ui::IDOK);
    return 1;
  }
};

TEST(Dialog, ControlChangesReachTheBackendOnlyWhileTheWindowExists) {
  RecordingBackend backend;
  ui::ScopedBackend installed(backend);
  InitDialog dialog(Layout({Control(ui::IDCANCEL, ControlKind::PushButton, "Cancel"),
                            Control(1007, ControlKind::ProgressBar), Control(1009, ControlKind::ListBox)}),
                    nullptr);
  dialog.GetListBox(1009)->AddString("before");

  EXPECT_EQ(dialog.DoModal(), ui::IDOK);
  dialog.GetListBox(1009)->AddString("after");

  EXPECT_EQ(backend.changed, (std::vector<int>{1007, ui::IDCANCEL, ui::IDCANCEL}));
  using Seen = RecordingBackend::ListChangeSeen;
  EXPECT_EQ(backend.listChanges, (std::vector<Seen>{{1009, ui::ListChange::Inserted, 1}}));
  EXPECT_EQ(backend.captions, std::vector<std::string>{"Caption"});
  EXPECT_EQ(dialog.GetButton(ui::IDCANCEL)->GetWindowText(), "OK");
  EXPECT_FALSE(dialog.GetButton(ui::IDCANCEL)->IsWindowEnabled());
}

// A native list follows the model change by change, so each must say what happened where.
class ListDialog : public ui::Dialog {
 public:
  using ui::Dialog::Dialog;
  int OnInitDialog() override {
    ui::ListBox& list = *GetListBox(1001);
    list.AddString("b");
    list.AddString("a");
    list.SetCurSel(1);
    list.AddString("c");
    list.DeleteString(0);
    list.SetCurSel(-1);
    list.ResetContent();
    list.DeleteString(3);
    EndDialog(ui::IDOK);
    return 1;
  }
};

TEST(Dialog, ListBoxesReportEachChangeWithItsKindAndIndex) {
  RecordingBackend backend;
  ui::ScopedBackend installed(backend);
  ListDialog dialog(Layout({Control(1001, ControlKind::ListBox, "", ui::kSorted)}), nullptr);
  dialog.DoModal();
  using Seen = RecordingBackend::ListChangeSeen;
  using ui::ListChange;
  EXPECT_EQ(backend.listChanges, (std::vector<Seen>{{1001, ListChange::Inserted, 0},
                                                    {1001, ListChange::Inserted, 0},
                                                    {1001, ListChange::Selection, 1},
                                                    {1001, ListChange::Inserted, 2},
                                                    {1001, ListChange::Deleted, 0},
                                                    {1001, ListChange::Selection, -1},
                                                    {1001, ListChange::Reset, -1}}));
  EXPECT_TRUE(backend.changed.empty());
}

}  // namespace
