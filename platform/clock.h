#pragma once
// The tick count and sleeping, as the application has always used them.
#include <cstdint>

namespace platform {

// Milliseconds since an arbitrary start, 32 bits, wrapping about every 49.7 days.
uint32_t GetTickCount();

// Holds the thread for ms milliseconds. In a simulated world the clock jumps instead, running
// whatever falls due on the way (handlers of simulated hosts may run inside).
void Sleep(uint32_t ms);

// Milliseconds from `then` to `now` on the wrapping tick count: now - then, or, once the counter
// has wrapped (now < then), now + (0xFFFFFFFF - then). Every interval in the program is measured
// with this one rule and compared with "more than".
constexpr uint32_t ElapsedMs(uint32_t now, uint32_t then) {
  return now >= then ? now - then : now + (0xFFFFFFFFu - then);
}

// Milliseconds since `then`, by the rule above.
uint32_t MsSince(uint32_t then);

// Called while the thread waits: Sleep and the socket waits (WaitReadable, WaitWritable, WaitReady,
// WaitAny) wait in slices of at most kWaitHookSliceMs and call it after a slice that ended with
// nothing ready, once kWaitHookSliceMs of waiting have passed since it last ran (a loop of short
// waits calls it as often as one long wait). A window toolkit installs one that repaints its
// windows, so that a step sleeping for minutes or a query waiting for its answer leaves the windows
// drawn and answering the desktop. The hook must not dispatch input or timers: the waits sit
// inside steps that rely on nothing else running meanwhile.
using WaitHook = void (*)();
constexpr uint32_t kWaitHookSliceMs = 50;
// Installs the hook (null: none, the default) and returns the one it replaces.
WaitHook SetWaitHook(WaitHook hook);
// Installs a hook for the lifetime of this object, then puts the previous one back.
class ScopedWaitHook {
 public:
  explicit ScopedWaitHook(WaitHook hook) : previous(SetWaitHook(hook)) {}
  ~ScopedWaitHook() { SetWaitHook(previous); }
  ScopedWaitHook(const ScopedWaitHook&) = delete;
  ScopedWaitHook& operator=(const ScopedWaitHook&) = delete;

 private:
  WaitHook previous;
};
// The hook installed, or null: the implementations slice their own blocking calls (a send to a
// peer that does not read, a connect) when there is one, and call WaitHookIfDue between slices.
WaitHook CurrentWaitHook();
// Calls the hook when one is installed and a slice's worth of time has passed since it last ran.
void WaitHookIfDue();

}  // namespace platform
