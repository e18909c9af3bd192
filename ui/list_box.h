#pragma once
// A single-selection list box: lines of text, each with a pointer of item data the caller owns.
#include <string>
#include <vector>

#include "ui/backend.h"
#include "ui/constants.h"
#include "ui/control.h"

namespace ui {

class ListBox : public Control {
 public:
  // Beyond this many lines AddString answers LB_ERRSPACE.
  static constexpr int kMaxItems = 1 << 20;

  ListBox(Dialog& owner, const ControlTemplate& layout);

  // Adds a line and returns its index, or LB_ERRSPACE when the list is full. A sorted list (kSorted)
  // places it by the whole text with ASCII letters compared without case, after the lines that
  // compare equal; an unsorted list appends it. Lines at or after the index move down by one, and
  // the selection stays on the line it was on.
  int AddString(const std::string& text);

  // Deletes a line and returns the number left, or LB_ERR for an index out of range. Deleting the
  // selected line clears the selection; deleting an earlier one keeps the same line selected.
  // The line's item data is not touched: the caller owns it.
  int DeleteString(int index);

  // The line's text into `text` and its length, or LB_ERR (and `text` untouched) out of range.
  int GetText(int index, std::string& text) const;
  // The line's text, or "" out of range.
  std::string GetText(int index) const;
  int GetCount() const { return int(items.size()); }

  // 0, or LB_ERR out of range. The data is borrowed, never deleted here.
  int SetItemData(int index, void* data);
  // The line's data, or nullptr out of range.
  void* GetItemData(int index) const;

  // The selected index, or LB_ERR (-1) when nothing is selected.
  int GetCurSel() const { return curSel; }
  // Selects a line and returns its index. -1 clears the selection and returns LB_ERR; an index out
  // of range changes nothing and returns LB_ERR. A program's selection sends no selection-change
  // message: only a person's does.
  int SetCurSel(int index);

  // Removes every line and the selection.
  void ResetContent();

 private:
  struct Item {
    std::string text;
    void* data = nullptr;
  };

  void NotifyListChanged(ListChange change, int index);
  bool IsIndex(int index) const { return index >= 0 && index < GetCount(); }
  int InsertionPoint(const std::string& text) const;

  std::vector<Item> items;
  int curSel = LB_ERR;
};

}  // namespace ui
