// One table of socket behaviours, run against the real sockets (loopback only) and the simulated
// LAN, so that the simulation cannot drift from what the program meets on a real machine.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/world.h"
#include "platform/socket.h"
#include "tests/support/test_world.h"

namespace {

using namespace platform;

constexpr uint32_t kLoopback = MakeAddress(127, 0, 0, 1);

enum class Kind { Real, Simulated };

class SocketContract : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    if (GetParam() == Kind::Simulated) {
      world = std::make_unique<testing_support::TestWorld>(0, 42);
      world->AddHost("pc", MakeAddress(10, 0, 0, 2));
    }
  }

  void TearDown() override {
    for (Socket s : opened) Close(s);
  }

  Socket Track(Socket s) {
    if (s != kInvalidSocket) opened.push_back(s);
    return s;
  }

  void Forget(Socket s) { std::erase(opened, s); }

  // A listening socket on loopback and its port.
  Socket Listener(Endpoint* where) {
    Socket l = Track(OpenTcp());
    EXPECT_EQ(Bind(l, Endpoint{kLoopback, 0}), 0);
    EXPECT_EQ(Listen(l, 4), 0);
    EXPECT_EQ(LocalEndpoint(l, where), 0);
    return l;
  }

  // A connected pair: client and the accepted server side.
  void Pair(Socket* client, Socket* server) {
    Endpoint where;
    Socket l = Listener(&where);
    *client = Track(OpenTcp());
    ASSERT_EQ(Connect(*client, where), 0);
    *server = Track(Accept(l, nullptr));
    ASSERT_NE(*server, kInvalidSocket);
  }

  // Reads exactly n bytes, however the stream is cut.
  std::string ReadAll(Socket s, size_t n) {
    std::string got;
    char buffer[512];
    while (got.size() < n) {
      if (WaitReadable(s, 1000) != 1) break;
      int r = Recv(s, buffer, int(std::min(sizeof buffer, n - got.size())));
      if (r <= 0) break;
      got.append(buffer, size_t(r));
    }
    return got;
  }

  std::unique_ptr<sim::World> world;
  std::vector<Socket> opened;
};

TEST_P(SocketContract, StreamCarriesBytesInOrderBothWays) {
  Socket client, server;
  Pair(&client, &server);
  const std::string hello = "CONNECTSERVERHOST\r\n\r\n";
  ASSERT_EQ(Send(client, hello.data(), int(hello.size())), int(hello.size()));
  EXPECT_EQ(ReadAll(server, hello.size()), hello);
  std::string big(70000, 'x');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char('a' + i % 26);
  ASSERT_EQ(Send(server, big.data(), int(big.size())), int(big.size()));
  EXPECT_EQ(ReadAll(client, big.size()), big);
}

TEST_P(SocketContract, WaitsReportReadinessAndTimeOut) {
  Socket client, server;
  Pair(&client, &server);
  EXPECT_EQ(WaitReadable(server, 20), 0);
  EXPECT_EQ(WaitWritable(client, 0), 1);
  ASSERT_EQ(Send(client, "abcd", 4), 4);
  EXPECT_EQ(WaitReadable(server, 1000), 1);
  uint32_t pending = 0;
  ASSERT_EQ(PendingBytes(server, &pending), 0);
  EXPECT_GE(pending, 1u);
  EXPECT_LE(pending, 4u);
}

TEST_P(SocketContract, PeerCloseReadsAsZeroAfterTheData) {
  Socket client, server;
  Pair(&client, &server);
  ASSERT_EQ(Send(server, "bye", 3), 3);
  ASSERT_EQ(Close(server), 0);
  Forget(server);
  EXPECT_EQ(ReadAll(client, 3), "bye");
  ASSERT_EQ(WaitReadable(client, 1000), 1);
  char c;
  EXPECT_EQ(Recv(client, &c, 1), 0);
}

TEST_P(SocketContract, SendOnAClosedSocketFails) {
  Socket client, server;
  Pair(&client, &server);
  ASSERT_EQ(Close(client), 0);
  Forget(client);
  EXPECT_EQ(Send(client, "x", 1), -1);
}

TEST_P(SocketContract, ConnectWithoutListenerIsRefused) {
  Endpoint where;
  Socket l = Listener(&where);
  ASSERT_EQ(Close(l), 0);
  Forget(l);
  Socket client = Track(OpenTcp());
  EXPECT_EQ(Connect(client, where), -1);
  EXPECT_EQ(LastSocketError(), ECONNREFUSED);
}

TEST_P(SocketContract, BindingAHeldAddressAndPortFails) {
  Socket a = Track(OpenUdp());
  ASSERT_EQ(Bind(a, Endpoint{kLoopback, 0}), 0);
  Endpoint held;
  ASSERT_EQ(LocalEndpoint(a, &held), 0);
  Socket b = Track(OpenUdp());
  EXPECT_EQ(Bind(b, held), -1);
  EXPECT_EQ(LastSocketError(), EADDRINUSE);
}

TEST_P(SocketContract, ListeningPortBindsAgainRightAfterItsConnectionsClosedButNotBesideALiveListener) {
  Endpoint where;
  Socket first = Listener(&where);
  Socket client = Track(OpenTcp());
  ASSERT_EQ(Connect(client, where), 0);
  Socket served = Accept(first, nullptr);
  ASSERT_NE(served, kInvalidSocket);
  // The server side closes first, so that it is the one left in TIME_WAIT on the listening port.
  ASSERT_EQ(Close(served), 0);
  ASSERT_EQ(WaitReadable(client, 1000), 1);
  char c;
  ASSERT_EQ(Recv(client, &c, 1), 0);
  ASSERT_EQ(Close(client), 0);
  Forget(client);
  ASSERT_EQ(Close(first), 0);
  Forget(first);

  Socket second = Track(OpenTcp());
  ASSERT_EQ(Bind(second, where), 0) << "error " << LastSocketError();
  ASSERT_EQ(Listen(second, 4), 0);
  for (Endpoint taken : {where, Endpoint{kAnyAddress, where.port}}) {
    Socket third = Track(OpenTcp());
    EXPECT_EQ(Bind(third, taken), -1) << "address " << taken.address;
    EXPECT_EQ(LastSocketError(), EADDRINUSE);
  }
  // The live listener still takes connections.
  Socket late = Track(OpenTcp());
  EXPECT_EQ(Connect(late, where), 0);
}

TEST_P(SocketContract, BroadcastNeedsTheFlag) {
  Socket s = Track(OpenUdp());
  ASSERT_EQ(Bind(s, Endpoint{kLoopback, 0}), 0);
  // Refused before anything leaves, so this is safe on a real machine too.
  EXPECT_EQ(SendTo(s, "GH\0\0\0\0\0\0", 8, Endpoint{kBroadcastAddress, 444}), -1);
  EXPECT_EQ(LastSocketError(), EACCES);
}

TEST_P(SocketContract, DatagramsKeepTheirSizeAndSender) {
  Socket receiver = Track(OpenUdp());
  ASSERT_EQ(Bind(receiver, Endpoint{kLoopback, 0}), 0);
  Endpoint to;
  ASSERT_EQ(LocalEndpoint(receiver, &to), 0);
  Socket sender = Track(OpenUdp());
  ASSERT_EQ(Bind(sender, Endpoint{kLoopback, 0}), 0);
  Endpoint from;
  ASSERT_EQ(LocalEndpoint(sender, &from), 0);

  std::vector<uint8_t> answer(180, 0x5A), probe(8, 0x47), big(300, 0x33);
  ASSERT_EQ(SendTo(sender, answer.data(), 180, to), 180);
  ASSERT_EQ(SendTo(sender, probe.data(), 8, to), 8);
  ASSERT_EQ(SendTo(sender, big.data(), 300, to), 300);

  uint8_t buffer[256];
  Endpoint seen;
  const struct {
    uint32_t pending;
    int read;
  } expected[] = {{180, 180}, {8, 8}, {300, 256}};  // a longer datagram is cut to the buffer
  for (const auto& e : expected) {
    ASSERT_EQ(WaitReadable(receiver, 1000), 1);
    uint32_t pending = 0;
    ASSERT_EQ(PendingBytes(receiver, &pending), 0);
    EXPECT_EQ(pending, e.pending);
    EXPECT_EQ(RecvFrom(receiver, buffer, sizeof buffer, &seen), e.read);
    EXPECT_EQ(seen.address, kLoopback);
    EXPECT_EQ(seen.port, from.port);
  }
  uint32_t pending = 99;
  ASSERT_EQ(PendingBytes(receiver, &pending), 0);
  EXPECT_EQ(pending, 0u);
  EXPECT_EQ(WaitReadable(receiver, 10), 0);
}

TEST_P(SocketContract, WaitReadyReportsTheWantedConditionsThatHold) {
  Socket client, server;
  Pair(&client, &server);
  const int both = kReadReady | kWriteReady;
  EXPECT_EQ(WaitReady(client, both, 0), kWriteReady);
  EXPECT_EQ(WaitReady(server, kReadReady, 20), 0);
  ASSERT_EQ(Send(client, "abcd", 4), 4);
  EXPECT_EQ(WaitReady(server, kReadReady, 1000), kReadReady);
  EXPECT_EQ(WaitReady(server, both, 0), both);
  EXPECT_EQ(WaitReady(server, kWriteReady, 0), kWriteReady);
  // The peer's close reads as readable, and a send is still allowed until it is answered.
  ASSERT_EQ(Close(server), 0);
  Forget(server);
  ASSERT_EQ(WaitReadable(client, 1000), 1);
  EXPECT_EQ(WaitReady(client, both, 0), both);
  EXPECT_EQ(WaitReady(kInvalidSocket, both, 0), -1);
}

TEST_P(SocketContract, TimedOutSendToAPeerThatNeverReadsHandsOverPartOrNothing) {
  // Several times what a loopback connection holds unread (a few MiB with the kernel's default
  // buffer limits), so that the first send fills the window on either implementation. A real stack
  // may still find a little room for the second one as its send buffer grows.
  constexpr int kBytes = 16 * 1024 * 1024;
  constexpr uint32_t kTimeoutMs = 100;
  Socket client, server;
  Pair(&client, &server);
  std::vector<uint8_t> data(size_t(kBytes) * 2);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i % 251);
  ASSERT_EQ(SetSendTimeout(client, kTimeoutMs), 0);
  uint64_t startMs = world ? world->NowMs() : 0;

  int first = Send(client, data.data(), kBytes);
  ASSERT_GT(first, 0);
  ASSERT_LT(first, kBytes);
  int second = Send(client, data.data() + first, kBytes);
  EXPECT_LT(second, kBytes);
  if (second < 0) {
    EXPECT_EQ(LastSocketError(), ETIMEDOUT);
  }
  if (world) {
    EXPECT_EQ(second, -1);  // the window opens only as the peer reads
    EXPECT_EQ(world->NowMs() - startMs, 2 * kTimeoutMs);
  }

  // Exactly what the sends handed over arrives, in order, and nothing more.
  size_t handedOver = size_t(first) + size_t(std::max(second, 0));
  std::vector<uint8_t> got(handedOver);
  size_t have = 0;
  while (have < handedOver && WaitReadable(server, 1000) == 1) {
    int n = Recv(server, got.data() + have, int(handedOver - have));
    if (n <= 0) break;
    have += size_t(n);
  }
  ASSERT_EQ(have, handedOver);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), data.begin()));
  EXPECT_EQ(WaitReadable(server, 50), 0);
}

#ifndef _WIN32
// Signals are the real machine's alone: a Ctrl-C that only asks a run to stop lands while a chunk
// send is blocked on a full window. The send must go on and hand over every byte once the peer
// reads, as Winsock's would, instead of coming back short and breaking the connection.
TEST(RealSockets, ASendCutShortByASignalGoesOnUntilEveryByteIsHandedOver) {
  struct sigaction quiet {};
  quiet.sa_handler = [](int) {};
  sigemptyset(&quiet.sa_mask);
  quiet.sa_flags = SA_RESTART;  // as the program's own Ctrl-C handler
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGUSR1, &quiet, &before), 0);

  Socket l = OpenTcp();
  Endpoint where;
  ASSERT_EQ(Bind(l, Endpoint{kLoopback, 0}), 0);
  ASSERT_EQ(Listen(l, 1), 0);
  ASSERT_EQ(LocalEndpoint(l, &where), 0);
  Socket client = OpenTcp();
  ASSERT_EQ(Connect(client, where), 0);
  Socket server = Accept(l, nullptr);
  ASSERT_NE(server, kInvalidSocket);
  ASSERT_EQ(SetSendTimeout(client, 10000), 0);  // as a session's connection has

  constexpr int kBytes = 32 * 1024 * 1024;  // far beyond what loopback holds unread
  std::vector<uint8_t> data(kBytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i % 251);
  std::vector<uint8_t> got;
  pthread_t sender = pthread_self();
  std::thread peer([&] {
    // Signal the blocked sender a few times, then read everything.
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(40));
      pthread_kill(sender, SIGUSR1);
    }
    std::vector<uint8_t> buffer(65536);
    while (got.size() < size_t(kBytes) && WaitReadable(server, 5000) == 1) {
      int n = Recv(server, buffer.data(), int(buffer.size()));
      if (n <= 0) break;
      got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
  });
  int sent = Send(client, data.data(), kBytes);
  peer.join();
  sigaction(SIGUSR1, &before, nullptr);
  Close(client);
  Close(server);
  Close(l);

  EXPECT_EQ(sent, kBytes);
  ASSERT_EQ(got.size(), size_t(kBytes));
  EXPECT_TRUE(got == data);
}
#endif

INSTANTIATE_TEST_SUITE_P(BothImplementations, SocketContract, ::testing::Values(Kind::Real, Kind::Simulated),
                         [](const auto& info) { return info.param == Kind::Real ? "Real" : "Simulated"; });

}  // namespace
