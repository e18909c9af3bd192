// The controller simulator answering discovery by broadcast, inside a simulated LAN: the answer goes
// to 255.255.255.255 at the probe's source port, so a PC that did not probe hears it as well, on
// that port only; without the option only the prober hears it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "sim/controller.h"
#include "sim/world_reactor.h"
#include "tests/support/test_world.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;

constexpr uint32_t kProberAddress = MakeAddress(10, 0, 0, 2);
constexpr uint32_t kBystanderAddress = MakeAddress(10, 0, 0, 3);
constexpr uint32_t kControllerAddress = MakeAddress(10, 0, 0, 20);
constexpr uint16_t kOtherPort = 5000;
constexpr size_t kAnswerBytes = 180;
const std::vector<uint8_t> kProbe = {0x47, 0x48, 0, 0, 0, 0, 0, 0};

// A UDP socket bound to address:port on the host, with broadcasts allowed, as the main dialog's.
Socket BoundSocket(testing_support::TestWorld& world, platform::sim::HostId host, uint32_t address, uint16_t port) {
  Socket s = kInvalidSocket;
  world.RunAs(host, [&] {
    s = OpenUdp();
    EXPECT_EQ(Bind(s, Endpoint{address, port}), 0);
    EXPECT_EQ(SetBroadcast(s, true), 0);
  });
  return s;
}

// How many discovery answers from the controller's port 444 came to s; probes and other datagrams
// are read and passed over.
int AnswersHeard(Socket s) {
  int answers = 0;
  while (WaitReadable(s, 0) == 1) {
    uint8_t buffer[256];
    Endpoint from;
    int size = RecvFrom(s, buffer, sizeof buffer, &from);
    if (size == int(kAnswerBytes) && from.address == kControllerAddress && from.port == ::sim::kDiscoveryPort) {
      ++answers;
    }
  }
  return answers;
}

TEST(ControllerBroadcastAnswer, GoesToEveryoneOnTheProbesPortOnlyWhenAskedFor) {
  const struct {
    bool byBroadcast;
    uint16_t proberPort;
    int proberHears;
    int bystanderOnProberPortHears;
    int bystanderOnOtherPortHears;
    std::string logged;
  } cases[] = {
      {true, ::sim::kDiscoveryPort, 1, 1, 0, "probe from 10.0.0.2:444 answered to 255.255.255.255:444"},
      {true, kOtherPort, 1, 1, 0, "probe from 10.0.0.2:5000 answered to 255.255.255.255:5000"},
      {false, ::sim::kDiscoveryPort, 1, 0, 0, "probe from 10.0.0.2:444 answered"},
  };
  fs::path root = fs::temp_directory_path() / ("bsplift-broadcast-answer-" + std::to_string(::getpid()));
  for (const auto& c : cases) {
    SCOPED_TRACE("byBroadcast " + std::to_string(c.byBroadcast) + ", prober port " + std::to_string(c.proberPort));
    testing_support::TestWorld world(0, 7);
    platform::sim::HostId prober = world.AddHost("pc", kProberAddress);
    platform::sim::HostId bystander = world.AddHost("other pc", kBystanderAddress);
    platform::sim::HostId controllerHost = world.AddHost("controller", kControllerAddress);

    std::vector<std::string> log;
    ::sim::ControllerConfig config;
    config.address = kControllerAddress;
    config.root = root.string();
    config.answerByBroadcast = c.byBroadcast;
    config.log = [&log](const std::string& line) { log.push_back(line); };
    ::sim::WorldReactor reactor(world, controllerHost);
    auto controller = std::make_unique<::sim::Controller>(config);
    ASSERT_EQ(controller->Start(reactor), 1);

    uint16_t otherPort = c.proberPort == kOtherPort ? ::sim::kDiscoveryPort : kOtherPort;
    Socket asker = BoundSocket(world, prober, kProberAddress, c.proberPort);
    Socket samePort = BoundSocket(world, bystander, kBystanderAddress, c.proberPort);
    Socket elsewhere = BoundSocket(world, bystander, kBystanderAddress, otherPort);
    world.RunAs(prober, [&] {
      SendTo(asker, kProbe.data(), int(kProbe.size()), Endpoint{kBroadcastAddress, ::sim::kDiscoveryPort});
    });
    world.RunFor(100);

    EXPECT_EQ(AnswersHeard(asker), c.proberHears);
    EXPECT_EQ(AnswersHeard(samePort), c.bystanderOnProberPortHears);
    EXPECT_EQ(AnswersHeard(elsewhere), c.bystanderOnOtherPortHears);
    EXPECT_NE(std::find(log.begin(), log.end(), c.logged), log.end()) << "controller log lacks: " << c.logged;

    for (Socket s : {asker, samePort, elsewhere}) Close(s);
    controller.reset();
  }
  fs::remove_all(root);
}

}  // namespace
