#include "platform/win32/windows_api.h"

#include "platform/win32/real.h"

namespace platform::win32 {
namespace {

class TickClock : public ClockService {
 public:
  uint32_t GetTickCount() override { return uint32_t(::GetTickCount()); }
  void Sleep(uint32_t ms) override { ::Sleep(DWORD(ms)); }
};

}  // namespace

ClockService& RealClock() {
  static TickClock clock;
  return clock;
}

}  // namespace platform::win32
