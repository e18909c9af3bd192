#include "platform/sim/world.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace platform::sim {
namespace {

constexpr uint16_t kFirstEphemeralPort = 49152;
constexpr uint32_t kLoopbackAddress = 0x0100007Fu;  // 127.0.0.1
constexpr int kMaxDatagramBytes = 65507;
// Slack when comparing link times, which are sums of fractions of a millisecond.
constexpr double kLinkSlackMs = 1e-6;

bool IsLoopback(uint32_t address) { return (address & 0xFFu) == 127; }

std::string Dotted(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                address >> 24);
  return text;
}

uint32_t ParseDotted(const std::string& text) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) return 0;
  return MakeAddress(uint8_t(a), uint8_t(b), uint8_t(c), uint8_t(d));
}

}  // namespace

struct World::Host {
  std::string name;
  std::vector<Adapter> adapters;
  std::vector<HostAddress> addresses;  // every address of every adapter, in order
  bool online = true;
  int loseDatagrams = 0;
  int truncateDatagrams = 0;
  int truncateSize = 0;
  uint32_t connectDelayMs = 0;
  uint32_t latencyMs = 0;
  uint32_t linkRate = 0;   // bytes per ms each way, 0: no limit
  double outFreeMs = 0;    // the outgoing link has carried what it was given by then
  double inFreeMs = 0;     // and the incoming one
  uint16_t nextPort[2] = {kFirstEphemeralPort, kFirstEphemeralPort};  // udp, tcp
};

struct World::SocketState {
  enum class Tcp { Idle, Connecting, Listening, Connected };

  Socket id = kInvalidSocket;
  HostId host = 0;
  bool tcp = false;
  bool bound = false;
  Endpoint local;
  bool broadcast = false;
  // UDP
  std::deque<Datagram> datagrams;
  size_t queuedBytes = 0;
  size_t receiveLimit = kDatagramQueueBytes;
  // TCP
  Tcp state = Tcp::Idle;
  std::deque<Socket> acceptQueue;
  Socket peer = kInvalidSocket;
  Endpoint remote;
  std::deque<uint8_t> rx;
  size_t inFlight = 0;            // sent towards the peer, not yet in its receive queue
  uint64_t lastArrivalMs = 0;     // keeps bytes in order when the latency changes
  bool finReceived = false;
  bool resetReceived = false;
  bool peerGone = false;          // the peer closed: the next send is answered by a reset
  bool shutRead = false;
  bool shutWrite = false;
  size_t dropAfter = SIZE_MAX;    // bytes this end may still send before the connection resets
  uint32_t sendTimeoutMs = 0;     // 0: a send waits for room as long as it must
  // readiness callback
  std::function<void()> watcher;
  bool notifyPending = false;
};

World::World(uint32_t startTick, uint64_t seed) : startTick(startTick), seed(seed), rng(seed) {
  previous = Install(Services{this, this, nullptr});
}

World::~World() { Install(previous); }

// ---------------------------------------------------------------------------------------------
// hosts

HostId World::AddHost(const std::string& name, std::vector<HostAddress> addresses) {
  HostId id = HostId(hosts.size());
  auto host = std::make_unique<Host>();
  host->name = name;
  Adapter adapter;
  adapter.description = "Simulated Ethernet Adapter";
  adapter.hardwareAddress = {0x02, 0x00, 0x00, 0x00, uint8_t(id >> 8), uint8_t(id)};
  for (const HostAddress& a : addresses) adapter.addresses.push_back({Dotted(a.address), Dotted(a.mask)});
  host->adapters.push_back(adapter);
  host->addresses = std::move(addresses);
  hosts.push_back(std::move(host));
  return id;
}

HostId World::AddHost(const std::string& name, uint32_t address, uint32_t mask) {
  return AddHost(name, std::vector<HostAddress>{{address, mask}});
}

void World::SetAdapters(HostId id, std::vector<Adapter> adapters) {
  Host& host = HostOf(id);
  host.addresses.clear();
  for (const Adapter& adapter : adapters) {
    for (const AdapterAddress& a : adapter.addresses) {
      uint32_t address = ParseDotted(a.address);
      if (address != 0) host.addresses.push_back({address, ParseDotted(a.mask)});
    }
  }
  host.adapters = std::move(adapters);
}

void World::SetHostOnline(HostId id, bool online) { HostOf(id).online = online; }

void World::RunAs(HostId host, const std::function<void()>& fn) {
  HostId saved = current;
  current = host;
  fn();
  current = saved;
}

World::Host& World::HostOf(HostId id) { return *hosts.at(size_t(id)); }

bool World::HostOwns(const Host& host, uint32_t address) const {
  if (IsLoopback(address)) return true;
  for (const HostAddress& a : host.addresses) {
    if (a.address == address) return true;
  }
  return false;
}

HostId World::HostByAddress(uint32_t address) {
  if (IsLoopback(address)) return current;
  for (HostId id = 0; id < HostId(hosts.size()); ++id) {
    if (hosts[size_t(id)]->online && HostOwns(*hosts[size_t(id)], address)) return id;
  }
  return kNoHost;
}

uint32_t World::PrimaryAddress(const Host& host) const {
  return host.addresses.empty() ? kLoopbackAddress : host.addresses.front().address;
}

// ---------------------------------------------------------------------------------------------
// time and events

EventId World::Schedule(uint32_t delayMs, std::function<void()> fn) {
  EventId id = nextEventId++;
  uint64_t at = nowMs + delayMs;
  events.emplace(std::make_pair(at, id), Event{at, id, current, std::move(fn)});
  return id;
}

void World::Cancel(EventId id) {
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (it->second.id == id) {
      events.erase(it);
      return;
    }
  }
}

bool World::RunNextEventBefore(uint64_t deadlineMs) {
  if (events.empty() || events.begin()->first.first > deadlineMs) return false;
  Event event = std::move(events.begin()->second);
  events.erase(events.begin());
  if (event.atMs > nowMs) nowMs = event.atMs;
  RunAs(event.host, event.fn);
  return true;
}

void World::SetSpinGuard(uint64_t waitsAtOneInstant, std::function<void()> fn) {
  spinLimit = waitsAtOneInstant;
  onSpin = std::move(fn);
}

bool World::WaitUntil(const std::function<bool()>& ready, uint64_t deadlineMs) {
  if (!inBlockingSend) ++waits;
  const uint64_t startMs = nowMs;
  struct Standstill {
    World& world;
    uint64_t startMs;
    ~Standstill() {
      world.standstill = world.nowMs == startMs ? world.standstill + 1 : 0;
      if (world.spinLimit && world.standstill >= world.spinLimit && world.onSpin) {
        std::function<void()> fn = std::move(world.onSpin);
        world.onSpin = nullptr;
        fn();
      }
    }
  } count{*this, startMs};
  for (;;) {
    if (ready()) return true;
    if (!RunNextEventBefore(deadlineMs)) {
      if (deadlineMs > nowMs) nowMs = deadlineMs;
      return ready();
    }
  }
}

void World::RunFor(uint32_t ms) { Sleep(ms); }

int World::RunUntil(const std::function<bool()>& pred, uint32_t limitMs) {
  return WaitUntil(pred, nowMs + limitMs) ? 1 : 0;
}

uint32_t World::GetTickCount() { return uint32_t(startTick + nowMs); }

void World::Sleep(uint32_t ms) {
  WaitUntil([] { return false; }, nowMs + ms);
}

void World::Watch(Socket s, std::function<void()> fn) {
  SocketState* state = Find(s);
  if (!state) return;
  state->watcher = std::move(fn);
  if (Readable(*state)) Notify(*state);
}

void World::Unwatch(Socket s) {
  if (SocketState* state = Find(s)) state->watcher = nullptr;
}

void World::Notify(SocketState& s) {
  if (!s.watcher || s.notifyPending) return;
  s.notifyPending = true;
  Socket id = s.id;
  HostId saved = current;
  current = s.host;
  Schedule(0, [this, id] {
    SocketState* state = Find(id);
    if (!state) return;
    state->notifyPending = false;
    if (state->watcher && Readable(*state)) {
      std::function<void()> fn = state->watcher;  // the handler may unwatch or close the socket
      fn();
    }
  });
  current = saved;
}

// ---------------------------------------------------------------------------------------------
// faults

void World::LoseDatagrams(HostId from, int count) { HostOf(from).loseDatagrams = count; }

void World::TruncateDatagrams(HostId from, int count, int size) {
  HostOf(from).truncateDatagrams = count;
  HostOf(from).truncateSize = size;
}

void World::DropAfterBytes(Socket s, size_t bytes) {
  if (SocketState* state = Find(s)) state->dropAfter = bytes;
}

void World::ResetConnection(Socket s) {
  if (SocketState* state = Find(s)) Disconnect(*state, true);
}

void World::SetConnectDelay(HostId host, uint32_t delayMs) { HostOf(host).connectDelayMs = delayMs; }
void World::SetLatency(HostId host, uint32_t delayMs) { HostOf(host).latencyMs = delayMs; }
void World::SetLinkRate(HostId host, uint32_t bytesPerMs) { HostOf(host).linkRate = bytesPerMs; }

// ---------------------------------------------------------------------------------------------
// links

// The links carry bytes as a steady flow: byte k of a piece is through the outgoing link at
// outStart + k / outRate and through the incoming one at inStart + k / inRate, or when it left,
// whichever is later. Times keep their fractions, so that many small pieces add up to the exact
// time the link needs and are not rounded up one by one.
size_t World::Crossing::DoneBy(double atMs) const {
  if (atMs + kLinkSlackMs >= EndMs()) return size;
  double done = double(size);
  if (outRate > 0) done = std::min(done, (atMs - outStartMs) * outRate);
  if (inRate > 0) done = std::min(done, (atMs - inStartMs) * inRate);
  return done <= 0 ? 0 : size_t(done + kLinkSlackMs);
}

double World::Crossing::EndMs() const {
  double out = outStartMs + (outRate > 0 ? double(size) / outRate : 0);
  double in = inStartMs + (inRate > 0 ? double(size) / inRate : 0);
  return std::max(out, in);
}

World::Crossing World::Leave(HostId from, size_t size) {
  Host& host = HostOf(from);
  Crossing c;
  c.size = size;
  c.outStartMs = double(nowMs);
  c.outRate = host.linkRate;
  if (host.linkRate > 0) {
    c.outStartMs = std::max(c.outStartMs, host.outFreeMs);
    host.outFreeMs = c.outStartMs + double(size) / host.linkRate;
  }
  c.inStartMs = c.outStartMs;
  return c;
}

void World::Arrive(HostId to, Crossing* c) {
  Host& host = HostOf(to);
  c->inRate = host.linkRate;
  c->inStartMs = c->outStartMs;
  if (host.linkRate > 0) {
    c->inStartMs = std::max(c->outStartMs, host.inFreeMs);
    host.inFreeMs = c->EndMs();
  }
}

World::Crossing World::Cross(HostId from, HostId to, size_t size) {
  if (from == to) {
    Crossing c;
    c.size = size;
    c.outStartMs = c.inStartMs = double(nowMs);
    return c;
  }
  Crossing c = Leave(from, size);
  Arrive(to, &c);
  return c;
}

void World::SetFiles(const std::string& driveRoot, const std::string& currentDirectory) {
  files = std::make_unique<os::FileSystem>(driveRoot, currentDirectory);
  Install(Services{this, this, files.get()});
}

// ---------------------------------------------------------------------------------------------
// sockets

World::SocketState* World::Find(Socket s) {
  auto it = sockets.find(s);
  return it == sockets.end() ? nullptr : it->second.get();
}

int World::Fail(int error) {
  lastError = error;
  return -1;
}

int World::LastSocketError() { return lastError; }

Socket World::OpenUdp() {
  auto s = std::make_unique<SocketState>();
  s->id = nextSocket++;
  s->host = current;
  Socket id = s->id;
  sockets[id] = std::move(s);
  return id;
}

Socket World::OpenTcp() {
  Socket id = OpenUdp();
  sockets[id]->tcp = true;
  return id;
}

bool World::PortTaken(HostId host, bool tcp, Endpoint local, Socket except) {
  for (auto& [id, s] : sockets) {
    if (id == except || s->host != host || s->tcp != tcp || !s->bound || s->local.port != local.port) continue;
    if (s->local.address == local.address || s->local.address == kAnyAddress || local.address == kAnyAddress) {
      return true;
    }
  }
  return false;
}

uint16_t World::EphemeralPort(HostId id, bool tcp) {
  Host& host = HostOf(id);
  for (;;) {
    uint16_t port = host.nextPort[tcp]++;
    if (host.nextPort[tcp] == 0) host.nextPort[tcp] = kFirstEphemeralPort;
    if (!PortTaken(id, tcp, Endpoint{kAnyAddress, port}, kInvalidSocket)) return port;
  }
}

int World::Bind(Socket id, Endpoint local) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (s->bound) return Fail(EINVAL);
  if (local.address != kAnyAddress && !HostOwns(HostOf(s->host), local.address)) return Fail(EADDRNOTAVAIL);
  if (local.port == 0) local.port = EphemeralPort(s->host, s->tcp);
  if (PortTaken(s->host, s->tcp, local, id)) return Fail(EADDRINUSE);
  s->bound = true;
  s->local = local;
  return 0;
}

bool World::EnsureBound(SocketState& s) {
  if (s.bound) return true;
  s.local = Endpoint{kAnyAddress, EphemeralPort(s.host, s.tcp)};
  s.bound = true;
  return true;
}

int World::SetBroadcast(Socket id, bool allow) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  s->broadcast = allow;
  return 0;
}

int World::SetReceiveBuffer(Socket id, uint32_t bytes) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  s->receiveLimit = bytes;
  return 0;
}

int World::SendTo(Socket id, const void* data, int size, Endpoint to) {
  SocketState* s = Find(id);
  if (!s || s->tcp) return Fail(s ? ENOTCONN : EBADF);
  if (size < 0 || size > kMaxDatagramBytes) return Fail(EMSGSIZE);
  Host& from = HostOf(s->host);
  bool broadcast = to.address == kBroadcastAddress;
  uint32_t source = s->local.address;
  for (const HostAddress& a : from.addresses) {
    if (to.address == ((a.address & a.mask) | ~a.mask)) {
      broadcast = true;
      if (source == kAnyAddress) source = a.address;
    }
  }
  if (broadcast && !s->broadcast) return Fail(EACCES);
  EnsureBound(*s);
  if (source == kAnyAddress) source = IsLoopback(to.address) ? kLoopbackAddress : PrimaryAddress(from);

  Datagram d{std::vector<uint8_t>(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size),
             Endpoint{source, s->local.port}};
  if (from.loseDatagrams > 0) {
    --from.loseDatagrams;
    return size;
  }
  if (from.truncateDatagrams > 0) {
    --from.truncateDatagrams;
    if (int(d.bytes.size()) > from.truncateSize) d.bytes.resize(size_t(from.truncateSize));
  }
  if (!from.online) return size;

  std::vector<Socket> targets;
  if (broadcast) {
    for (auto& [other, o] : sockets) {
      if (!o->tcp && o->bound && o->local.port == to.port && HostOf(o->host).online) targets.push_back(other);
    }
  } else if (HostId target = HostByAddress(to.address); target != kNoHost) {
    Socket best = kInvalidSocket;
    for (auto& [other, o] : sockets) {
      if (o->tcp || !o->bound || o->host != target || o->local.port != to.port) continue;
      if (o->local.address == to.address) best = other;
      if (o->local.address == kAnyAddress && best == kInvalidSocket) best = other;
    }
    if (best != kInvalidSocket) targets.push_back(best);
  }
  // A broadcast goes on the wire even when only this host hears it; a datagram to this host does not.
  bool onWire = broadcast;
  for (Socket target : targets) onWire = onWire || Find(target)->host != s->host;
  Crossing leaving = onWire ? Leave(s->host, d.bytes.size()) : Cross(s->host, s->host, d.bytes.size());
  for (Socket target : targets) {
    HostId host = Find(target)->host;
    Crossing crossing = leaving;
    if (host != s->host) Arrive(host, &crossing);
    // A datagram arrives whole, in the first millisecond after its last byte came through.
    uint64_t throughMs = std::max(nowMs, uint64_t(std::ceil(crossing.EndMs() - kLinkSlackMs)));
    Schedule(uint32_t(throughMs - nowMs) + HostOf(host).latencyMs, [this, target, d] {
      if (SocketState* t = Find(target)) DeliverDatagram(*t, d);
    });
  }
  return size;
}

void World::DeliverDatagram(SocketState& to, Datagram d) {
  if (to.queuedBytes + d.bytes.size() > to.receiveLimit) return;
  to.queuedBytes += d.bytes.size();
  to.datagrams.push_back(std::move(d));
  Notify(to);
}

int World::PendingBytes(Socket id, uint32_t* count) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (s->tcp) {
    *count = uint32_t(s->rx.size());
  } else {
    *count = s->datagrams.empty() ? 0 : uint32_t(s->datagrams.front().bytes.size());
  }
  return 0;
}

int World::RecvFrom(Socket id, void* buffer, int size, Endpoint* from) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (s->tcp) {
    int n = Recv(id, buffer, size);
    if (n >= 0 && from) *from = s->remote;
    return n;
  }
  if (!WaitUntil([this, id] { SocketState* t = Find(id); return !t || !t->datagrams.empty(); }, nowMs + kMaxBlockMs)) {
    return Fail(ETIMEDOUT);
  }
  s = Find(id);
  if (!s) return Fail(EBADF);
  Datagram d = std::move(s->datagrams.front());
  s->datagrams.pop_front();
  s->queuedBytes -= d.bytes.size();
  // As on Linux: the part that does not fit is lost and the call reports what it copied.
  int n = size < int(d.bytes.size()) ? size : int(d.bytes.size());
  if (n > 0) std::memcpy(buffer, d.bytes.data(), size_t(n));
  if (from) *from = d.from;
  return n;
}

int World::LocalEndpoint(Socket id, Endpoint* local) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  *local = s->local;
  return 0;
}

int World::Listen(Socket id, int) {
  SocketState* s = Find(id);
  if (!s || !s->tcp) return Fail(s ? EOPNOTSUPP : EBADF);
  if (s->state != SocketState::Tcp::Idle) return Fail(EINVAL);
  EnsureBound(*s);
  s->state = SocketState::Tcp::Listening;
  return 0;
}

int World::Connect(Socket id, Endpoint to) {
  SocketState* s = Find(id);
  if (!s || !s->tcp) return Fail(s ? EOPNOTSUPP : EBADF);
  if (s->state != SocketState::Tcp::Idle) return Fail(EISCONN);
  HostId targetId = HostByAddress(to.address);
  EnsureBound(*s);
  if (s->local.address == kAnyAddress) {
    s->local.address = IsLoopback(to.address) ? kLoopbackAddress : PrimaryAddress(HostOf(s->host));
  }
  s->state = SocketState::Tcp::Connecting;
  s->remote = to;

  auto result = std::make_shared<int>(-1);  // -1 pending, else 0 or an errno
  uint32_t delay = targetId != kNoHost ? HostOf(targetId).connectDelayMs : kConnectTimeoutMs;
  Schedule(delay, [this, id, to, targetId, result] {
    SocketState* client = Find(id);
    if (!client) return;
    if (targetId == kNoHost || !HostOf(targetId).online) {
      *result = ETIMEDOUT;
      return;
    }
    Socket listener = kInvalidSocket;
    for (auto& [other, o] : sockets) {
      if (o->tcp && o->host == targetId && o->state == SocketState::Tcp::Listening && o->local.port == to.port &&
          (o->local.address == kAnyAddress || o->local.address == to.address)) {
        listener = other;
      }
    }
    if (listener == kInvalidSocket) {
      *result = ECONNREFUSED;
      return;
    }
    auto server = std::make_unique<SocketState>();
    server->id = nextSocket++;
    server->host = targetId;
    server->tcp = true;
    server->bound = true;
    server->local = to;
    server->state = SocketState::Tcp::Connected;
    server->peer = id;
    server->remote = client->local;
    client->peer = server->id;
    client->state = SocketState::Tcp::Connected;
    Socket serverId = server->id;
    sockets[serverId] = std::move(server);
    SocketState* l = Find(listener);
    l->acceptQueue.push_back(serverId);
    Notify(*l);
    *result = 0;
  });
  WaitUntil([result] { return *result >= 0; }, nowMs + kMaxBlockMs);
  s = Find(id);
  if (!s) return Fail(EBADF);
  if (*result != 0) {
    s->state = SocketState::Tcp::Idle;
    return Fail(*result < 0 ? ETIMEDOUT : *result);
  }
  return 0;
}

Socket World::Accept(Socket id, Endpoint* from) {
  SocketState* s = Find(id);
  if (!s || s->state != SocketState::Tcp::Listening) {
    Fail(s ? EINVAL : EBADF);
    return kInvalidSocket;
  }
  if (!WaitUntil([this, id] { SocketState* t = Find(id); return !t || !t->acceptQueue.empty(); }, nowMs + kMaxBlockMs)) {
    Fail(ETIMEDOUT);
    return kInvalidSocket;
  }
  s = Find(id);
  if (!s) {
    Fail(EBADF);
    return kInvalidSocket;
  }
  Socket accepted = s->acceptQueue.front();
  s->acceptQueue.pop_front();
  SocketState* a = Find(accepted);
  if (a && from) *from = a->remote;
  return a ? accepted : kInvalidSocket;
}

size_t World::WritableBytes(Socket id) {
  SocketState* s = Find(id);
  return s && s->tcp && s->state == SocketState::Tcp::Connected ? SendRoom(*s) : 0;
}

size_t World::SendRoom(SocketState& s) {
  SocketState* peer = Find(s.peer);
  if (!peer) return kStreamWindowBytes;
  size_t used = s.inFlight + peer->rx.size();
  return used >= kStreamWindowBytes ? 0 : kStreamWindowBytes - used;
}

void World::Deliver(Socket fromId, std::vector<uint8_t> bytes) {
  SocketState* from = Find(fromId);
  SocketState* to = Find(from->peer);
  if (!to) return;
  from->inFlight += bytes.size();
  Crossing crossing = Cross(from->host, to->host, bytes.size());
  uint32_t latencyMs = HostOf(to->host).latencyMs;
  Socket toId = to->id;
  // What has come through the links by each millisecond is handed over then, so that behind a slow
  // link the reader sees a trickle and the sender's window opens as it is read.
  size_t done = 0;
  double firstMs = std::max(crossing.outStartMs, crossing.inStartMs);
  for (uint64_t throughMs = std::max(nowMs, uint64_t(firstMs)); done < bytes.size(); ++throughMs) {
    size_t next = crossing.DoneBy(double(throughMs));
    if (next == done) continue;
    uint64_t at = throughMs + latencyMs;
    if (at < from->lastArrivalMs) at = from->lastArrivalMs;
    from->lastArrivalMs = at;
    std::vector<uint8_t> piece(bytes.begin() + long(done), bytes.begin() + long(next));
    done = next;
    Schedule(uint32_t(at - nowMs), [this, fromId, toId, piece = std::move(piece)] {
      if (SocketState* f = Find(fromId)) f->inFlight -= piece.size();
      SocketState* t = Find(toId);
      if (!t || t->resetReceived) return;
      t->rx.insert(t->rx.end(), piece.begin(), piece.end());
      Notify(*t);
    });
  }
}

int World::Send(Socket id, const void* data, int size) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (!s->tcp || s->state != SocketState::Tcp::Connected) return Fail(ENOTCONN);
  if (s->resetReceived) return Fail(ECONNRESET);
  if (s->shutWrite) return Fail(EPIPE);
  if (s->peerGone) {
    // The peer is gone: this send still leaves, its answer is a reset that fails the next one.
    s->resetReceived = true;
    return size;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  size_t left = size_t(size);
  const uint32_t timeoutMs = s->sendTimeoutMs;
  const uint64_t deadlineMs = nowMs + (timeoutMs > 0 ? timeoutMs : kMaxBlockMs);
  // A blocking send waits inside the system however often room comes free: one wake-up of the
  // caller.
  ++waits;
  struct Blocking {
    bool& flag;
    bool outer;
    ~Blocking() { flag = outer; }
  } blocking{inBlockingSend, inBlockingSend};
  inBlockingSend = true;
  while (left > 0) {
    bool ok = WaitUntil(
        [this, id] {
          SocketState* t = Find(id);
          return !t || t->resetReceived || t->peerGone || SendRoom(*t) > 0;
        },
        deadlineMs);
    s = Find(id);
    if (!s) return Fail(EBADF);
    if (!ok) {
      // A time-out reports what was handed over, which stays on its way; the guard against a hung
      // test fails the whole call.
      bool partial = timeoutMs > 0 && left < size_t(size);
      return partial ? size - int(left) : Fail(ETIMEDOUT);
    }
    if (s->resetReceived || s->peerGone) return Fail(ECONNRESET);
    size_t take = std::min(left, SendRoom(*s));
    bool drop = take >= s->dropAfter;
    if (drop) take = s->dropAfter;
    s->dropAfter = s->dropAfter == SIZE_MAX ? SIZE_MAX : s->dropAfter - take;
    Deliver(id, std::vector<uint8_t>(bytes, bytes + take));
    bytes += take;
    left -= take;
    if (drop) {
      ResetConnection(id);
      return left == 0 ? size : Fail(ECONNRESET);
    }
  }
  return size;
}

size_t World::SplitPoint(size_t available) {
  // Half of the reads stop at a point drawn from the seed, so framing meets messages cut anywhere.
  if (!readCutting || available <= 1 || rng() % 2 == 0) return available;
  return 1 + size_t(rng() % available);
}

int World::Recv(Socket id, void* buffer, int size) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (!s->tcp || s->state != SocketState::Tcp::Connected) return Fail(ENOTCONN);
  if (!WaitUntil([this, id] { SocketState* t = Find(id); return !t || Readable(*t); }, nowMs + kMaxBlockMs)) {
    return Fail(ETIMEDOUT);
  }
  s = Find(id);
  if (!s) return Fail(EBADF);
  if (s->resetReceived) return Fail(ECONNRESET);
  if (s->rx.empty() || s->shutRead) return 0;
  size_t take = SplitPoint(std::min(size_t(size), s->rx.size()));
  std::copy(s->rx.begin(), s->rx.begin() + long(take), static_cast<uint8_t*>(buffer));
  s->rx.erase(s->rx.begin(), s->rx.begin() + long(take));
  return int(take);
}

bool World::Readable(SocketState& s) {
  if (!s.tcp) return !s.datagrams.empty();
  switch (s.state) {
    case SocketState::Tcp::Listening:
      return !s.acceptQueue.empty();
    case SocketState::Tcp::Connected:
      return !s.rx.empty() || s.finReceived || s.resetReceived || s.shutRead;
    default:
      return false;
  }
}

bool World::Writable(SocketState& s) {
  if (!s.tcp) return true;
  if (s.state != SocketState::Tcp::Connected) return false;
  return s.resetReceived || s.peerGone || s.shutWrite || SendRoom(s) > 0;
}

int World::WaitReadable(Socket id, uint32_t ms) {
  if (!Find(id)) return Fail(EBADF);
  bool ready = WaitUntil([this, id] { SocketState* t = Find(id); return !t || Readable(*t); }, nowMs + ms);
  if (!Find(id)) return Fail(EBADF);
  return ready ? 1 : 0;
}

int World::WaitWritable(Socket id, uint32_t ms) {
  if (!Find(id)) return Fail(EBADF);
  bool ready = WaitUntil([this, id] { SocketState* t = Find(id); return !t || Writable(*t); }, nowMs + ms);
  if (!Find(id)) return Fail(EBADF);
  return ready ? 1 : 0;
}

int World::WaitReady(Socket id, int wanted, uint32_t ms) {
  if (!Find(id)) return Fail(EBADF);
  if (!writeWakeups) wanted &= ~kWriteReady;
  auto holding = [this, id, wanted] {
    SocketState* t = Find(id);
    if (!t) return 0;
    return ((wanted & kReadReady) && Readable(*t) ? kReadReady : 0) |
           ((wanted & kWriteReady) && Writable(*t) ? kWriteReady : 0);
  };
  WaitUntil([&] { return !Find(id) || holding() != 0; }, nowMs + ms);
  if (!Find(id)) return Fail(EBADF);
  return holding();
}

int World::SetSendTimeout(Socket id, uint32_t ms) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  s->sendTimeoutMs = ms;
  return 0;
}

int World::WaitAny(WaitEntry* entries, int count, uint32_t ms) {
  auto scan = [this, entries, count] {
    int ready = 0;
    for (int i = 0; i < count; ++i) {
      SocketState* s = Find(entries[i].socket);
      entries[i].readable = s && Readable(*s);
      ready += entries[i].readable;
    }
    return ready;
  };
  WaitUntil([&] { return scan() > 0; }, nowMs + ms);
  return scan();
}

void World::Disconnect(SocketState& s, bool reset) {
  SocketState* peer = Find(s.peer);
  if (reset) {
    s.resetReceived = true;
    s.rx.clear();
    Notify(s);
    if (peer) {
      peer->resetReceived = true;
      peer->rx.clear();
      Notify(*peer);
    }
    return;
  }
  if (!peer) return;
  // The close travels behind the bytes already on their way.
  Socket peerId = peer->id;
  uint64_t at = std::max(nowMs + HostOf(peer->host).latencyMs, s.lastArrivalMs);
  Schedule(uint32_t(at - nowMs), [this, peerId] {
    if (SocketState* p = Find(peerId)) {
      p->finReceived = true;
      Notify(*p);
    }
  });
}

int World::ShutdownReceive(Socket id) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (s->tcp && s->state != SocketState::Tcp::Connected) return Fail(ENOTCONN);
  s->shutRead = true;
  return 0;
}

int World::ShutdownBoth(Socket id) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (s->tcp && s->state != SocketState::Tcp::Connected) return Fail(ENOTCONN);
  s->shutRead = true;
  if (!s->shutWrite) {
    s->shutWrite = true;
    Disconnect(*s, false);
  }
  return 0;
}

int World::Close(Socket id) {
  SocketState* s = Find(id);
  if (!s) return Fail(EBADF);
  if (s->tcp && s->state == SocketState::Tcp::Connected) {
    if (!s->shutWrite) Disconnect(*s, false);
    if (SocketState* peer = Find(s->peer)) peer->peerGone = true;
  }
  for (Socket pending : s->acceptQueue) {
    if (SocketState* p = Find(pending)) Disconnect(*p, true);
    sockets.erase(pending);
  }
  sockets.erase(id);
  return 0;
}

int World::GetAddressCount(int* count) {
  int n = 1;  // loopback
  for (const Adapter& adapter : HostOf(current).adapters) n += int(adapter.addresses.size());
  *count = n;
  return 0;
}

int World::GetAdapters(std::vector<Adapter>* adapters) {
  *adapters = HostOf(current).adapters;
  return 0;
}

}  // namespace platform::sim
