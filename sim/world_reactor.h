#pragma once
// The reactor of a controller inside a simulated world: everything it runs, runs as one host.
//
// A world runs due events inside any wait, so a callback that asks a socket wait (even for 0 ms)
// may find another of the controller's callbacks run under it. This reactor never lets that
// happen: a callback that falls due while another is running waits until that one returns.
#include <deque>
#include <map>

#include "platform/sim/world.h"
#include "sim/reactor.h"

namespace sim {

class WorldReactor : public Reactor {
 public:
  // Borrows the world, which must outlive this reactor.
  WorldReactor(platform::sim::World& world, platform::sim::HostId host);
  // Cancels what is still scheduled and stops watching, so nothing calls into a dead controller.
  ~WorldReactor() override;
  WorldReactor(const WorldReactor&) = delete;
  WorldReactor& operator=(const WorldReactor&) = delete;

  void Watch(platform::Socket s, std::function<void()> fn) override;
  void Unwatch(platform::Socket s) override;
  TimerId After(uint32_t ms, std::function<void()> fn) override;
  void Cancel(TimerId id) override;
  void Enter(const std::function<void()>& fn) override;

 private:
  struct Watcher {
    uint64_t generation;
    std::function<void()> fn;
  };
  struct Timer {
    platform::sim::EventId event;
    std::function<void()> fn;
  };

  // Runs fn now, or after the running callback when there is one.
  void Run(std::function<void()> fn);
  void OnReadable(platform::Socket s, uint64_t generation);
  void OnTimer(TimerId id);

  platform::sim::World& world;
  platform::sim::HostId host;
  std::map<platform::Socket, Watcher> watchers;
  std::map<TimerId, Timer> timers;
  std::deque<std::function<void()>> waiting;
  bool running = false;
  uint64_t nextGeneration = 1;
  TimerId nextTimer = 1;
};

}  // namespace sim
