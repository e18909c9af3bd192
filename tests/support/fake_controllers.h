#pragma once
// Controllers on a simulated LAN as far as discovery goes: each is a host with a UDP socket on port
// 444 that answers every system probe with its 180-byte discovery answer, laid out here by hand so
// that the client's reading of the answer is checked against an independent writing of it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/sim/world.h"
#include "platform/socket.h"

namespace testing_support {

// The fields of a discovery answer.
struct DiscoveryAnswer {
  uint32_t address = 0;  // network order; also the controller host's address on the LAN
  uint16_t port = 5000;
  uint8_t type = 1;
  uint8_t subtype = 2;
  std::string name = "Controller";
  // Written into its 12 bytes at offset 40; twelve characters leave no zero byte behind them, so
  // the text runs on into `extra` when that is not empty.
  std::string mac;
  std::string extra;  // the text at offset 52
};

// A controller at 192.168.1.<last> with the given codes and MAC.
DiscoveryAnswer Controller(uint8_t last, int type, int subtype, const char* mac);

// The 180-byte answer: every byte not given by a field is zero.
std::vector<uint8_t> AnswerBytes(const DiscoveryAnswer& answer);
// The 8-byte system probe.
std::vector<uint8_t> ProbeBytes();

struct FakeController {
  DiscoveryAnswer answer;  // what the next probes get; change it at will
  bool silent = false;     // takes probes without answering
  // When set, each probe is answered with these datagrams (any lengths) instead of the answer.
  std::optional<std::vector<std::vector<uint8_t>>> replies;
  int probesSeen = 0;
  platform::sim::HostId host = 0;
  platform::Socket socket = platform::kInvalidSocket;
};

class FakeControllers {
 public:
  // The world outlives this object.
  explicit FakeControllers(platform::sim::World& world) : world(world) {}
  ~FakeControllers();
  FakeControllers(const FakeControllers&) = delete;
  FakeControllers& operator=(const FakeControllers&) = delete;

  // Puts a controller on the LAN at answer.address (mask 255.255.255.0) and returns it. The
  // reference stays valid while this object lives.
  FakeController& Add(const DiscoveryAnswer& answer);
  FakeController& operator[](size_t index) { return *controllers.at(index); }
  size_t size() const { return controllers.size(); }

  // Sends one datagram from controller `from`'s discovery socket, as if in answer to a probe.
  void Send(FakeController& from, const std::vector<uint8_t>& bytes, platform::Endpoint to);

 private:
  void TakeProbes(FakeController& controller);

  platform::sim::World& world;
  std::vector<std::unique_ptr<FakeController>> controllers;
};

}  // namespace testing_support
