#pragma once
// Time that passes only when someone sleeps, installed as the process's clock while it lives, so
// that modal loops and timers never wait for real.
#include <cstdint>

#include "platform/services.h"

namespace testing_support {

class FakeClock : public platform::ClockService {
 public:
  FakeClock() {
    previous = platform::Install({});
    platform::Services mine = previous;
    mine.clock = this;
    platform::Install(mine);
  }
  ~FakeClock() override { platform::Install(previous); }
  uint32_t GetTickCount() override { return now; }
  void Sleep(uint32_t ms) override {
    now += ms;
    ++sleeps;
  }

  uint32_t now = 1000;
  int sleeps = 0;  // how often someone waited: what an idle loop costs

 private:
  platform::Services previous;
};

}  // namespace testing_support
