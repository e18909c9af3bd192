#include "tests/support/scripted_person.h"

#include <algorithm>
#include <utility>

#include "platform/clock.h"
#include "ui/dialog.h"

namespace testing_support {

ScriptedPerson::ScriptedPerson() : madeTick(platform::GetTickCount()) {}

ScriptedPerson& ScriptedPerson::At(uint32_t ms, Action act) {
  steps.push_back(Step{ms, nullptr, std::move(act)});
  return *this;
}

ScriptedPerson& ScriptedPerson::When(Condition holds, Action act) {
  steps.push_back(Step{std::nullopt, std::move(holds), std::move(act)});
  return *this;
}

ScriptedPerson& ScriptedPerson::Then(Action act) { return When(nullptr, std::move(act)); }

void ScriptedPerson::OnPoll(HeadlessBackend& ui) {
  if (steps.empty()) return;
  const Step& step = steps.front();
  if (step.atMs && MsSinceMade() < *step.atMs) return;
  if (step.holds && !step.holds(ui)) return;
  // Off the script before it runs, so that a step may add steps of its own.
  Action act = std::move(steps.front().act);
  steps.pop_front();
  act(ui);
}

int ScriptedPerson::OnMessageBox(const std::string&, uint32_t style) {
  if (answers.empty()) return (style & ui::MB_TYPEMASK) == ui::MB_YESNO ? ui::IDNO : ui::IDOK;
  int answer = answers.front();
  answers.pop_front();
  return answer;
}

uint32_t ScriptedPerson::MsUntilNextAction() {
  if (steps.empty()) return ui::kWaitForever;
  const Step& step = steps.front();
  if (!step.atMs) return Driver::MsUntilNextAction();
  uint32_t sinceMs = MsSinceMade();
  if (sinceMs >= *step.atMs) return 0;
  return std::min(*step.atMs - sinceMs, ui::kWaitForever - 1);
}

// The plain modular difference, not the program's wrap rule (which counts the wrap itself one
// short): a script's moments stay exact when a test starts the clock just before the wrap.
uint32_t ScriptedPerson::MsSinceMade() const { return platform::GetTickCount() - madeTick; }

ScriptedPerson::Action Click(int buttonId) {
  return [buttonId](ui::headless::HeadlessBackend& ui) { ui.ClickButton(buttonId); };
}

ScriptedPerson::Action Select(int listId, int index) {
  return [listId, index](ui::headless::HeadlessBackend& ui) { ui.SelectItem(listId, index); };
}

ScriptedPerson::Action Press(uint32_t key) { return Press(std::vector<uint32_t>{key}); }

ScriptedPerson::Action Press(std::vector<uint32_t> keys) {
  return [keys = std::move(keys)](ui::headless::HeadlessBackend& ui) {
    for (uint32_t key : keys) ui.PressKey(key);
  };
}

ScriptedPerson::Action End(int result) {
  return [result](ui::headless::HeadlessBackend& ui) {
    if (ui::Dialog* dialog = ui.ActiveDialog()) dialog->EndDialog(result);
  };
}

}  // namespace testing_support
