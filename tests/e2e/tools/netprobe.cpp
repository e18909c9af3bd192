// A small probe that end-to-end tests run inside a host namespace of scripts/lan, to see the real
// platform from there: the adapter table, and a limited broadcast from a socket that has no address
// of its own. (The device list comes from the shipped `bsplift list`.)
//
//   bsplift-netprobe adapters          "count N", then "adapter<TAB>description<TAB>mac<TAB>addr/mask,…"
//   bsplift-netprobe probe-unbound MS  broadcast the probe unbound, print "answer SIZE from ADDR"
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/adapters.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace {

int Adapters() {
  int count = 0;
  if (platform::GetAddressCount(&count) != 0) return 1;
  std::printf("count %d\n", count);
  std::vector<platform::Adapter> adapters;
  if (platform::GetAdapters(&adapters) != 0) return 1;
  for (const platform::Adapter& a : adapters) {
    const auto& m = a.hardwareAddress;
    std::printf("adapter\t%s\t%02x:%02x:%02x:%02x:%02x:%02x\t", a.description.c_str(), m[0], m[1], m[2], m[3], m[4],
                m[5]);
    for (size_t i = 0; i < a.addresses.size(); ++i) {
      std::printf("%s%s/%s", i ? "," : "", a.addresses[i].address.c_str(), a.addresses[i].mask.c_str());
    }
    std::printf("\n");
  }
  return 0;
}

int ProbeUnbound(uint32_t ms) {
  platform::Socket s = platform::OpenUdp();
  if (platform::SetBroadcast(s, true) != 0) return 1;
  const uint8_t probe[8] = {0x47, 0x48, 0, 0, 0, 0, 0, 0};
  int sent = platform::SendTo(s, probe, sizeof probe, platform::Endpoint{platform::kBroadcastAddress, 444});
  std::printf("sent %d\n", sent);
  uint32_t start = platform::GetTickCount();
  uint8_t buffer[256];
  while (platform::MsSince(start) < ms) {
    if (platform::WaitReadable(s, 50) != 1) continue;
    platform::Endpoint from;
    int n = platform::RecvFrom(s, buffer, sizeof buffer, &from);
    std::printf("answer %d from %u.%u.%u.%u\n", n, from.address & 0xFF, (from.address >> 8) & 0xFF,
                (from.address >> 16) & 0xFF, from.address >> 24);
  }
  platform::Close(s);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  uint32_t ms = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 0;
  int result = 2;
  if (command == "adapters") result = Adapters();
  if (command == "probe-unbound") result = ProbeUnbound(ms);
  if (result == 2) std::fprintf(stderr, "usage: bsplift-netprobe adapters | probe-unbound MS\n");
  std::fflush(stdout);
  return result;
}
