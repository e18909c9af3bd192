#pragma once
// Sockets shaped like the BSD/Winsock calls the application makes. Return codes, never exceptions:
// 0 or -1 for the calls that succeed or fail, byte counts or -1 for transfers, and the reason of the
// last failure in LastSocketError().
#include <cstdint>

namespace platform {

using Socket = int;
constexpr Socket kInvalidSocket = -1;

// An IPv4 endpoint. `address` is in network byte order, that is the four octets in memory first
// octet first, as a socket address and the discovery answer hold it; `port` is in host order.
struct Endpoint {
  uint32_t address = 0;
  uint16_t port = 0;
};

constexpr uint32_t kAnyAddress = 0;
constexpr uint32_t kBroadcastAddress = 0xFFFFFFFFu;

// Address from four octets, first octet first (MakeAddress(192, 168, 1, 20)).
constexpr uint32_t MakeAddress(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return uint32_t(a) | uint32_t(b) << 8 | uint32_t(c) << 16 | uint32_t(d) << 24;
}

// Makes the system's sockets usable (Winsock's start-up; nothing to do on POSIX): 1 when they are,
// 0 when the system refused.
int StartSockets();

Socket OpenUdp();
Socket OpenTcp();
// No address reuse: an address and port that another live socket holds fails, except that a TCP
// port binds again while only connections of an earlier listener on it remain (TIME_WAIT). A UDP
// socket bound to an adapter's address also receives the broadcasts to its port that arrive on that
// adapter (to 255.255.255.255 and to the adapter's subnet), as ordinary datagrams. Winsock lets a
// wildcard bind share a port with a live socket bound to one address of it (more specific wins);
// Linux, and wine on it, refuse that one too.
int Bind(Socket s, Endpoint local);
int SetBroadcast(Socket s, bool allow);
// Asks for room for about `bytes` of queued datagrams (UDP), as SO_RCVBUF does on Windows; the
// system may grant less. 0 on success.
int SetReceiveBuffer(Socket s, uint32_t bytes);
int SendTo(Socket s, const void* data, int size, Endpoint to);
// Size of the next pending datagram (UDP) or of the bytes ready to read (TCP) in *count.
int PendingBytes(Socket s, uint32_t* count);
int RecvFrom(Socket s, void* buffer, int size, Endpoint* from);  // the rest of a longer datagram is lost
int Connect(Socket s, Endpoint to);          // blocking
int Send(Socket s, const void* data, int size);
int Recv(Socket s, void* buffer, int size);  // 0: the peer closed in order
int LocalEndpoint(Socket s, Endpoint* local);  // the bound address and port
int Listen(Socket s, int backlog);
Socket Accept(Socket s, Endpoint* from);
// 1 when the socket becomes ready within ms, 0 when the time ran out, -1 for a bad socket.
int WaitReadable(Socket s, uint32_t ms);
int WaitWritable(Socket s, uint32_t ms);
// Readiness bits of WaitReady.
constexpr int kReadReady = 1;
constexpr int kWriteReady = 2;
// Waits until the socket is ready for any condition in `wanted` (kReadReady, kWriteReady or both)
// or ms ran out. Returns the conditions of `wanted` that hold (0 on time-out), -1 for a bad socket.
// Readable and writable mean what WaitReadable and WaitWritable mean.
int WaitReady(Socket s, int wanted, uint32_t ms);
// A blocking send on this socket that cannot hand over all its bytes within ms returns the count it
// handed over, or -1 (time-out error, ETIMEDOUT) when it handed over none. 0 turns the limit off
// (the default).
int SetSendTimeout(Socket s, uint32_t ms);
int ShutdownReceive(Socket s);
int ShutdownBoth(Socket s);
int Close(Socket s);
int LastSocketError();
// What a failed Bind's LastSocketError() means where a person can do something about it: the port
// is held by another socket, or the process may not bind it (a port below 1024 without the right).
bool IsAddressInUseError(int error);
bool IsPermissionError(int error);

// One entry of WaitAny: which sockets to watch and, on return, which are readable.
struct WaitEntry {
  Socket socket = kInvalidSocket;
  bool readable = false;
};
// Waits until any of the sockets is readable (or has a connection to accept) or ms ran out;
// returns the number of readable entries, 0 on time-out, -1 on error.
int WaitAny(WaitEntry* entries, int count, uint32_t ms);

}  // namespace platform
