#include "discovery/ping_socket.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/world.h"
#include "platform/socket.h"
#include "tests/support/test_world.h"

namespace {

using platform::Endpoint;
using platform::MakeAddress;
using testing_support::TestWorld;

constexpr uint32_t kPc = MakeAddress(192, 168, 1, 10);
constexpr uint32_t kController = MakeAddress(192, 168, 1, 20);

// A PC and one other host on the LAN with a socket on port 444 that sees the probes.
class PingSocket : public ::testing::Test {
 protected:
  PingSocket() {
    world.AddHost("pc", kPc);
    controller = world.AddHost("controller", kController);
    world.RunAs(controller, [&] {
      peer = platform::OpenUdp();
      platform::Bind(peer, Endpoint{platform::kAnyAddress, 444});
    });
  }

  // Every datagram that reached the other host.
  std::vector<std::vector<uint8_t>> Received(Endpoint* from) {
    std::vector<std::vector<uint8_t>> all;
    world.RunFor(1);
    world.RunAs(controller, [&] {
      uint32_t pending = 0;
      while (platform::PendingBytes(peer, &pending) == 0 && pending > 0) {
        std::vector<uint8_t> bytes(pending);
        platform::RecvFrom(peer, bytes.data(), int(bytes.size()), from);
        all.push_back(bytes);
      }
    });
    return all;
  }

  void SendToPc(const std::vector<uint8_t>& bytes) {
    world.RunAs(controller, [&] { platform::SendTo(peer, bytes.data(), int(bytes.size()), Endpoint{kPc, 444}); });
    world.RunFor(1);
  }

  TestWorld world;
  platform::sim::HostId controller = 0;
  platform::Socket peer = platform::kInvalidSocket;
};

TEST_F(PingSocket, BroadcastsTheEightByteSystemProbeFromItsAddressAndPort444) {
  CPingSocket socket(kPc);
  ASSERT_TRUE(socket.IsValid());
  EXPECT_EQ(socket.SendProbe(), 1);
  Endpoint from;
  EXPECT_EQ(Received(&from), (std::vector<std::vector<uint8_t>>{{0x47, 0x48, 0, 0, 0, 0, 0, 0}}));
  EXPECT_EQ(from.address, kPc);
  EXPECT_EQ(from.port, 444);
}

TEST_F(PingSocket, StillProbesWhenItsAddressCannotBeBound) {
  CPingSocket taken(kPc);
  CPingSocket second(kPc);  // the address and port are held by the first
  ASSERT_TRUE(second.IsValid());
  EXPECT_EQ(second.SendProbe(), 1);
  Endpoint from;
  EXPECT_EQ(Received(&from).size(), 1u);
  EXPECT_NE(from.port, 444);
}

TEST_F(PingSocket, TakesOneDatagramPerCallAndReportsOnlyExactly180BytesAsAnAnswer) {
  CPingSocket socket(kPc);
  std::vector<uint8_t> answer(180);
  for (size_t i = 0; i < answer.size(); ++i) answer[i] = uint8_t(i);
  for (int size : {179, 181, 300, 256, 8}) SendToPc(std::vector<uint8_t>(size_t(size), 0xAB));
  SendToPc(answer);

  uint8_t buffer[180] = {};
  Endpoint sender;
  for (int i = 0; i < 5; ++i) EXPECT_EQ(socket.ReceiveAnswer(buffer, &sender), 1) << "datagram " << i;
  EXPECT_EQ(buffer[0], 0) << "a datagram that is not an answer is not copied out";
  EXPECT_EQ(socket.ReceiveAnswer(buffer, &sender), 2);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 180), answer);
  EXPECT_EQ(sender.address, kController);
  EXPECT_EQ(sender.port, 444);
  EXPECT_EQ(socket.ReceiveAnswer(buffer, &sender), 0);
}

TEST_F(PingSocket, AnEmptyDatagramIsConsumedInsteadOfHoldingBackTheAnswersBehindIt) {
  CPingSocket socket(kPc);
  SendToPc({});
  SendToPc(std::vector<uint8_t>(180, 0x31));
  uint8_t buffer[180] = {};
  Endpoint sender;
  EXPECT_EQ(socket.ReceiveAnswer(buffer, &sender), 1);
  EXPECT_EQ(socket.ReceiveAnswer(buffer, &sender), 2);
  EXPECT_EQ(socket.ReceiveAnswer(buffer, &sender), 0);
}

}  // namespace
