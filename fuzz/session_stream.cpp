// The server session receiving a byte stream cut at arbitrary points, on a simulated LAN: the far
// side sends the stream in pieces at times the input chooses, and meanwhile the client services the
// session, waits for sink ids, asks queries and lets time pass, in an order the input chooses. Sinks
// registered with the session do what a sink may do when a message reaches it: read it, service the
// session or wait for another message from inside, leave the session, close it, ask a query.
//
// What must hold, whatever the stream and the order:
// - a sink is handed only messages for its id or for every sink, each one a frame of the stream
//   exactly as sent (the simulator's own framing says what the frames are), no frame twice;
// - a message stays readable, byte for byte, for the whole call that hands it over, however the
//   sink re-enters the session meanwhile;
// - a query's answer carries the query's id and the request's code plus one;
// - once the stream has been taken whole, a message to every sink that follows it is delivered,
//   so that nothing is left stuck in the session's buffer or its deferred list.
//
// Input: two bytes n (little-endian), n bytes of script, then the stream. Script operations, each
// an operation byte and its arguments:
//   0 feed: count (0: all the rest), delay in ms    6 ask: code byte, time-out in 20 ms
//   1 Service: ms / 4                               7 send a request, answer waited for later: code
//   2 ServiceUntilWritable: ms / 4                  8 wait for that answer
//   3 WaitFor: id choice, ms / 4                    9 let the world run (ms / 4), nobody reads
//   4 add a sink: behaviour byte                   10 far side closes (bit 0 clear) or resets
//   5 remove a sink: index                         11 close the session
// The first script byte is the world's seed and the second says whether reads stop at seeded points.
// BSPLIFT_FUZZ_LOG=1 in the environment prints what each sink got (for replaying a finding).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "net/codes.h"
#include "net/msg.h"
#include "net/query.h"
#include "net/server.h"
#include "net/sink.h"
#include "platform/sim/world.h"
#include "platform/socket.h"
#include "sim/wire.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fuzz::ByteSource;

constexpr uint32_t kPcAddress = platform::MakeAddress(192, 168, 1, 10);
constexpr uint32_t kControllerAddress = platform::MakeAddress(192, 168, 1, 20);
constexpr uint16_t kServicePort = 7000;
// How deep sinks may re-enter the session from inside a delivery.
constexpr int kMaxDepth = 3;
constexpr int16_t kMarkerCode = 0x7777;
constexpr int kFinalSlices = 40;
constexpr uint32_t kFinalSliceMs = 20;

enum Behaviour : uint8_t {
  kJustRecord,
  kReadFields,
  kServiceInside,
  kWaitForInside,
  kLeave,
  kCloseSession,
  kAskInside,
  kRemoveAnother,
  kBehaviourCount
};

struct Receipt {
  int sink;  // index in Run::sinks; -1 for a query's answer
  bool toAll;
  Bytes wire;
};

class FuzzSink;

// Everything one input sets up; one at a time, reached by the sinks through `current`.
struct Run {
  platform::sim::World* world = nullptr;
  platform::sim::HostId far = 0;
  platform::Socket farSocket = platform::kInvalidSocket;
  bool farClosed = false;
  Bytes stream;
  size_t sent = 0;  // stream bytes handed to the far side's socket
  std::vector<std::unique_ptr<FuzzSink>> sinks;
  std::vector<Receipt> receipts;
  int depth = 0;
  bool quiet = false;  // sinks only record (the final phase)
};
Run* current = nullptr;

void Trace(const char* what, int sink, const uint8_t* wire) {
  static const bool enabled = std::getenv("BSPLIFT_FUZZ_LOG") != nullptr;
  if (!enabled) return;
  std::fprintf(stderr, "%s: sink #%d, id %d, code %d, %u bytes\n", what, sink, int16_t(wire[0] | wire[1] << 8),
               int16_t(wire[2] | wire[3] << 8), 8 + fuzz::Le32(wire + 4));
}

Bytes WireOf(CVRMSG* message) {
  const uint8_t* wire = message->GetWireBytes();
  return Bytes(wire, wire + message->GetWireSize());
}

void AskQuery(int16_t code, uint32_t timeoutMs) {
  CVRServer* server = GetServer();
  if (!server || !server->IsConnected()) return;
  CVRQuery query;
  query.SetTimeout(timeoutMs);
  CVRMSG request(0, code, 0);
  request.AppendInt(code);
  CVRMSG* answer = nullptr;
  const int answered = query.Ask(&answer, &request);
  // The request carries the query's id once sent.
  Trace(answered ? "asked" : "asked in vain", -1, request.GetWireBytes());
  if (answered != 1) return;
  FUZZ_CHECK(answer != nullptr);
  FUZZ_CHECK(answer->GetId() == query.sinkId);
  FUZZ_CHECK(answer->GetCode() == int16_t(code + 1));
  current->receipts.push_back(Receipt{-1, false, WireOf(answer)});
  Trace("answer", -1, current->receipts.back().wire.data());
}

class FuzzSink : public CSocketSink {
 public:
  FuzzSink(int index, uint8_t behaviour, uint8_t argument)
      : index(index), behaviour(Behaviour(behaviour % kBehaviourCount)), argument(argument) {}

  void OnMessage(CVRMSG* message) override {
    Run& run = *current;
    const Bytes wire = WireOf(message);
    FUZZ_CHECK(message->GetId() == sinkId || message->GetId() == kAllSinks);
    run.receipts.push_back(Receipt{index, message->GetId() == kAllSinks, wire});
    Trace("delivered", index, wire.data());
    if (run.quiet || run.depth >= kMaxDepth) return;
    ++run.depth;
    Act(message);
    --run.depth;
    // Still the same bytes, whatever happened inside.
    FUZZ_CHECK(WireOf(message) == wire);
  }

 private:
  void Act(CVRMSG* message) {
    CVRServer* server = GetServer();
    switch (behaviour) {
      case kJustRecord:
        break;
      case kReadFields: {
        int32_t value = 0;
        std::string text;
        for (int i = 0; i < 8; ++i) (i % 2 ? message->ReadInt(&value) : message->ReadString(text));
        message->Rewind();
        break;
      }
      case kServiceInside:
        if (server) server->Service(argument);
        break;
      case kWaitForInside:
        if (server) server->WaitFor(int16_t(argument % 8), argument);
        break;
      case kLeave:
        if (server) server->RemoveSink(this);
        break;
      case kCloseSession:
        CloseServer();
        break;
      case kAskInside:
        AskQuery(int16_t(argument), argument);
        break;
      case kRemoveAnother: {
        Run& run = *current;
        if (server && !run.sinks.empty()) server->RemoveSink(run.sinks[argument % run.sinks.size()].get());
        break;
      }
      case kBehaviourCount:
        break;
    }
  }

  int index;
  Behaviour behaviour;
  uint8_t argument;
};

// The far side hands its socket the stream up to `end`, in order, whenever this runs.
void SendThrough(size_t end) {
  Run& run = *current;
  if (run.farClosed || end <= run.sent) return;
  int n = platform::Send(run.farSocket, run.stream.data() + run.sent, int(end - run.sent));
  if (n > 0) run.sent += size_t(n);
}

void ScheduleFeed(size_t end, uint32_t delayMs) {
  Run& run = *current;
  run.world->RunAs(run.far, [&] { run.world->Schedule(delayMs, [end] { SendThrough(end); }); });
}

void CloseFar(bool reset) {
  Run& run = *current;
  if (run.farClosed) return;
  run.farClosed = true;
  run.world->RunAs(run.far, [&] {
    if (reset) run.world->ResetConnection(run.farSocket);
    platform::Close(run.farSocket);
  });
}

int16_t ChooseId(ByteSource& script) {
  const uint8_t choice = script.Byte();
  Run& run = *current;
  switch (choice % 4) {
    case 0:
      return kAllSinks;
    case 1:
      return int16_t(choice >> 2);
    case 2:
      return run.sinks.empty() ? 0 : run.sinks[(choice >> 2) % run.sinks.size()]->sinkId;
    default:
      return int16_t(script.Word());
  }
}

void AddSink(uint8_t behaviour, uint8_t argument) {
  Run& run = *current;
  CVRServer* server = GetServer();
  if (!server) return;
  run.sinks.push_back(std::make_unique<FuzzSink>(int(run.sinks.size()), behaviour, argument));
  server->AddSink(run.sinks.back().get());
}

void RunScript(ByteSource& script) {
  Run& run = *current;
  std::unique_ptr<CVRQuery> pending;
  while (!script.Empty()) {
    const uint8_t op = script.Byte() % 12;
    CVRServer* server = GetServer();
    switch (op) {
      case 0: {
        const uint8_t count = script.Byte();
        const uint32_t delayMs = script.Byte();
        ScheduleFeed(count == 0 ? run.stream.size() : std::min(run.stream.size(), run.sent + count), delayMs);
        break;
      }
      case 1:
        if (server) server->Service(4u * script.Byte());
        break;
      case 2:
        if (server) server->ServiceUntilWritable(4u * script.Byte());
        break;
      case 3: {
        const int16_t id = ChooseId(script);
        const uint32_t ms = 4u * script.Byte();
        if (server) server->WaitFor(id, ms);
        break;
      }
      case 4: {
        const uint8_t behaviour = script.Byte();
        AddSink(behaviour, script.Byte());
        break;
      }
      case 5: {
        const uint8_t index = script.Byte();
        if (server && !run.sinks.empty()) server->RemoveSink(run.sinks[index % run.sinks.size()].get());
        break;
      }
      case 6: {
        const int16_t code = int16_t(script.Byte());
        AskQuery(code, 20u * script.Byte());
        break;
      }
      case 7: {
        const int16_t code = int16_t(script.Byte());
        if (!server) break;
        pending = std::make_unique<CVRQuery>();
        CVRMSG request(0, code, 0);
        if (!pending->SendRequest(&request)) pending.reset();
        break;
      }
      case 8: {
        if (!pending) break;
        CVRMSG* answer = nullptr;
        if (pending->WaitAnswer(&answer) == 1) {
          FUZZ_CHECK(answer && answer->GetId() == pending->sinkId);
          current->receipts.push_back(Receipt{-1, false, WireOf(answer)});
          Trace("answer", -1, current->receipts.back().wire.data());
        }
        pending.reset();
        break;
      }
      case 9:
        run.world->RunFor(4u * script.Byte());
        break;
      case 10:
        CloseFar(script.Byte() & 1);
        break;
      case 11:
        CloseServer();
        break;
    }
  }
}

// The frames of what was sent, by the simulator's framing: up to a broken length, if any.
std::vector<Bytes> FramesSent(bool* whole) {
  Run& run = *current;
  std::vector<uint8_t> rest(run.stream.begin(), run.stream.begin() + long(run.sent));
  std::vector<Bytes> frames;
  sim::Frame frame;
  sim::FrameResult result;
  while ((result = sim::TakeFrame(&rest, &frame)) == sim::FrameResult::Taken) {
    Bytes wire = sim::HeaderBytes(frame.id, frame.code, int32_t(frame.payload.size()));
    wire.insert(wire.end(), frame.payload.begin(), frame.payload.end());
    frames.push_back(wire);
  }
  *whole = result == sim::FrameResult::NeedMore && rest.empty();
  return frames;
}

// No sink got a frame that was not sent, or one frame more often than it was sent.
void CheckReceipts(const std::vector<Bytes>& frames) {
  Run& run = *current;
  std::map<Bytes, int> sent;
  for (const Bytes& frame : frames) ++sent[frame];
  std::map<Bytes, int> directed;
  std::map<std::pair<int, Bytes>, int> toAll;
  for (const Receipt& receipt : run.receipts) {
    const int times = sent.count(receipt.wire) ? sent[receipt.wire] : 0;
    if (receipt.toAll) {
      FUZZ_CHECK(++toAll[std::make_pair(receipt.sink, receipt.wire)] <= times);
    } else {
      FUZZ_CHECK(++directed[receipt.wire] <= times);
    }
  }
}

// Takes in the rest of the stream and then a message to every sink behind it, which a passive
// sink must get. Only for a stream of whole frames on a connection that is still up.
void CheckNothingStuck(FuzzSink* tail) {
  Run& run = *current;
  run.quiet = true;
  if (!GetServer() || !GetServer()->IsConnected() || run.farClosed) return;
  ScheduleFeed(run.stream.size(), 0);
  for (int i = 0; i < kFinalSlices && GetServer() && GetServer()->Service(kFinalSliceMs) != 2; ++i) {
  }
  bool whole = false;
  FramesSent(&whole);
  CVRServer* server = GetServer();
  if (!whole || run.sent != run.stream.size() || !server || !server->IsConnected()) return;
  // Every sink records, so with a full table any sink registered may be the one that gets it.
  server->AddSink(tail);
  const Bytes marker = sim::WireWriter(kAllSinks, kMarkerCode).Bytes();
  run.stream.insert(run.stream.end(), marker.begin(), marker.end());
  ScheduleFeed(run.stream.size(), 0);
  const size_t before = run.receipts.size();
  auto markerArrived = [&] {
    for (size_t i = before; i < run.receipts.size(); ++i) {
      if (run.receipts[i].wire == marker) return true;
    }
    return false;
  };
  for (int i = 0; i < kFinalSlices && !markerArrived() && GetServer() && GetServer()->IsConnected(); ++i) {
    GetServer()->Service(kFinalSliceMs);
  }
  if (GetServer() && GetServer()->IsConnected()) {
    FUZZ_CHECK(markerArrived());
    // The Service that took the marker in delivered what was deferred first.
    FUZZ_CHECK(GetServer()->GetDeferredCount() == 0);
    Trace("marker checked", -1, marker.data());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t scriptBytes = std::min<size_t>(size_t(data[0] | data[1] << 8), size - 2);
  ByteSource script(data + 2, scriptBytes);

  const uint8_t seed = script.Byte();
  const bool cutting = script.Flag();
  platform::sim::World world(0, seed);
  world.SetReadCutting(cutting);
  world.AddHost("pc", kPcAddress);
  Run run;
  run.world = &world;
  run.far = world.AddHost("controller", kControllerAddress);
  run.stream.assign(data + 2 + scriptBytes, data + size);
  current = &run;

  platform::Socket listener = platform::kInvalidSocket;
  world.RunAs(run.far, [&] {
    listener = platform::OpenTcp();
    FUZZ_CHECK(platform::Bind(listener, platform::Endpoint{kControllerAddress, kServicePort}) == 0);
    FUZZ_CHECK(platform::Listen(listener, 1) == 0);
  });
  SetServer(std::make_unique<CVRServer>());
  FUZZ_CHECK(GetServer()->GetConnection()->ConnectDirect(platform::Endpoint{kControllerAddress, kServicePort}) == 0);
  world.RunAs(run.far, [&] {
    run.farSocket = platform::Accept(listener, nullptr);
    FUZZ_CHECK(run.farSocket != platform::kInvalidSocket);
    // What the client sends (primer, requests) is read and dropped, so that it never blocks.
    world.Watch(run.farSocket, [&] {
      uint8_t buffer[4096];
      while (!run.farClosed && platform::WaitReadable(run.farSocket, 0) == 1 &&
             platform::Recv(run.farSocket, buffer, sizeof buffer) > 0) {
      }
    });
  });
  // The passive sink of the last check; it records like any other meanwhile.
  AddSink(kJustRecord, 0);
  FuzzSink* tail = run.sinks.back().get();

  RunScript(script);
  CheckNothingStuck(tail);
  bool whole = false;
  CheckReceipts(FramesSent(&whole));

  CloseServer();
  run.sinks.clear();
  world.RunAs(run.far, [&] {
    if (!run.farClosed) platform::Close(run.farSocket);
    platform::Close(listener);
  });
  current = nullptr;
  return 0;
}
