#pragma once
// The person at the keyboard of the headless dialogs, played by a test: a script of steps, each run
// once and in order, when its moment has come or its condition holds, and the answers to the message
// boxes. It reaches the dialogs only as a person does, through the backend (the active dialog, its
// controls by id), never through a dialog's own class, so one script serves any dialog; a step that
// wants the application's state reads it itself.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/headless/headless_backend.h"

namespace testing_support {

class ScriptedPerson : public ui::headless::Driver {
 public:
  using HeadlessBackend = ui::headless::HeadlessBackend;
  using Action = std::function<void(HeadlessBackend&)>;
  using Condition = std::function<bool(HeadlessBackend&)>;

  // Moments count from now on the platform clock, so make the person after the world or clock
  // whose time it should follow.
  ScriptedPerson();

  // Steps run at most one per look at the dialogs, so that each sees what the input of the one
  // before did; a step never runs before the steps added ahead of it. Each returns *this.
  // Runs `act` once `ms` have passed since this person was made.
  ScriptedPerson& At(uint32_t ms, Action act);
  // Runs `act` at the first look at which `holds` answers true.
  ScriptedPerson& When(Condition holds, Action act);
  // Runs `act` at the next look, whenever the framework gives one.
  ScriptedPerson& Then(Action act);
  // Every step has run.
  bool Done() const { return steps.empty(); }

  // The answer to the next message box that no earlier answer is waiting for. Once the queued
  // answers are used up, each box gets what a person who declines clicks: IDNO on a yes/no box,
  // IDOK on any other. (The backend records every box with its answer.)
  void Answer(int answer) { answers.push_back(answer); }

  void OnPoll(HeadlessBackend& ui) override;
  int OnMessageBox(const std::string& text, uint32_t style) override;
  // 0 once the next step's moment has come, else the milliseconds until it; for a step without a
  // moment, the framework's default (a look every idle slice), as a condition may come to hold
  // through anything; with no step left, kWaitForever: only the dialogs' timers wake the loop.
  uint32_t MsUntilNextAction() override;

 private:
  struct Step {
    std::optional<uint32_t> atMs;
    Condition holds;  // empty: always
    Action act;
  };

  uint32_t MsSinceMade() const;

  uint32_t madeTick;
  std::deque<Step> steps;
  std::deque<int> answers;
};

// A person's input to the active dialog, as steps (see HeadlessBackend for what each does; input
// that a dialog does not take, such as a click on a disabled button, does nothing).
ScriptedPerson::Action Click(int buttonId);
ScriptedPerson::Action Select(int listId, int index);
ScriptedPerson::Action Press(uint32_t key);
// Several keys in the one look: all are posted before the dialog handles the first.
ScriptedPerson::Action Press(std::vector<uint32_t> keys);
// Ends the active dialog with `result`, as its own code would (not a person's input: a test's way
// out of a dialog that has no button for it).
ScriptedPerson::Action End(int result);

}  // namespace testing_support
