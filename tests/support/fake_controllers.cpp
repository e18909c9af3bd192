#include "tests/support/fake_controllers.h"

#include <algorithm>
#include <cstring>

namespace testing_support {
namespace {

constexpr uint16_t kPort = 444;
constexpr size_t kAnswerSize = 180;

void PutText(std::vector<uint8_t>& out, size_t offset, const std::string& text, size_t room) {
  std::memcpy(out.data() + offset, text.data(), std::min(text.size(), room));
}

std::string HostName(size_t index) { return "controller-" + std::to_string(index + 1); }

}  // namespace

std::vector<uint8_t> AnswerBytes(const DiscoveryAnswer& answer) {
  std::vector<uint8_t> out(kAnswerSize, 0);
  std::memcpy(out.data() + 4, &answer.address, 4);  // network order: first octet first
  out[8] = uint8_t(answer.port);
  out[9] = uint8_t(answer.port >> 8);
  out[10] = answer.type;
  out[11] = answer.subtype;
  PutText(out, 12, answer.name, 28);
  PutText(out, 40, answer.mac, 12);
  PutText(out, 52, answer.extra, kAnswerSize - 52);
  return out;
}

std::vector<uint8_t> ProbeBytes() { return {0x47, 0x48, 0, 0, 0, 0, 0, 0}; }

FakeControllers::~FakeControllers() {
  for (auto& controller : controllers) {
    world.Unwatch(controller->socket);
    world.RunAs(controller->host, [&] { platform::Close(controller->socket); });
  }
}

FakeController& FakeControllers::Add(const DiscoveryAnswer& answer) {
  auto controller = std::make_unique<FakeController>();
  FakeController* c = controller.get();
  c->answer = answer;
  c->host = world.AddHost(HostName(controllers.size()), answer.address);
  world.RunAs(c->host, [&] {
    c->socket = platform::OpenUdp();
    platform::Bind(c->socket, platform::Endpoint{platform::kAnyAddress, kPort});
  });
  world.Watch(c->socket, [this, c] { TakeProbes(*c); });
  controllers.push_back(std::move(controller));
  return *c;
}

void FakeControllers::Send(FakeController& from, const std::vector<uint8_t>& bytes, platform::Endpoint to) {
  world.RunAs(from.host, [&] { platform::SendTo(from.socket, bytes.data(), int(bytes.size()), to); });
}

void FakeControllers::TakeProbes(FakeController& c) {
  uint32_t pending = 0;
  while (platform::PendingBytes(c.socket, &pending) == 0 && pending > 0) {
    std::vector<uint8_t> datagram(pending);
    platform::Endpoint sender;
    int size = platform::RecvFrom(c.socket, datagram.data(), int(datagram.size()), &sender);
    if (size != 8 || datagram != ProbeBytes()) continue;
    ++c.probesSeen;
    if (c.silent) continue;
    std::vector<std::vector<uint8_t>> out;
    if (c.replies) {
      out = *c.replies;
    } else {
      out.push_back(AnswerBytes(c.answer));
    }
    for (const auto& bytes : out) platform::SendTo(c.socket, bytes.data(), int(bytes.size()), sender);
  }
}

DiscoveryAnswer Controller(uint8_t last, int type, int subtype, const char* mac) {
  DiscoveryAnswer answer;
  answer.address = platform::MakeAddress(192, 168, 1, last);
  answer.type = uint8_t(type);
  answer.subtype = uint8_t(subtype);
  answer.mac = mac;
  return answer;
}

}  // namespace testing_support
