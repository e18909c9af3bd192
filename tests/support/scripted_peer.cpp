#include "tests/support/scripted_peer.h"

#include <cstring>

namespace testing_support {
namespace {

constexpr char kPrimer[] = "CONNECTSERVERHOST\r\n\r\n";
constexpr size_t kPrimerBytes = 21;

}  // namespace

ScriptedPeer::ScriptedPeer(platform::sim::World& world, platform::sim::HostId host, platform::Endpoint listen)
    : world(world), host(host) {
  world.RunAs(host, [&] {
    listener = platform::OpenTcp();
    platform::Bind(listener, listen);
    platform::Listen(listener, 4);
    world.Watch(listener, [this] { OnAccept(); });
  });
}

ScriptedPeer::~ScriptedPeer() {
  world.RunAs(host, [&] {
    if (connection != platform::kInvalidSocket) platform::Close(connection);
    platform::Close(listener);
  });
}

void ScriptedPeer::OnAccept() {
  platform::Socket s = platform::Accept(listener, nullptr);
  if (s == platform::kInvalidSocket) return;
  if (connection != platform::kInvalidSocket) platform::Close(connection);
  connection = s;
  in.clear();
  primerSeen = primerOk = false;
  world.Watch(connection, [this] { OnReadable(); });
}

void ScriptedPeer::OnReadable() {
  uint8_t buffer[65536];
  while (connection != platform::kInvalidSocket && platform::WaitReadable(connection, 0) == 1) {
    int n = platform::Recv(connection, buffer, sizeof buffer);
    if (n <= 0) {
      platform::Close(connection);
      connection = platform::kInvalidSocket;
      return;
    }
    in.insert(in.end(), buffer, buffer + n);
  }
  if (!primerSeen) {
    if (in.size() < kPrimerBytes) return;
    primerSeen = true;
    primerOk = std::memcmp(in.data(), kPrimer, kPrimerBytes) == 0;
    in.erase(in.begin(), in.begin() + kPrimerBytes);
  }
  while (in.size() >= 8) {
    Reader header{in};
    header.at = 4;
    uint32_t length = uint32_t(header.Int());
    if (in.size() < 8 + size_t(length)) return;
    Frame_ frame;
    frame.id = int16_t(in[0] | in[1] << 8);
    frame.code = int16_t(in[2] | in[3] << 8);
    frame.payload.assign(in.begin() + 8, in.begin() + 8 + long(length));
    in.erase(in.begin(), in.begin() + 8 + long(length));
    requests.push_back(frame);
    if (onRequest) onRequest(frame);
  }
}

void ScriptedPeer::AnswerLogin(std::vector<int32_t> acceptedKinds, std::string challenge) {
  onRequest = [this, acceptedKinds, challenge](const Frame_& request) {
    if (request.code == 14) {
      Answer(request, Payload().String(challenge).bytes);
    } else if (request.code == 27) {
      Reader r{request.payload};
      int32_t magic = r.Int();
      int32_t kind = r.Int();
      std::string tag = r.String();
      int32_t proofLength = r.Int();
      std::vector<uint8_t> proof = r.Raw(16);
      bool kindOk = false;
      for (int32_t k : acceptedKinds) kindOk = kindOk || k == kind;
      bool ok = r.ok && magic == 813 && tag == "VRSTART" && proofLength == 16 &&
                proof == LoginProof("", challenge) && kindOk;
      Send(request.id, ok ? 28 : 29);
    }
  };
}

void ScriptedPeer::SendRaw(std::vector<uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
  Flush();
}

void ScriptedPeer::Send(int16_t id, int16_t code, const std::vector<uint8_t>& payload) {
  SendRaw(Frame(id, code, payload));
}

void ScriptedPeer::CloseConnection() {
  world.RunAs(host, [&] {
    if (connection != platform::kInvalidSocket) platform::Close(connection);
    connection = platform::kInvalidSocket;
  });
}

void ScriptedPeer::ResetConnection() {
  if (connection == platform::kInvalidSocket) return;
  world.ResetConnection(connection);
  CloseConnection();
}

void ScriptedPeer::Flush() {
  world.RunAs(host, [&] {
    while (!out.empty() && connection != platform::kInvalidSocket && world.WritableBytes(connection) > 0) {
      size_t take = std::min<size_t>(out.size(), world.WritableBytes(connection));
      std::vector<uint8_t> piece(out.begin(), out.begin() + long(take));
      if (platform::Send(connection, piece.data(), int(take)) != int(take)) return;
      out.erase(out.begin(), out.begin() + long(take));
    }
    // Room comes back as the client reads; look again shortly.
    if (!out.empty() && !flushScheduled && connection != platform::kInvalidSocket) {
      flushScheduled = true;
      world.Schedule(1, [this] {
        flushScheduled = false;
        Flush();
      });
    }
  });
}

std::vector<Frame_> ScriptedPeer::RequestsWith(int16_t code) const {
  std::vector<Frame_> out;
  for (const Frame_& f : requests) {
    if (f.code == code) out.push_back(f);
  }
  return out;
}

}  // namespace testing_support
