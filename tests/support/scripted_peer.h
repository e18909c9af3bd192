#pragma once
// A controller's message service played by a test inside a simulated world: it accepts one
// connection, checks the primer, frames what the client sends, and answers as the test scripts it.
// Bytes are written as the connection has room, so that large frames flow while the client reads.
// Framing, answers and the login check use the controller simulator's codec and proof.
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/sim/world.h"
#include "sim/wire.h"
#include "tests/support/sim_messages.h"

namespace testing_support {

class ScriptedPeer {
 public:
  ScriptedPeer(platform::sim::World& world, platform::sim::HostId host, platform::Endpoint listen);
  ~ScriptedPeer();

  // Called for every framed request after the primer (default: nothing is answered).
  std::function<void(const sim::Frame&)> onRequest;

  // Answers 14 with `challenge`, and 27 with 28 when its proof and client kind are right (kind in
  // acceptedKinds), else with 29.
  void AnswerLogin(std::vector<int32_t> acceptedKinds, std::string challenge = "0123456789abcdefXYZ");

  // Queue bytes for the client (sent as the connection takes them).
  void SendRaw(std::vector<uint8_t> bytes);
  void Send(const sim::WireWriter& message) { SendRaw(message.Bytes()); }
  // The answer to `request` (its id, its code + 1) with these payload items (see Message).
  template <typename... Items>
  void Answer(const sim::Frame& request, const Items&... items) {
    Send(Message(request.id, int16_t(request.code + 1), items...));
  }
  void CloseConnection();
  void ResetConnection();

  bool PrimerOk() const { return primerOk; }
  bool Connected() const { return connection != platform::kInvalidSocket; }
  // The client sent a length field that no frame can have (negative, or past sim::kMaxFrameBytes).
  // As the simulator does, the peer frames nothing more on that connection; it stays open, so that
  // the test decides what happens next.
  bool FramingBroken() const { return framingBroken; }
  const std::vector<sim::Frame>& Requests() const { return requests; }
  // Requests with this code, in arrival order.
  std::vector<sim::Frame> RequestsWith(int16_t code) const;

 private:
  void OnAccept();
  void OnReadable();
  void Flush();

  platform::sim::World& world;
  platform::sim::HostId host;
  platform::Socket listener = platform::kInvalidSocket;
  platform::Socket connection = platform::kInvalidSocket;
  std::vector<uint8_t> in;
  std::deque<uint8_t> out;
  bool primerOk = false;
  bool primerSeen = false;
  bool framingBroken = false;
  bool flushScheduled = false;
  std::vector<sim::Frame> requests;
};

}  // namespace testing_support
