#include "sim/poll_reactor.h"

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace sim {
namespace {

// Longest single wait, so that a stop requested from a timer set far ahead is still seen.
constexpr uint32_t kIdleWaitMs = 1000;

}  // namespace

void PollReactor::Watch(platform::Socket s, std::function<void()> fn) { watchers[s] = std::move(fn); }

void PollReactor::Unwatch(platform::Socket s) { watchers.erase(s); }

TimerId PollReactor::After(uint32_t ms, std::function<void()> fn) {
  TimerId id = nextTimer++;
  timers[id] = Timer{platform::GetTickCount(), ms, std::move(fn)};
  return id;
}

void PollReactor::Cancel(TimerId id) { timers.erase(id); }

uint32_t PollReactor::NextWaitMs() const {
  uint32_t now = platform::GetTickCount();
  uint32_t wait = kIdleWaitMs;
  for (const auto& [id, timer] : timers) {
    uint32_t elapsed = platform::ElapsedMs(now, timer.setTick);
    wait = std::min(wait, elapsed >= timer.delayMs ? 0 : timer.delayMs - elapsed);
  }
  return wait;
}

void PollReactor::RunDueTimers() {
  uint32_t now = platform::GetTickCount();
  // Due order: least time left first, then setting order.
  std::vector<std::pair<int64_t, TimerId>> due;
  for (const auto& [id, timer] : timers) {
    int64_t left = int64_t(timer.delayMs) - int64_t(platform::ElapsedMs(now, timer.setTick));
    if (left <= 0) due.emplace_back(left, id);
  }
  std::sort(due.begin(), due.end());
  for (const auto& [left, id] : due) {
    auto it = timers.find(id);  // an earlier timer may have cancelled this one
    if (it == timers.end()) continue;
    std::function<void()> fn = std::move(it->second.fn);
    timers.erase(it);
    fn();
    if (stopping) return;
  }
}

int PollReactor::Run() {
  stopping = false;
  while (!stopping) {
    std::vector<platform::WaitEntry> entries;
    for (const auto& [s, fn] : watchers) entries.push_back(platform::WaitEntry{s, false});
    int ready = platform::WaitAny(entries.data(), int(entries.size()), NextWaitMs());
    if (ready < 0 && platform::LastSocketError() != EINTR) return -1;
    for (const platform::WaitEntry& entry : entries) {
      if (stopping) break;
      if (!entry.readable) continue;
      auto it = watchers.find(entry.socket);  // an earlier callback may have unwatched it
      if (it == watchers.end()) continue;
      std::function<void()> fn = it->second;
      fn();
    }
    if (!stopping) RunDueTimers();
  }
  return 0;
}

}  // namespace sim
