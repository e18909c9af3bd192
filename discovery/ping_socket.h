#pragma once
// A discovery socket: sends the system probe from one local address and takes the answers that
// come back to it. Never blocks: every read is preceded by a look at what is pending.
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/socket.h"

// Datagrams are read into this much room; the rest of a longer one is lost.
inline constexpr int kMaxDatagramReadBytes = 256;
// Room asked for the answers that wait between two reads: every controller on the LAN answers each
// probe at once, and a site's thousand answers overflow a system's default queue.
inline constexpr uint32_t kDiscoveryReceiveBufferBytes = 2 * 1024 * 1024;

class CPingSocket {
 public:
  // Opens a UDP socket bound to localAddress (network order) and port 444, and allows broadcast.
  // A failed bind is tolerated (the socket then sends from a port of the system's choice); a socket
  // that cannot be opened or allowed to broadcast is closed and stays invalid.
  explicit CPingSocket(uint32_t localAddress);
  // Closes the socket.
  ~CPingSocket();
  CPingSocket(const CPingSocket&) = delete;
  CPingSocket& operator=(const CPingSocket&) = delete;

  // Broadcasts the system probe to 255.255.255.255:444. 1 when all 8 bytes went out; 0 otherwise
  // or on an invalid socket.
  int SendProbe();

  // Takes one pending datagram. 0: invalid socket, nothing pending, or the read failed. 1: a
  // datagram that is not an answer was consumed (any length but 180, an empty one included). 2: a
  // 180-byte answer, copied to `answer` (room for 180 bytes) with its sender in *sender.
  int ReceiveAnswer(uint8_t* answer, platform::Endpoint* sender);

  int IsValid() const { return socket != platform::kInvalidSocket; }
  // 0 when the socket holds port 444 on its address; else the socket error of the failed bind.
  int GetBindError() const { return bindError; }
  uint32_t GetLocalAddress() const { return localAddress; }

 private:
  platform::Socket socket;
  uint32_t localAddress;
  int bindError = 0;
};

// The discovery sockets of this PC: for each adapter class from 0 to CountLocalAddresses() - 1, one
// socket on the address that ChooseLocalAddress picks for it, in that order; so at most two.
std::vector<std::unique_ptr<CPingSocket>> OpenDiscoverySockets();
