#pragma once
// The reactor on real sockets: one loop that waits on every watched socket and the next timer.
#include <map>

#include "sim/reactor.h"

namespace sim {

class PollReactor : public Reactor {
 public:
  void Watch(platform::Socket s, std::function<void()> fn) override;
  void Unwatch(platform::Socket s) override;
  TimerId After(uint32_t ms, std::function<void()> fn) override;
  void Cancel(TimerId id) override;
  void Enter(const std::function<void()>& fn) override { fn(); }

  // Dispatches readiness and timers until Stop() is called (from a callback). Returns 0 after a
  // stop, -1 when waiting on the sockets failed for another reason than a signal.
  int Run();
  void Stop() { stopping = true; }

 private:
  struct Timer {
    uint32_t setTick;
    uint32_t delayMs;
    std::function<void()> fn;
  };

  // Milliseconds until the next timer is due (0 when one is), or kIdleWaitMs without timers.
  uint32_t NextWaitMs() const;
  void RunDueTimers();

  std::map<platform::Socket, std::function<void()>> watchers;
  std::map<TimerId, Timer> timers;  // ordered by id, so equal due times run in setting order
  TimerId nextTimer = 1;
  bool stopping = false;
};

}  // namespace sim
