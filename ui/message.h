#pragma once
// The one message queue of the user-interface thread, with the timers that feed it. Both backends
// share these semantics; they only supply input and idle waiting.
#include <cstddef>
#include <cstdint>

namespace ui {

class Dialog;

enum class MessageKind {
  KeyDown,    // key: the virtual-key code
  Command,    // id: the command (a button's id, IDOK, IDCANCEL)
  SelChange,  // id: the list box whose selection a person changed
  Timer,      // id: the timer
};

struct Message {
  MessageKind kind = MessageKind::Command;
  Dialog* target = nullptr;
  int id = 0;
  uint32_t key = 0;
};

// The most messages the queue holds, as a Windows thread's queue does; beyond it posting fails, so
// that a flood of input or a handler posting in a loop cannot grow the queue without end.
constexpr size_t kMaxQueuedMessages = 10000;

// Queues a message behind the others. Returns 1, or 0 (nothing queued) when the target has no
// window or has ended, or the queue is full.
int PostMessage(const Message& message);

// Removes and dispatches one message and returns 1, or returns 0 when there was none. When the
// queue is empty the backend may first turn input into messages; when it is still empty, one timer
// that is due (the longest overdue) is dispatched: a timer has at most one message pending, and it
// never overtakes queued messages. Key-downs go to the target's PreTranslateMessage. Messages are
// dispatched to whichever dialog they are for, from whatever loop pumps, so handlers may re-enter
// (a timer handler that pumps can receive its own timer again). Messages for a dialog that has
// ended are dropped.
int PumpMessage();

// The two steps of PumpMessage after input, for a backend whose toolkit runs a modal loop of its
// own (a message box): the framework's timers must keep firing there, as they do in a Windows
// message box. Neither asks the backend for input.
//
// Milliseconds until the next timer of a running dialog is due (0: due now), or kWaitForever.
uint32_t MsUntilNextTimer();
// Dispatches one queued message or, with none queued, the most overdue due timer. 1 if it
// dispatched something, else 0.
int DispatchOne();
// Messages waiting in the queue (timers not counted).
size_t QueuedMessages();

// For Dialog: its timers and what is queued for it.
namespace detail {

// Starts or restarts a timer of `owner`: first due periodMs from now.
void StartTimer(Dialog& owner, int id, uint32_t periodMs);
// Stops a timer; 1 if it ran, 0 if there was none.
int StopTimer(Dialog& owner, int id);
// Drops every timer of `owner` and every message queued for it.
void Forget(Dialog& owner);

}  // namespace detail

}  // namespace ui
