#include "ui/message.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "platform/clock.h"
#include "ui/backend.h"
#include "ui/dialog.h"

namespace ui {
namespace {

struct Timer {
  Dialog* owner;
  int id;
  uint32_t periodMs;
  uint32_t startTick;  // when it was set or last fired
};

std::deque<Message>& Queue() {
  static std::deque<Message> queue;
  return queue;
}

std::vector<Timer>& Timers() {
  static std::vector<Timer> timers;
  return timers;
}

bool IsRunning(const Dialog* dialog) { return dialog && dialog->HasWindow() && !dialog->HasEnded(); }

uint32_t MsUntilDue(const Timer& timer, uint32_t now) {
  uint32_t elapsed = platform::ElapsedMs(now, timer.startTick);
  return elapsed >= timer.periodMs ? 0 : timer.periodMs - elapsed;
}

// The due timer of a running dialog that is most overdue (the first set, on a tie), or null.
Timer* NextDueTimer(uint32_t now) {
  Timer* next = nullptr;
  uint32_t nextOverdue = 0;
  for (Timer& timer : Timers()) {
    if (!IsRunning(timer.owner) || MsUntilDue(timer, now) > 0) continue;
    uint32_t overdue = platform::ElapsedMs(now, timer.startTick) - timer.periodMs;
    if (!next || overdue > nextOverdue) {
      next = &timer;
      nextOverdue = overdue;
    }
  }
  return next;
}

void Dispatch(const Message& message) {
  Dialog& dialog = *message.target;
  switch (message.kind) {
    case MessageKind::KeyDown:
      dialog.PreTranslateMessage(message);
      break;
    case MessageKind::Command:
      dialog.OnCommand(message.id);
      break;
    case MessageKind::SelChange:
      dialog.OnSelChange(message.id);
      break;
    case MessageKind::Timer:
      dialog.OnTimer(message.id);
      break;
  }
}

bool DispatchQueued() {
  while (!Queue().empty()) {
    Message message = Queue().front();
    Queue().pop_front();
    if (IsRunning(message.target)) {
      Dispatch(message);
      return true;
    }
  }
  return false;
}

// The timer restarts its period when its message is made, so a handler that held the thread for
// several periods gets one message, not one per period.
bool DispatchDueTimer() {
  uint32_t now = platform::GetTickCount();
  Timer* timer = NextDueTimer(now);
  if (!timer) return false;
  timer->startTick = now;
  Dispatch(Message{MessageKind::Timer, timer->owner, timer->id, 0});
  return true;
}

}  // namespace

int PostMessage(const Message& message) {
  if (!IsRunning(message.target) || Queue().size() >= kMaxQueuedMessages) return 0;
  Queue().push_back(message);
  return 1;
}

int PumpMessage() {
  Backend* backend = CurrentBackend();
  if (Queue().empty() && backend) backend->PollInput();
  return DispatchOne();
}

int DispatchOne() { return DispatchQueued() || DispatchDueTimer() ? 1 : 0; }

size_t QueuedMessages() { return Queue().size(); }

namespace detail {

void StartTimer(Dialog& owner, int id, uint32_t periodMs) {
  Timer started{&owner, id, periodMs, platform::GetTickCount()};
  for (Timer& timer : Timers()) {
    if (timer.owner == &owner && timer.id == id) {
      timer = started;
      return;
    }
  }
  Timers().push_back(started);
}

int StopTimer(Dialog& owner, int id) {
  return std::erase_if(Timers(), [&](const Timer& t) { return t.owner == &owner && t.id == id; }) ? 1 : 0;
}

void Forget(Dialog& owner) {
  std::erase_if(Timers(), [&](const Timer& t) { return t.owner == &owner; });
  std::erase_if(Queue(), [&](const Message& m) { return m.target == &owner; });
}

}  // namespace detail

uint32_t MsUntilNextTimer() {
  uint32_t now = platform::GetTickCount();
  uint32_t soonest = kWaitForever;
  for (const Timer& timer : Timers()) {
    if (IsRunning(timer.owner)) soonest = std::min(soonest, MsUntilDue(timer, now));
  }
  return soonest;
}

}  // namespace ui
