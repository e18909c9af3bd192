#include "ui/headless/headless_backend.h"

#include <algorithm>

#include "platform/clock.h"
#include "ui/dialog.h"

namespace ui::headless {
namespace {

int DefaultAnswer(uint32_t style) { return (style & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK; }

}  // namespace

uint32_t Driver::MsUntilNextAction() { return HeadlessBackend::kIdleSliceMs; }

int HeadlessBackend::DialogCreated(Dialog& dialog) {
  dialogs.push_back(&dialog);
  repaints[&dialog] = 0;
  return 1;
}

void HeadlessBackend::DialogDestroyed(Dialog& dialog) { std::erase(dialogs, &dialog); }

void HeadlessBackend::Repaint(Dialog& dialog) { ++repaints[&dialog]; }

int HeadlessBackend::RepaintCount(const Dialog& dialog) const {
  auto found = repaints.find(&dialog);
  return found == repaints.end() ? 0 : found->second;
}

int HeadlessBackend::ShowMessageBox(const std::string& text, uint32_t style) {
  int answer = driver ? driver->OnMessageBox(text, style) : DefaultAnswer(style);
  messageBoxes.push_back(ShownMessageBox{text, style, answer});
  return answer;
}

void HeadlessBackend::PollInput() {
  if (driver) driver->OnPoll(*this);
}

void HeadlessBackend::WaitForInput(uint32_t maxMs) {
  uint32_t waitMs = driver ? std::min(maxMs, driver->MsUntilNextAction()) : maxMs;
  // Nothing due and nobody who says when: a real Sleep would never return, and a simulated one would
  // run weeks of the LAN's events before the loop looked again, though one of the first may have
  // ended the dialog or posted it a message. Look again after a slice instead.
  platform::Sleep(waitMs == kWaitForever ? kIdleSliceMs : waitMs);
}

int HeadlessBackend::ClickButton(int id) {
  Dialog* dialog = ActiveDialog();
  Button* button = dialog ? dialog->GetButton(id) : nullptr;
  if (!button || !button->IsWindowEnabled()) return 0;
  dialog->SetFocusId(id);
  return PostMessage(Message{MessageKind::Command, dialog, id, 0});
}

int HeadlessBackend::SelectItem(int listId, int index) {
  Dialog* dialog = ActiveDialog();
  ListBox* list = dialog ? dialog->GetListBox(listId) : nullptr;
  if (!list || !list->IsWindowEnabled() || index < 0 || list->SetCurSel(index) != index) return 0;
  dialog->SetFocusId(listId);
  if (list->HasStyle(kNotify)) PostMessage(Message{MessageKind::SelChange, dialog, listId, 0});
  return 1;
}

int HeadlessBackend::PressKey(uint32_t key) {
  Dialog* dialog = ActiveDialog();
  return dialog ? PostMessage(Message{MessageKind::KeyDown, dialog, 0, key}) : 0;
}

}  // namespace ui::headless
