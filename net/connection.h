#pragma once
// The byte pipe under the server session: one direct TCP connection to a controller.
#include <cstdint>

#include "platform/socket.h"

// Sent first on every connection, without terminator.
inline constexpr char kPrimer[] = "CONNECTSERVERHOST\r\n\r\n";
inline constexpr int kPrimerBytes = 21;
// A send that cannot hand all its bytes to the system within this long fails, and so closes the
// connection: a controller that stopped reading is then found in about the time that the session's
// idle rule gives a silent one, instead of holding the thread for good.
inline constexpr uint32_t kSendTimeoutMs = 10000;

class CGConnection {
 public:
  CGConnection() = default;
  // Closes the socket.
  virtual ~CGConnection();
  CGConnection(const CGConnection&) = delete;
  CGConnection& operator=(const CGConnection&) = delete;

  // Blocking connect, then the primer; sends then give up after kSendTimeoutMs. 0 on success; 2 on
  // failure, with no socket kept.
  int ConnectDirect(platform::Endpoint address);
  int IsOpen() const { return socket != platform::kInvalidSocket; }
  // 1 when the socket can take more data now.
  int CanWrite();
  // 1 when there is something to read within ms. Without a socket: 1 at once, so that the caller's
  // receive notices the closed connection.
  int WaitReadable(uint32_t ms);
  // Waits up to ms until there is something to read or room to send: platform::kReadReady and
  // platform::kWriteReady bits, 0 when the time ran out. Without a socket: kReadReady at once.
  int WaitReadableOrWritable(uint32_t ms);
  // One send of the whole buffer: 1 when every byte went. A short or failed send closes the
  // connection and gives 0.
  int SendAll(const void* data, uint32_t length);
  // One receive of up to size bytes; the result as it came. 0 (the peer closed) or an error
  // closes the connection. Without a socket: 0.
  int Receive(void* buffer, uint32_t size);
  // Shuts a valid socket down for receiving and closes it.
  void Close();

 private:
  platform::Socket socket = platform::kInvalidSocket;
};
