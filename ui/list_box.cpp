#include "ui/list_box.h"

#include <algorithm>

#include "ui/dialog.h"

namespace ui {
namespace {

char FoldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(FoldCase(x)) < static_cast<unsigned char>(FoldCase(y));
  });
}

}  // namespace

ListBox::ListBox(Dialog& owner, const ControlTemplate& layout) : Control(owner, layout) {}

int ListBox::InsertionPoint(const std::string& text) const {
  if (!HasStyle(kSorted)) return GetCount();
  auto after = std::upper_bound(items.begin(), items.end(), text,
                                [](const std::string& t, const Item& item) { return LessIgnoringCase(t, item.text); });
  return int(after - items.begin());
}

int ListBox::AddString(const std::string& text) {
  if (GetCount() >= kMaxItems) return LB_ERRSPACE;
  int index = InsertionPoint(text);
  items.insert(items.begin() + index, Item{text});
  if (curSel >= index) ++curSel;
  NotifyListChanged(ListChange::Inserted, index);
  return index;
}

int ListBox::DeleteString(int index) {
  if (!IsIndex(index)) return LB_ERR;
  items.erase(items.begin() + index);
  if (curSel == index) {
    curSel = LB_ERR;
  } else if (curSel > index) {
    --curSel;
  }
  NotifyListChanged(ListChange::Deleted, index);
  return GetCount();
}

int ListBox::GetText(int index, std::string& text) const {
  if (!IsIndex(index)) return LB_ERR;
  text = items[index].text;
  return int(text.size());
}

std::string ListBox::GetText(int index) const { return IsIndex(index) ? items[index].text : std::string(); }

int ListBox::SetItemData(int index, void* data) {
  if (!IsIndex(index)) return LB_ERR;
  items[index].data = data;
  return 0;
}

void* ListBox::GetItemData(int index) const { return IsIndex(index) ? items[index].data : nullptr; }

int ListBox::SetCurSel(int index) {
  if (index != -1 && !IsIndex(index)) return LB_ERR;
  curSel = index;
  NotifyListChanged(ListChange::Selection, index);
  return index == -1 ? LB_ERR : index;
}

void ListBox::ResetContent() {
  items.clear();
  curSel = LB_ERR;
  NotifyListChanged(ListChange::Reset, -1);
}

void ListBox::NotifyListChanged(ListChange change, int index) {
  Backend* backend = CurrentBackend();
  if (backend && Owner().HasWindow()) backend->ListChanged(Owner(), *this, change, index);
}

}  // namespace ui
