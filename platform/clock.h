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

}  // namespace platform
