#include "sim/world_reactor.h"

#include <utility>

namespace sim {

WorldReactor::WorldReactor(platform::sim::World& world, platform::sim::HostId host) : world(world), host(host) {}

WorldReactor::~WorldReactor() {
  for (auto& [id, timer] : timers) world.Cancel(timer.event);
  world.RunAs(host, [this] {
    for (auto& [s, watcher] : watchers) world.Unwatch(s);
  });
}

void WorldReactor::Watch(platform::Socket s, std::function<void()> fn) {
  uint64_t generation = nextGeneration++;
  watchers[s] = Watcher{generation, std::move(fn)};
  world.RunAs(host, [&] { world.Watch(s, [this, s, generation] { OnReadable(s, generation); }); });
}

void WorldReactor::Unwatch(platform::Socket s) {
  watchers.erase(s);
  world.Unwatch(s);
}

TimerId WorldReactor::After(uint32_t ms, std::function<void()> fn) {
  TimerId id = nextTimer++;
  platform::sim::EventId event = 0;
  world.RunAs(host, [&] { event = world.Schedule(ms, [this, id] { OnTimer(id); }); });
  timers[id] = Timer{event, std::move(fn)};
  return id;
}

void WorldReactor::Cancel(TimerId id) {
  auto it = timers.find(id);
  if (it == timers.end()) return;
  world.Cancel(it->second.event);
  timers.erase(it);
}

void WorldReactor::Enter(const std::function<void()>& fn) {
  world.RunAs(host, [&] { Run(fn); });
}

void WorldReactor::Run(std::function<void()> fn) {
  if (running) {
    waiting.push_back(std::move(fn));
    return;
  }
  running = true;
  fn();
  while (!waiting.empty()) {
    std::function<void()> next = std::move(waiting.front());
    waiting.pop_front();
    next();
  }
  running = false;
}

// Both callbacks look their registration up again when they finally run: a deferred call may
// find its socket unwatched or its timer cancelled by the callback it waited for.
void WorldReactor::OnReadable(platform::Socket s, uint64_t generation) {
  Run([this, s, generation] {
    auto it = watchers.find(s);
    if (it == watchers.end() || it->second.generation != generation) return;
    std::function<void()> fn = it->second.fn;  // the callback may unwatch itself
    fn();
  });
}

void WorldReactor::OnTimer(TimerId id) {
  Run([this, id] {
    auto it = timers.find(id);
    if (it == timers.end()) return;
    std::function<void()> fn = std::move(it->second.fn);
    timers.erase(it);
    fn();
  });
}

}  // namespace sim
