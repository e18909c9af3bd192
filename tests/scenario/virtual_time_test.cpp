// A dialog's timer, its modal loop and a simulated LAN running together under the virtual clock:
// ten minutes of a probing dialog cost no real time.
#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/sim/world.h"
#include "platform/socket.h"
#include "tests/support/scripted_person.h"
#include "tests/support/test_world.h"
#include "ui/dialog.h"
#include "ui/headless/headless_backend.h"

namespace {

using namespace platform;

const uint32_t kPc = MakeAddress(10, 0, 0, 2);
const uint32_t kPeer = MakeAddress(10, 0, 0, 3);

ui::DialogTemplate ProbeLayout() {
  ui::DialogTemplate t;
  t.caption = "probe";
  t.controls.push_back({ui::IDCANCEL, ui::ControlKind::PushButton, "Cancel", 0, 0, 50, 14, 0});
  return t;
}

// Broadcasts a probe every second and counts the answers, the way the main dialog discovers.
class ProbingDialog : public ui::Dialog {
 public:
  ProbingDialog() : ui::Dialog(ProbeLayout(), nullptr) {
    socket = OpenUdp();
    Bind(socket, Endpoint{kPc, 444});
    SetBroadcast(socket, true);
  }
  ~ProbingDialog() override { Close(socket); }

  int OnInitDialog() override {
    SetTimer(1, 1000);
    return ui::Dialog::OnInitDialog();
  }

  void OnTimer(int) override {
    uint8_t buffer[256];
    while (WaitReadable(socket, 0) == 1) {
      if (RecvFrom(socket, buffer, sizeof buffer, nullptr) == 4) ++answers;
    }
    ticks.push_back(GetTickCount());
    SendTo(socket, "GH\0\0\0\0\0\0", 8, Endpoint{kBroadcastAddress, 444});
  }

  Socket socket;
  std::vector<uint32_t> ticks;
  int answers = 0;
};

TEST(VirtualTime, ADialogProbesForTenVirtualMinutesAndHearsEveryAnswer) {
  testing_support::TestWorld world(0xFFFFFFFFu - 30000);  // the tick count wraps half a minute in
  world.AddHost("pc", kPc);
  sim::HostId peer = world.AddHost("peer", kPeer);
  Socket listener;
  world.RunAs(peer, [&] {
    listener = OpenUdp();
    Bind(listener, Endpoint{kAnyAddress, 444});
    world.Watch(listener, [&] {
      uint8_t probe[16];
      Endpoint from;
      while (WaitReadable(listener, 0) == 1) {
        if (RecvFrom(listener, probe, sizeof probe, &from) == 8) SendTo(listener, "ANSW", 4, from);
      }
    });
  });

  testing_support::ScriptedPerson person;
  person.At(10 * 60 * 1000 + 500, testing_support::Click(ui::IDCANCEL));
  ui::headless::HeadlessBackend backend(&person);
  ui::ScopedBackend installed(backend);

  uint32_t start = GetTickCount();
  ProbingDialog dialog;
  EXPECT_EQ(dialog.DoModal(), ui::IDCANCEL);
  ASSERT_EQ(dialog.ticks.size(), 600u);
  // Timers measure with the program's one wrap rule, which counts the wrap itself one short: the
  // tick that crosses it comes a millisecond late, every other one a second after the last.
  uint32_t previous = start;
  int late = 0;
  for (size_t i = 0; i < dialog.ticks.size(); ++i) {
    uint32_t step = dialog.ticks[i] - previous;
    late += step == 1001;
    ASSERT_TRUE(step == 1000 || (step == 1001 && dialog.ticks[i] < previous)) << i << ": " << step;
    previous = dialog.ticks[i];
  }
  EXPECT_EQ(late, 1);
  EXPECT_EQ(dialog.answers, 599);  // the last probe's answer arrives after the last tick
}

}  // namespace
