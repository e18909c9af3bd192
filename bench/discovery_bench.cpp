// The CPU one discovery tick of the main dialog costs with N controllers answering every probe, in
// the simulated LAN: reading every answer, updating the records and the list, the next probe and
// the expiry look. Only the dialog's own calls are timed; the simulated LAN's delivery of probes
// and answers between them is not.
//
//   discovery_bench [benchmark flags]
//
// Every controller's answer is read, as on a site whose discovery socket can queue a whole round of
// answers. The simulated socket queues 64 KiB, a round of 364 answers, so the controllers answer in
// batches a few milliseconds apart and each batch is read as it arrives, by the same ReadAnswer
// calls the timer makes. bench/run-discovery runs it and prints the cost per controller.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "discovery/discovery_answer.h"
#include "platform/sim/world.h"
#include "platform/socket.h"
#include "ui/list_box.h"

namespace {

using platform::sim::World;

constexpr uint32_t kPcAddress = platform::MakeAddress(10, 20, 0, 1);
// 250 answers are 45,000 bytes, well inside the simulated socket's queue.
constexpr int kAnswersPerBatch = 250;
constexpr uint32_t kBatchGapMs = 10;

// Listed models of every product line, so that lines of every kind are in the list.
constexpr uint8_t kCodes[][2] = {{1, 2},  {8, 18}, {1, 10}, {8, 26}, {8, 32},
                                 {1, 48}, {8, 64}, {1, 80}, {9, 0},  {9, 16}};

// A controller as far as discovery goes: a host with a socket on port 444 that answers each probe
// with its 180-byte answer, `delayMs` after the probe came.
struct Controller {
  platform::sim::HostId host = 0;
  platform::Socket socket = platform::kInvalidSocket;
  std::vector<uint8_t> answer;
  uint32_t delayMs = 0;
};

std::vector<uint8_t> AnswerOf(int index, uint32_t address) {
  std::vector<uint8_t> answer(kAnswerBytes, 0);
  std::memcpy(answer.data() + kAnswerAddressOffset, &address, 4);
  answer[kAnswerPortOffset] = 0x58;  // 7000, little-endian
  answer[kAnswerPortOffset + 1] = 0x1B;
  answer[kAnswerTypeOffset] = kCodes[index % std::size(kCodes)][0];
  answer[kAnswerSubtypeOffset] = kCodes[index % std::size(kCodes)][1];
  std::string name = "C" + std::to_string(index);
  std::memcpy(answer.data() + kAnswerNameOffset, name.data(), name.size());
  // MACs in a scattered order, so that the list's sorted insertion is not always at one end.
  char mac[kAnswerMacChars + 1];
  std::snprintf(mac, sizeof mac, "0050C2%06X", unsigned((index * 2654435761u) & 0xFFFFFF));
  std::memcpy(answer.data() + kAnswerMacOffset, mac, kAnswerMacChars);
  return answer;
}

// The PC with its main dialog, and `count` controllers, all on one simulated LAN.
class Site {
 public:
  explicit Site(int count) : controllers(size_t(count)) {
    world.AddHost("pc", kPcAddress);
    for (int i = 0; i < count; ++i) {
      Controller& c = controllers[size_t(i)];
      uint32_t address = platform::MakeAddress(10, 20, uint8_t(1 + i / 250), uint8_t(1 + i % 250));
      c.host = world.AddHost("controller-" + std::to_string(i + 1), address);
      c.answer = AnswerOf(i, address);
      c.delayMs = uint32_t(i / kAnswersPerBatch) * kBatchGapMs;
      world.RunAs(c.host, [&] {
        c.socket = platform::OpenUdp();
        platform::Bind(c.socket, platform::Endpoint{platform::kAnyAddress, kDiscoveryPort});
      });
      world.Watch(c.socket, [this, &c] { TakeProbes(c); });
    }
    dialog = std::make_unique<CPKGLIFTDlg>();
    dialog->OnInitDialog();
  }

  ~Site() {
    dialog.reset();
    for (Controller& c : controllers) {
      world.Unwatch(c.socket);
      world.RunAs(c.host, [&] { platform::Close(c.socket); });
    }
  }

  int Batches() const { return (int(controllers.size()) + kAnswersPerBatch - 1) / kAnswersPerBatch; }
  World& Lan() { return world; }
  CPKGLIFTDlg& Dialog() { return *dialog; }

  // What the timer's loop does with the answers waiting: reads them all. The number read.
  int ReadEverything() {
    int read = 0;
    for (auto& socket : dialog->DiscoverySockets()) {
      while (dialog->ReadAnswer(*socket)) ++read;
    }
    return read;
  }

 private:
  void TakeProbes(Controller& c) {
    uint8_t probe[kMaxDatagramReadBytes];
    platform::Endpoint from;
    uint32_t pending = 0;
    while (platform::PendingBytes(c.socket, &pending) == 0 && pending > 0) {
      if (platform::RecvFrom(c.socket, probe, sizeof probe, &from) != kProbeBytes) continue;
      world.Schedule(c.delayMs, [&c, from] { platform::SendTo(c.socket, c.answer.data(), kAnswerBytes, from); });
    }
  }

  World world{0, 1};
  std::vector<Controller> controllers;
  std::unique_ptr<CPKGLIFTDlg> dialog;
};

// One second of the LAN from just after a probe: the batches of answers read as they arrive, then
// the timer itself (nothing left to read; the next probe; the expiry look). With a state, only the
// dialog's calls are timed. `refill` empties the list first, as a filter change does, so that every
// answer makes a new line. The number of datagrams read.
int Tick(Site& site, bool refill, benchmark::State* state = nullptr) {
  auto pause = [state] {
    if (state) state->PauseTiming();
  };
  auto resume = [state] {
    if (state) state->ResumeTiming();
  };
  pause();
  if (refill) site.Dialog().ClearDeviceList();
  int read = 0;
  uint32_t elapsedMs = 0;
  for (int batch = 0; batch < site.Batches(); ++batch) {
    uint32_t stepMs = batch == 0 ? 1 : kBatchGapMs;
    site.Lan().RunFor(stepMs);
    elapsedMs += stepMs;
    resume();
    read += site.ReadEverything();
    pause();
  }
  site.Lan().RunFor(kDiscoveryPeriodMs - elapsedMs);
  resume();
  site.Dialog().OnTimer(kDiscoveryTimerId);
  return read;
}

void Run(benchmark::State& state, bool refill) {
  const int count = int(state.range(0));
  Site site(count);
  // The first probe goes out on the first tick, a second after the dialog opened; the tick after
  // lists every controller.
  site.Lan().RunFor(kDiscoveryPeriodMs);
  site.Dialog().OnTimer(kDiscoveryTimerId);
  Tick(site, false);
  int read = 0;
  for (auto _ : state) read = Tick(site, refill, &state);
  // The dialog's socket hears its own probe too: one datagram more than there are controllers.
  state.counters["datagrams"] = read;
  state.counters["lines"] = site.Dialog().DeviceList().GetCount();
  if (read != count + 1 || site.Dialog().DeviceList().GetCount() != count) {
    state.SkipWithError("not every controller was read and listed");
  }
}

// Every controller is listed already: each answer refreshes its line's record.
void BM_SteadyTick(benchmark::State& state) { Run(state, false); }
// The list was just emptied (a filter change): each answer adds its line.
void BM_RefillTick(benchmark::State& state) { Run(state, true); }

double Min(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

BENCHMARK(BM_SteadyTick)->Arg(10)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Min);
BENCHMARK(BM_RefillTick)->Arg(10)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", Min);

}  // namespace

BENCHMARK_MAIN();
