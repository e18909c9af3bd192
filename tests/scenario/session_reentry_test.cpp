// The session called back into from its own deliveries: a sink that services the session again,
// waits for another message, or closes the session from inside. Each must find the session whole:
// every message delivered once, in order, and nothing used after it is gone.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/codes.h"
#include "net/query.h"
#include "net/server.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/sim_messages.h"
#include "tests/support/test_world.h"

namespace {

using namespace testing_support;
using platform::Endpoint;
using platform::MakeAddress;
using Log = std::vector<std::string>;

const uint32_t kPc = MakeAddress(192, 168, 1, 10);
const uint32_t kCtl = MakeAddress(192, 168, 1, 20);
const Endpoint kService{kCtl, 5000};

// A sink with a chosen id that writes down what reaches it, then does what the test asks of it.
class Sink : public CSocketSink {
 public:
  Sink(int16_t id, Log* log) : CSocketSink(id), log(log) {}
  void OnMessage(CVRMSG* message) override {
    message->Rewind();
    std::string text = message->ReadString();
    log->push_back(std::to_string(sinkId) + ":" + text);
    if (then) then(text);
  }
  std::function<void(const std::string&)> then;

 private:
  Log* log;
};

class SessionReentry : public ::testing::Test {
 protected:
  SessionReentry() : world(0, 4321) {
    world.AddHost("pc", kPc);
    peer = std::make_unique<ScriptedPeer>(world, world.AddHost("controller", kCtl), kService);
    peer->AnswerLogin({19});
    SetServer(std::make_unique<CVRServer>());
    GetServer()->SetTarget(9, "");
    EXPECT_EQ(GetServer()->Connect(kService), 1);
  }
  ~SessionReentry() override { CloseServer(); }

  // Registers a sink with the session.
  Sink& Add(int16_t id) {
    sinks.push_back(std::make_unique<Sink>(id, &log));
    GetServer()->AddSink(sinks.back().get());
    return *sinks.back();
  }

  // Sends messages to the given sink ids, texts "a", "b", ... in one write, and lets them arrive.
  void Arrive(const std::vector<int16_t>& ids) {
    std::vector<uint8_t> bytes;
    char text = 'a';
    for (int16_t id : ids) {
      std::vector<uint8_t> one = Message(id, 500, std::string(1, text++)).Bytes();
      bytes.insert(bytes.end(), one.begin(), one.end());
    }
    peer->SendRaw(bytes);
    world.RunFor(5);
  }

  TestWorld world;
  std::unique_ptr<ScriptedPeer> peer;
  Log log;
  std::vector<std::unique_ptr<Sink>> sinks;
};

TEST_F(SessionReentry, ASinkThatServicesOrWaitsFromInsideADeliveryTakesOnlyWhatFollowsIt) {
  // Either way the nested call must start after the message being delivered: before, the outer
  // call took that message's length off the buffer a second time and ran over its end.
  const struct {
    const char* name;
    std::function<void()> reenter;
  } cases[] = {
      {"Service", [] { GetServer()->Service(50); }},
      {"WaitFor", [] { GetServer()->WaitFor(7, 50); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    world.SetReadCutting(false);
    Sink& first = Add(9);
    Add(7);
    bool nested = false;
    first.then = [&](const std::string&) {
      if (!nested) {
        nested = true;
        c.reenter();
      }
    };
    Arrive({9, 7, 9, 7});
    while (GetServer()->Service(50) == 1) {
    }
    EXPECT_EQ(log, (Log{"9:a", "7:b", "9:c", "7:d"}));
    EXPECT_EQ(GetServer()->IsConnected(), 1);
    for (auto& s : sinks) GetServer()->RemoveSink(s.get());
    sinks.clear();
  }
}

TEST_F(SessionReentry, ASinkThatWaitsWhileDeferredMessagesAreDeliveredFindsTheListWhole) {
  Sink& first = Add(9);
  Add(8);
  // Two messages for other sinks arrive while the session waits for sink 5: both are deferred.
  world.SetReadCutting(false);
  Arrive({9, 8});
  EXPECT_EQ(GetServer()->WaitFor(5, 50), 0);
  ASSERT_EQ(GetServer()->GetDeferredCount(), 2);
  // Delivering the first, its sink waits for the second, which is still in the list.
  int waited = -1;
  first.then = [&](const std::string&) { waited = GetServer()->WaitFor(8, 50); };
  GetServer()->Service(0);
  EXPECT_EQ(waited, 1);
  EXPECT_EQ(log, (Log{"9:a", "8:b"}));
  EXPECT_EQ(GetServer()->GetDeferredCount(), 0);
}

TEST_F(SessionReentry, ASinkThatClosesTheSessionEndsTheDeliveryAndTheSessionGoesAfterwards) {
  Sink& closer = Add(9);
  Add(7);
  closer.then = [](const std::string&) { CloseServer(); };
  Arrive({9, 7});
  CVRServer* session = GetServer();
  EXPECT_EQ(session->Service(50), 2);
  // The second message is never delivered: the session was closed under it.
  EXPECT_EQ(log, Log{"9:a"});
  EXPECT_EQ(GetServer(), nullptr);
  world.RunFor(5);
  EXPECT_FALSE(peer->Connected()) << "the controller sees the connection close at once";
}

TEST_F(SessionReentry, ASinkThatAsksAQuestionFromInsideADeliveryGetsItsAnswerAndTheRestFollows) {
  Sink& asker = Add(9);
  Add(7);
  peer->onRequest = [this](const sim::Frame& request) { peer->Answer(request, "answer"); };
  std::string answered;
  asker.then = [&](const std::string& text) {
    if (text != "a") return;
    CVRQuery query;
    CVRMSG request(0, kCodeSystemInfo, 0);
    CVRMSG* answer = nullptr;
    if (query.Ask(&answer, &request)) answered = answer->ReadString();
  };
  Arrive({9, 7, 9});
  while (GetServer()->Service(50) == 1) {
  }
  EXPECT_EQ(answered, "answer");
  EXPECT_EQ(log, (Log{"9:a", "7:b", "9:c"}));
}

}  // namespace
