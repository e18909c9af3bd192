#include "net/connection.h"

CGConnection::~CGConnection() { Close(); }

int CGConnection::ConnectDirect(platform::Endpoint address) {
  Close();
  platform::Socket s = platform::OpenTcp();
  if (s == platform::kInvalidSocket) return 2;
  if (platform::Connect(s, address) != 0 || platform::SetSendTimeout(s, kSendTimeoutMs) != 0 ||
      platform::Send(s, kPrimer, kPrimerBytes) != kPrimerBytes) {
    platform::ShutdownReceive(s);
    platform::Close(s);
    return 2;
  }
  socket = s;
  return 0;
}

int CGConnection::CanWrite() { return IsOpen() && platform::WaitWritable(socket, 0) == 1; }

int CGConnection::WaitReadable(uint32_t ms) {
  if (!IsOpen()) return 1;
  return platform::WaitReadable(socket, ms) == 1;
}

int CGConnection::WaitReadableOrWritable(uint32_t ms) {
  if (!IsOpen()) return platform::kReadReady;
  int ready = platform::WaitReady(socket, platform::kReadReady | platform::kWriteReady, ms);
  return ready < 0 ? platform::kReadReady : ready;
}

int CGConnection::SendAll(const void* data, uint32_t length) {
  if (!IsOpen()) return 0;
  if (platform::Send(socket, data, int(length)) == int(length)) return 1;
  Close();
  return 0;
}

int CGConnection::Receive(void* buffer, uint32_t size) {
  if (!IsOpen()) return 0;
  int n = platform::Recv(socket, buffer, int(size));
  // A receive that fails after the socket reported itself readable means the connection is gone
  // (reset, or broken): keeping it would have every later wait return at once and every receive
  // fail again, a busy loop until some time-out.
  if (n <= 0) Close();
  return n;
}

void CGConnection::Close() {
  if (!IsOpen()) return;
  platform::ShutdownReceive(socket);
  platform::Close(socket);
  socket = platform::kInvalidSocket;
}
