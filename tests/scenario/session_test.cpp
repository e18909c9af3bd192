// The server session, its queries and its login against a scripted controller in a simulated LAN.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/codes.h"
#include "net/query.h"
#include "net/server.h"
#include "sim/wire.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/sim_messages.h"
#include "tests/support/test_world.h"

namespace {

using namespace testing_support;
using platform::Endpoint;
using platform::MakeAddress;

const uint32_t kPc = MakeAddress(192, 168, 1, 10);
const uint32_t kCtl = MakeAddress(192, 168, 1, 20);
const Endpoint kService{kCtl, 5000};

// A sink with an id of the test's choosing that writes down what reaches it.
class RecordingSink : public CSocketSink {
 public:
  RecordingSink(int16_t id, std::vector<std::string>* log, std::string name)
      : CSocketSink(id), log(log), name(std::move(name)) {}
  void OnMessage(CVRMSG* message) override {
    message->Rewind();  // one message object visits every sink in turn
    log->push_back(name + ":" + std::to_string(message->GetCode()) + ":" + message->ReadString());
  }
  void OnConnectionState(int up) override { states.push_back(up); }

  std::vector<int> states;

 private:
  std::vector<std::string>* log;
  std::string name;
};

class Session : public ::testing::Test {
 protected:
  Session() : world(0, 1234) {
    world.AddHost("pc", kPc);
    controller = world.AddHost("controller", kCtl);
    peer = std::make_unique<ScriptedPeer>(world, controller, kService);
  }

  ~Session() override { CloseServer(); }

  void TearDown() override {
    EXPECT_FALSE(peer->FramingBroken()) << "the client sent a length field that no frame can have";
  }

  CVRServer& NewServer(int32_t type = 9) {
    SetServer(std::make_unique<CVRServer>());
    GetServer()->SetTarget(type, "");
    return *GetServer();
  }

  // A session logged in under type 9.
  CVRServer& LoggedIn() {
    peer->AnswerLogin({19});
    CVRServer& server = NewServer(9);
    EXPECT_EQ(server.Connect(kService), 1);
    return server;
  }

  // A sink with id 9, registered with the session, writing into `log`.
  RecordingSink& Listen(CVRServer& server) {
    sink = std::make_unique<RecordingSink>(9, &log, "s");
    server.AddSink(sink.get());
    return *sink;
  }

  TestWorld world;
  platform::sim::HostId controller;
  std::unique_ptr<ScriptedPeer> peer;
  std::vector<std::string> log;
  std::unique_ptr<RecordingSink> sink;
};

TEST_F(Session, LoginUnderTypeOneIsRefusedThenTypeNineIsAccepted) {
  peer->AnswerLogin({19});
  EXPECT_EQ(NewServer(1).Connect(kService), 0);
  EXPECT_EQ(GetServer()->IsConnected(), 0);
  EXPECT_TRUE(peer->PrimerOk());
  ASSERT_EQ(peer->RequestsWith(27).size(), 1u);
  EXPECT_EQ(IntAt(peer->RequestsWith(27)[0].payload, 0), 813);

  EXPECT_EQ(NewServer(9).Connect(kService), 1);
  EXPECT_EQ(GetServer()->IsConnected(), 1);
  std::vector<sim::Frame> logins = peer->RequestsWith(27);
  ASSERT_EQ(logins.size(), 2u);
  sim::WireReader r(logins[1].payload);
  int32_t magic = 0, kind = 0;
  ASSERT_EQ(r.Int(&magic) && r.Int(&kind), 1);
  EXPECT_EQ(magic, 813);
  EXPECT_EQ(kind, 19);
}

TEST_F(Session, LoginRequestCarriesItsItemsInOrder) {
  std::string challenge = "0123456789abcdefXYZ";
  LoggedIn();
  std::vector<sim::Frame> logins = peer->RequestsWith(27);
  ASSERT_EQ(logins.size(), 1u);
  // Spelled out byte by byte: magic 813, kind 19, "VRSTART" padded to 8, proof length 16, the proof,
  // 2, and four empty strings.
  std::vector<uint8_t> expected = {0x2D, 0x03, 0, 0, 19, 0, 0, 0, 7, 0, 0, 0, 'V', 'R', 'S', 'T', 'A', 'R', 'T', 0,
                                   16, 0, 0, 0};
  std::vector<uint8_t> proof = ProofFor(challenge);
  expected.insert(expected.end(), proof.begin(), proof.end());
  expected.insert(expected.end(), {2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(logins[0].payload, expected);
  EXPECT_EQ(logins[0].payload.size(), 60u);
}

TEST_F(Session, ProofUsesTheFirstSixteenBytesOfWhateverChallengeCame) {
  const std::string challenges[] = {"", "short", "0123456789abcdef", "0123456789abcdefANYTHING-MORE"};
  for (const std::string& challenge : challenges) {
    peer->AnswerLogin({19}, challenge);
    EXPECT_EQ(NewServer(9).Connect(kService), 1) << '"' << challenge << '"';
  }
}

TEST_F(Session, AChallengeAnswerWithoutAStringStillLeadsToALoginWithAPadOnlyBlock) {
  peer->onRequest = [this](const sim::Frame& request) {
    if (request.code == 14) peer->Answer(request);  // empty payload: no string to read
    if (request.code == 27) {
      sim::WireReader r(request.payload);
      int32_t item = 0;
      std::string tag;
      std::vector<uint8_t> proof;
      r.Int(&item), r.Int(&item), r.String(&tag), r.Int(&item), r.Raw(16, &proof);
      peer->Send(Message(request.id, proof == ProofFor("") ? 28 : 29));
    }
  };
  EXPECT_EQ(NewServer(9).Connect(kService), 1);
}

TEST_F(Session, SinkIdsCountOnFromTheSessionAndAreNotReused) {
  CVRServer& server = LoggedIn();
  EXPECT_EQ(server.sinkId, 0);
  EXPECT_EQ(peer->RequestsWith(14).at(0).id, 1);
  EXPECT_EQ(peer->RequestsWith(27).at(0).id, 2);
  CVRQuery next;
  EXPECT_EQ(next.sinkId, 3);
  CVRQuery after;
  EXPECT_EQ(after.sinkId, 4);
}

TEST_F(Session, NoMoreThanThirtyTwoSinksAreRegistered) {
  CVRServer& server = NewServer();
  std::vector<std::unique_ptr<RecordingSink>> sinks;
  for (int i = 1; i <= 32; ++i) {
    sinks.push_back(std::make_unique<RecordingSink>(int16_t(i), &log, "s"));
    EXPECT_EQ(server.AddSink(sinks.back().get()), i < 32 ? 1 : 0) << i;  // the session holds one place
  }
  EXPECT_EQ(server.AddSink(sinks.front().get()), 0);
  EXPECT_EQ(server.GetSinkCount(), 32);
  sinks.clear();  // their destructors leave the session
  EXPECT_EQ(server.GetSinkCount(), 1);
}

TEST_F(Session, AMessageToAllSinksReachesEverySinkInRegistrationOrderButNoQuery) {
  CVRServer& server = LoggedIn();
  RecordingSink first(40, &log, "first"), second(41, &log, "second");
  server.AddSink(&first);
  server.AddSink(&second);
  peer->onRequest = [this](const sim::Frame& request) {
    peer->Send(Message(kAllSinks, 300, "everyone"));
    peer->Answer(request, "mine");
  };
  CVRQuery query;
  CVRMSG request(0, kCodeSystemInfo, 0);
  CVRMSG* answer = nullptr;
  ASSERT_EQ(query.Ask(&answer, &request), 1);
  EXPECT_EQ(answer->GetCode(), kCodeSystemInfo + 1);
  EXPECT_EQ(answer->ReadString(), "mine");
  EXPECT_TRUE(log.empty());  // deferred while the query waited
  server.Service(50);
  EXPECT_EQ(log, (std::vector<std::string>{"first:300:everyone", "second:300:everyone"}));
}

TEST_F(Session, TwoMessagesInOneReadAreDeliveredByOneService) {
  world.SetReadCutting(false);
  CVRServer& server = LoggedIn();
  Listen(server);
  std::vector<uint8_t> both = Message(9, 500, "a").Bytes();
  std::vector<uint8_t> second = Message(9, 501, "b").Bytes();
  both.insert(both.end(), second.begin(), second.end());
  peer->SendRaw(both);
  EXPECT_EQ(server.Service(50), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"s:500:a", "s:501:b"}));
}

TEST_F(Session, AMessageSplitAcrossReadsIsDeliveredAfterTheSecondPart) {
  world.SetReadCutting(false);
  CVRServer& server = LoggedIn();
  Listen(server);
  std::vector<uint8_t> frame = Message(9, 500, "split").Bytes();
  peer->SendRaw(std::vector<uint8_t>(frame.begin(), frame.begin() + 5));
  EXPECT_EQ(server.Service(50), 0);
  EXPECT_TRUE(log.empty());
  peer->SendRaw(std::vector<uint8_t>(frame.begin() + 5, frame.end()));
  EXPECT_EQ(server.Service(50), 1);
  EXPECT_EQ(log, std::vector<std::string>{"s:500:split"});
}

TEST_F(Session, FramingSurvivesReadsCutAnywhere) {
  CVRServer& server = LoggedIn();  // the world's default: reads cut at seeded points
  Listen(server);
  std::vector<std::string> expected;
  for (int i = 0; i < 50; ++i) {
    std::string text(size_t(i * 7 % 23), char('a' + i % 26));
    peer->Send(Message(9, int16_t(600 + i), text));
    expected.push_back("s:" + std::to_string(600 + i) + ":" + text);
  }
  for (int i = 0; i < 200 && log.size() < expected.size(); ++i) server.Service(50);
  EXPECT_EQ(log, expected) << "seed " << world.Seed();
}

TEST_F(Session, TheLargestFrameIsAcceptedAndOneByteMoreClosesTheConnection) {
  CVRServer& server = LoggedIn();
  RecordingSink& sink = Listen(server);
  std::vector<uint8_t> payload(999992, 0x11);
  payload.back() = 0x7E;
  peer->Send(Message(9, 700, payload));
  struct Keeper : CSocketSink {
    Keeper() : CSocketSink(9) {}
    void OnMessage(CVRMSG* m) override { length = m->GetLength(), last = m->GetPayload()[m->GetLength() - 1]; }
    uint32_t length = 0;
    uint8_t last = 0;
  } keeper;
  server.RemoveSink(&sink);
  server.AddSink(&keeper);
  for (int i = 0; i < 400 && keeper.length == 0; ++i) ASSERT_NE(server.Service(50), 2);
  EXPECT_EQ(keeper.length, 999992u);
  EXPECT_EQ(keeper.last, 0x7E);
  EXPECT_EQ(server.IsConnected(), 1);

  peer->SendRaw(sim::HeaderBytes(9, 701, 999993));
  int result = 0;
  for (int i = 0; i < 10 && result != 2; ++i) result = server.Service(50);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(server.IsConnected(), 0);
}

TEST_F(Session, ANegativeLengthFieldClosesTheConnection) {
  CVRServer& server = LoggedIn();
  peer->SendRaw(sim::HeaderBytes(9, 701, -1));
  int result = 0;
  for (int i = 0; i < 10 && result != 2; ++i) result = server.Service(50);
  EXPECT_EQ(result, 2);
  EXPECT_EQ(server.IsConnected(), 0);
}

TEST_F(Session, MessagesDeferredWhileAQueryWaitedComeBeforeNewOnes) {
  CVRServer& server = LoggedIn();
  Listen(server);
  peer->onRequest = [this](const sim::Frame& request) {
    peer->Send(Message(9, 500, "old"));
    peer->Answer(request);
  };
  CVRQuery query;
  CVRMSG request(0, kCodeSystemInfo, 0);
  ASSERT_EQ(query.Ask(nullptr, &request), 1);
  EXPECT_EQ(server.GetDeferredCount(), 1);
  peer->Send(Message(9, 501, "new"));
  world.RunFor(5);
  // Reads are cut at seeded points, so "new" may take more than one service to come in whole.
  for (int i = 0; i < 10 && log.size() < 2; ++i) server.Service(50);
  EXPECT_EQ(log, (std::vector<std::string>{"s:500:old", "s:501:new"}));
}

TEST_F(Session, NoMoreThanSixtyFourMessagesAreDeferred) {
  CVRServer& server = LoggedIn();
  Listen(server);
  peer->onRequest = [this](const sim::Frame& request) {
    for (int i = 0; i < 70; ++i) peer->Send(Message(9, 500));
    peer->Answer(request);
  };
  CVRQuery query;
  CVRMSG request(0, kCodeSystemInfo, 0);
  ASSERT_EQ(query.Ask(nullptr, &request), 1);
  EXPECT_EQ(server.GetDeferredCount(), 64);
  server.Service(0);
  EXPECT_EQ(log.size(), 64u);
}

TEST_F(Session, QueriesTimeOutAtTheirExactVirtualTimes) {
  LoggedIn();
  peer->onRequest = nullptr;  // never answers
  for (uint32_t timeoutMs : {0u, 30000u, 60000u}) {
    CVRQuery query;
    if (timeoutMs) query.SetTimeout(timeoutMs);
    uint64_t start = world.NowMs();
    CVRMSG request(0, kCodeShellCommand, 0);
    EXPECT_EQ(query.Ask(nullptr, &request), 0);
    EXPECT_EQ(world.NowMs() - start, timeoutMs ? timeoutMs : kDefaultQueryTimeoutMs);
  }
}

TEST_F(Session, ALoginThatIsNeverAnsweredGivesUpAfterTenSeconds) {
  peer->onRequest = [this](const sim::Frame& request) {
    if (request.code == 14) peer->Answer(request, "challenge");
  };
  CVRServer& server = NewServer();
  uint64_t start = world.NowMs();
  EXPECT_EQ(server.Connect(kService), 0);
  EXPECT_EQ(world.NowMs() - start, kLoginTimeoutMs);
  EXPECT_EQ(server.IsConnected(), 0);
}

TEST_F(Session, AnAnswerWithTheWrongCodeFailsAtOnce) {
  LoggedIn();
  peer->onRequest = [this](const sim::Frame& request) { peer->Send(Message(request.id, request.code)); };
  CVRQuery query;
  CVRMSG request(0, kCodeGetChallenge, 0);
  uint64_t start = world.NowMs();
  CVRMSG* answer = nullptr;
  EXPECT_EQ(query.Ask(&answer, &request), 0);
  EXPECT_LT(world.NowMs() - start, 100u);
}

TEST_F(Session, TwoAsksOnOneQueryEachReturnTheirOwnAnswer) {
  LoggedIn();
  int n = 0;
  peer->onRequest = [&](const sim::Frame& request) { peer->Answer(request, "answer " + std::to_string(++n)); };
  CVRQuery query;
  CVRMSG first(0, kCodeSystemInfo, 0), second(0, kCodeSystemInfo, 0);
  CVRMSG* answer = nullptr;
  ASSERT_EQ(query.Ask(&answer, &first), 1);
  EXPECT_EQ(answer->ReadString(), "answer 1");
  ASSERT_EQ(query.Ask(&answer, &second), 1);
  EXPECT_EQ(answer->ReadString(), "answer 2");
}

TEST_F(Session, AnIdleConnectionIsClosedAfterTenSecondsAndSinksHearItGoDown) {
  CVRServer& server = LoggedIn();
  peer->onRequest = nullptr;
  RecordingSink& sink = Listen(server);
  uint64_t lastMessage = world.NowMs();  // the login's answer
  int result = 0;
  while ((result = server.Service(50)) == 0) {
  }
  EXPECT_EQ(result, 2);
  uint64_t idle = world.NowMs() - lastMessage;
  EXPECT_GT(idle, kIdleLimitMs);
  EXPECT_LE(idle, kIdleLimitMs + 50);
  EXPECT_EQ(server.IsConnected(), 0);
  EXPECT_EQ(server.Service(50), 2);
  EXPECT_EQ(sink.states, (std::vector<int>{1, 0}));
}

TEST_F(Session, ThePeerClosingOrResettingWhileAQueryWaitsEndsTheWaitAtOnce) {
  // A reset must not look like a live connection: every wait would then return at once and every
  // receive fail again, and under the virtual clock the wait would never end.
  const struct {
    const char* name;
    void (ScriptedPeer::*drop)();
  } cases[] = {{"close", &ScriptedPeer::CloseConnection}, {"reset", &ScriptedPeer::ResetConnection}};
  for (const auto& c : cases) {
    LoggedIn();
    peer->onRequest = [this, &c](const sim::Frame&) { (peer.get()->*c.drop)(); };
    CVRQuery query;
    CVRMSG request(0, kCodeShellCommand, 0);
    uint64_t start = world.NowMs();
    EXPECT_EQ(query.Ask(nullptr, &request), 0) << c.name;
    EXPECT_LT(world.NowMs() - start, 100u) << c.name;
    EXPECT_EQ(GetServer()->IsConnected(), 0) << c.name;
    EXPECT_EQ(query.Ask(nullptr, &request), 0) << c.name;  // no connection: nothing is sent
  }
}

}  // namespace
