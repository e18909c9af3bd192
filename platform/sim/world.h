#pragma once
// A simulated LAN under a virtual clock, installed as the process's platform while it lives.
//
// Everything runs on the caller's one thread. Whenever code waits (Sleep, a socket wait, a blocking
// connect, send or receive), the world moves its clock to the next due event, runs it, and looks
// again, so a ten-minute wait costs microseconds and a run is the same every time for one seed.
// Events run as the host that scheduled them: a socket opened inside a controller's handler belongs
// to that controller. Code outside any event runs as the client host (the first host added).
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/real.h"
#include "platform/services.h"

namespace platform::sim {

using HostId = int;
using EventId = uint64_t;
constexpr HostId kNoHost = -1;

struct HostAddress {
  uint32_t address = 0;  // network order
  uint32_t mask = 0;     // network order
};

// A blocking call that could wait forever (a peer that never reads or answers) gives up after this
// much virtual time with ETIMEDOUT, so that a test of a hung program ends instead of spinning.
constexpr uint32_t kMaxBlockMs = 60u * 60u * 1000u;
// Bytes that may be on the way from one end of a connection to the other, unread: the room that
// decides whether a sender can write.
constexpr size_t kStreamWindowBytes = 128 * 1024;
// Bytes of datagrams a UDP socket queues before it drops new ones.
constexpr size_t kDatagramQueueBytes = 64 * 1024;
// A connect to an address that nobody holds fails after this long, as a real SYN would.
constexpr uint32_t kConnectTimeoutMs = 21000;

class World : public ClockService, public NetworkService {
 public:
  // Installs itself as the process's clock and network (and files, see SetFiles) until destroyed.
  // One world at a time: destroy the old one before making the next.
  explicit World(uint32_t startTick = 0, uint64_t seed = 1);
  ~World() override;
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  uint64_t Seed() const { return seed; }

  // --- hosts -------------------------------------------------------------------------------
  // A host with one adapter holding `addresses`; its adapter list can be replaced (SetAdapters).
  HostId AddHost(const std::string& name, std::vector<HostAddress> addresses);
  HostId AddHost(const std::string& name, uint32_t address, uint32_t mask = 0x00FFFFFFu);
  // The adapter list the host reports (the address table follows it, plus loopback).
  void SetAdapters(HostId host, std::vector<Adapter> adapters);
  // Takes a host off the LAN (datagrams and connects to it vanish) or puts it back.
  void SetHostOnline(HostId host, bool online);
  // The host that the calling code runs as.
  HostId CurrentHost() const { return current; }
  // Runs fn as `host` (sockets it opens belong to that host).
  void RunAs(HostId host, const std::function<void()>& fn);

  // --- time and events -----------------------------------------------------------------------
  uint64_t NowMs() const { return nowMs; }
  // Schedules fn to run as the current host after delayMs of virtual time.
  EventId Schedule(uint32_t delayMs, std::function<void()> fn);
  void Cancel(EventId id);
  // Runs every event due within the next ms and leaves the clock ms later.
  void RunFor(uint32_t ms);
  // Runs events until pred() holds (1) or limitMs passed (0).
  int RunUntil(const std::function<bool()>& pred, uint32_t limitMs);
  // Calls fn (as the socket's host) each time the socket becomes readable: data, a datagram, a
  // connection to accept, or the peer's close. One call per change; read until empty inside it.
  void Watch(Socket s, std::function<void()> fn);
  void Unwatch(Socket s);

  // Bytes a send on this connected socket can hand over now without waiting for the peer to read.
  // Simulated peers that must never block use it.
  size_t WritableBytes(Socket s);

  // --- how the code under test waits ---------------------------------------------------------
  // Every wait (Sleep, a socket wait, a blocking call) counts, whether or not it had to wait.
  uint64_t Waits() const { return waits; }
  // Calls onSpin (once) when this many waits in a row end at the instant they began: code that
  // polls without ever letting time pass would otherwise never return under a virtual clock.
  void SetSpinGuard(uint64_t waitsAtOneInstant, std::function<void()> onSpin);

  // --- faults --------------------------------------------------------------------------------
  // Datagrams sent from `host` after this call: the next `count` are lost, or cut to `size` bytes.
  void LoseDatagrams(HostId from, int count);
  void TruncateDatagrams(HostId from, int count, int size);
  // The connection of socket s is reset after `bytes` more bytes were sent on it (either way).
  void DropAfterBytes(Socket s, size_t bytes);
  // Resets the connection at once: both ends see ECONNRESET.
  void ResetConnection(Socket s);
  // Connects to this host take delayMs before they are accepted (or refused).
  void SetConnectDelay(HostId host, uint32_t delayMs);
  // Reads stop at seeded points (the default) or take all that has arrived, up to the size asked.
  void SetReadCutting(bool on) { readCutting = on; }
  // Off: WaitReady wakes for reading only, as a platform would whose waits know no writability; a
  // sender waiting for room then sits out its whole wait. For measuring what that pacing costs.
  void SetWriteWakeups(bool on) { writeWakeups = on; }
  // Bytes sent to a host are delivered this much later.
  void SetLatency(HostId host, uint32_t delayMs);
  // The speed of the host's link to the LAN, the same in each direction; 0 (the default) is no
  // limit. Bytes leaving the host (stream bytes and datagrams) cross its outgoing link one after
  // another at this rate, and bytes arriving cross its incoming link likewise; the latency of the
  // receiving host comes on top. Stream bytes still on a link count against the sender's window, so
  // a sender is paced by the slower link. Traffic within one host (loopback) crosses no link.
  void SetLinkRate(HostId host, uint32_t bytesPerMs);

  // --- files ---------------------------------------------------------------------------------
  // Drive paths ("C:\...") below driveRoot; relative paths and the current directory below
  // currentDirectory. Until called, the real file system is used as it is.
  void SetFiles(const std::string& driveRoot, const std::string& currentDirectory);

  // --- ClockService ----------------------------------------------------------------------------
  uint32_t GetTickCount() override;
  void Sleep(uint32_t ms) override;

  // --- NetworkService --------------------------------------------------------------------------
  Socket OpenUdp() override;
  Socket OpenTcp() override;
  int Bind(Socket s, Endpoint local) override;
  int SetBroadcast(Socket s, bool allow) override;
  // Datagram bytes the socket queues before it drops new ones (kDatagramQueueBytes until set).
  int SetReceiveBuffer(Socket s, uint32_t bytes) override;
  int SendTo(Socket s, const void* data, int size, Endpoint to) override;
  int PendingBytes(Socket s, uint32_t* count) override;
  int RecvFrom(Socket s, void* buffer, int size, Endpoint* from) override;
  int Connect(Socket s, Endpoint to) override;
  int Send(Socket s, const void* data, int size) override;
  int Recv(Socket s, void* buffer, int size) override;
  int LocalEndpoint(Socket s, Endpoint* local) override;
  int Listen(Socket s, int backlog) override;
  Socket Accept(Socket s, Endpoint* from) override;
  int WaitReadable(Socket s, uint32_t ms) override;
  int WaitWritable(Socket s, uint32_t ms) override;
  int WaitReady(Socket s, int wanted, uint32_t ms) override;
  int SetSendTimeout(Socket s, uint32_t ms) override;
  int WaitAny(WaitEntry* entries, int count, uint32_t ms) override;
  int ShutdownReceive(Socket s) override;
  int ShutdownBoth(Socket s) override;
  int Close(Socket s) override;
  int LastSocketError() override;
  int GetAddressCount(int* count) override;
  int GetAdapters(std::vector<Adapter>* adapters) override;

 private:
  struct Host;
  struct SocketState;
  struct Datagram {
    std::vector<uint8_t> bytes;
    Endpoint from;
  };
  // How one piece of bytes crosses the links between two hosts (Leave, Arrive).
  struct Crossing {
    size_t size = 0;
    double outStartMs = 0;  // the first byte leaves the sender
    uint32_t outRate = 0;   // bytes per ms, 0: no limit
    double inStartMs = 0;   // the receiver's link takes the first byte, never before it left
    uint32_t inRate = 0;
    // Bytes through both links by atMs.
    size_t DoneBy(double atMs) const;
    double EndMs() const;
  };
  struct Event {
    uint64_t atMs;
    EventId id;
    HostId host;
    std::function<void()> fn;
  };

  SocketState* Find(Socket s);
  Host& HostOf(HostId id);
  // The online host holding the address (loopback: the current host), or kNoHost.
  HostId HostByAddress(uint32_t address);
  bool HostOwns(const Host& host, uint32_t address) const;
  uint32_t PrimaryAddress(const Host& host) const;
  uint16_t EphemeralPort(HostId host, bool tcp);
  bool PortTaken(HostId host, bool tcp, Endpoint local, Socket except);
  bool EnsureBound(SocketState& s);
  int Fail(int error);

  // Runs the next event if it is due at or before deadlineMs; false when none is.
  bool RunNextEventBefore(uint64_t deadlineMs);
  // Waits until ready() or the time is up; true when ready.
  bool WaitUntil(const std::function<bool()>& ready, uint64_t deadlineMs);
  void Notify(SocketState& s);
  void DeliverDatagram(SocketState& to, Datagram d);
  // Puts `size` bytes on the sending host's outgoing link now, behind what it still carries.
  Crossing Leave(HostId from, size_t size);
  // Takes them through the receiving host's incoming link, behind what that one still carries.
  void Arrive(HostId to, Crossing* crossing);
  // Leave and Arrive for bytes between two hosts; within one host they cross no link.
  Crossing Cross(HostId from, HostId to, size_t size);
  void Deliver(Socket to, std::vector<uint8_t> bytes);
  void Disconnect(SocketState& s, bool reset);
  bool Readable(SocketState& s);
  bool Writable(SocketState& s);
  size_t SendRoom(SocketState& s);
  size_t SplitPoint(size_t available);

  uint32_t startTick;
  uint64_t seed;
  std::mt19937_64 rng;
  uint64_t nowMs = 0;
  EventId nextEventId = 1;
  std::multimap<std::pair<uint64_t, EventId>, Event> events;
  std::vector<std::unique_ptr<Host>> hosts;
  HostId current = 0;
  std::map<Socket, std::unique_ptr<SocketState>> sockets;
  Socket nextSocket = 1000;
  int lastError = 0;
  uint64_t waits = 0;
  bool inBlockingSend = false;
  uint64_t standstill = 0;  // waits in a row that let no time pass
  uint64_t spinLimit = 0;
  std::function<void()> onSpin;
  bool readCutting = true;
  bool writeWakeups = true;
  std::unique_ptr<os::FileSystem> files;
  Services previous;
};

}  // namespace platform::sim
