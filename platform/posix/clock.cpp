#include <time.h>

#include <cerrno>

#include "platform/posix/real.h"

namespace platform::posix {
namespace {

class MonotonicClock : public ClockService {
 public:
  uint32_t GetTickCount() override {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint32_t(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
  }

  void Sleep(uint32_t ms) override {
    timespec left{time_t(ms / 1000), long(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
  }
};

}  // namespace

ClockService& RealClock() {
  static MonotonicClock clock;
  return clock;
}

}  // namespace platform::posix
