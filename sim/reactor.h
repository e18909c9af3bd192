#pragma once
// What the controller model runs on: readiness callbacks for sockets and one-shot timers. The
// same model runs inside a simulated world (WorldReactor) and on real sockets (PollReactor).
#include <cstdint>
#include <functional>

#include "platform/socket.h"

namespace sim {

using TimerId = uint64_t;

class Reactor {
 public:
  virtual ~Reactor() = default;
  // Calls fn whenever s may have become readable (data, a datagram, a connection to accept, the
  // peer's close). fn must not block and must read what is there, or unwatch: a call may also
  // come when nothing is left to read. Replaces an earlier callback for s.
  virtual void Watch(platform::Socket s, std::function<void()> fn) = 0;
  // No more calls for s; safe for a socket that is not watched or already closed.
  virtual void Unwatch(platform::Socket s) = 0;
  // Calls fn once, ms from now. Timers due at the same time run in the order they were set.
  virtual TimerId After(uint32_t ms, std::function<void()> fn) = 0;
  // The timer will not run; safe for a timer that already ran.
  virtual void Cancel(TimerId id) = 0;
  // Runs fn in the reactor's context, as its callbacks run (a simulated world runs it as the
  // controller's host). Callbacks are never re-entered from inside fn.
  virtual void Enter(const std::function<void()>& fn) = 0;
};

}  // namespace sim
