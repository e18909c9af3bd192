#include "tests/support/scripted_peer.h"

#include <algorithm>
#include <cstring>

#include "sim/login_proof.h"

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
  primerSeen = primerOk = framingBroken = false;
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
  while (!framingBroken) {
    sim::Frame frame;
    sim::FrameResult result = sim::TakeFrame(&in, &frame);
    if (result == sim::FrameResult::NeedMore) return;
    if (result == sim::FrameResult::Broken) {
      framingBroken = true;
      break;
    }
    requests.push_back(frame);
    if (onRequest) onRequest(frame);
  }
  // Past a broken length nothing can be framed again: what follows is dropped.
  in.clear();
}

void ScriptedPeer::AnswerLogin(std::vector<int32_t> acceptedKinds, std::string challenge) {
  onRequest = [this, acceptedKinds, challenge](const sim::Frame& request) {
    if (request.code == 14) {
      Answer(request, challenge);
    } else if (request.code == 27) {
      sim::WireReader reader(request.payload);
      int32_t magic = 0, kind = 0, proofLength = 0;
      std::string tag;
      std::vector<uint8_t> proof;
      bool read = reader.Int(&magic) && reader.Int(&kind) && reader.String(&tag) && reader.Int(&proofLength) &&
                  reader.Raw(16, &proof);
      sim::Proof expected{};
      bool proofOk = read && sim::ExpectedProof(challenge, "", &expected) &&
                     std::equal(proof.begin(), proof.end(), expected.begin(), expected.end());
      bool kindOk = std::find(acceptedKinds.begin(), acceptedKinds.end(), kind) != acceptedKinds.end();
      bool ok = proofOk && magic == 813 && tag == "VRSTART" && proofLength == 16 && kindOk;
      Send(Message(request.id, ok ? 28 : 29));
    }
  };
}

void ScriptedPeer::SendRaw(std::vector<uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
  Flush();
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

std::vector<sim::Frame> ScriptedPeer::RequestsWith(int16_t code) const {
  std::vector<sim::Frame> out;
  for (const sim::Frame& f : requests) {
    if (f.code == code) out.push_back(f);
  }
  return out;
}

}  // namespace testing_support
