#pragma once
// The server session: the one connection to the chosen controller, its login, the framing of the
// received byte stream into messages, and their delivery to registered sinks by sink id.
#include <cstdint>
#include <memory>
#include <string>

#include "net/connection.h"
#include "net/msg.h"
#include "net/sink.h"

inline constexpr int kMaxSinks = 32;
inline constexpr int kMaxDeferred = 64;
// The receive buffer, and so the largest frame, header included.
inline constexpr uint32_t kRxBufferBytes = 1000000;
// A serviced connection on which nothing arrives for longer than this is taken for dead.
inline constexpr uint32_t kIdleLimitMs = 10000;

class CVRServer : public CSocketSink {
 public:
  // Registers itself as sink 0.
  CVRServer();
  // Closes the connection and drops what was deferred.
  ~CVRServer() override;

  // --- connect and login ---
  // The system type to log in under (1 or 9) and the pass phrase of the login key.
  void SetTarget(int32_t type, const std::string& name);
  // Opens the connection with its primer and logs in. 1 on success; on failure 0 and closed.
  int Connect(platform::Endpoint address);
  // Challenge (request 14) and answer (request 27). 1 when the controller accepted.
  int Login();

  int IsConnected() const { return connection->IsOpen(); }
  CGConnection* GetConnection() { return connection.get(); }

  // 1 when the whole wire image was sent.
  int SendMsg(CVRMSG* message);

  // A sink id that no registered sink holds, from 0 to 0x7FFE, moving on from the last one given.
  int16_t AllocateSinkId();
  // 1 when added; 0 when already registered or kMaxSinks are.
  int AddSink(CSocketSink* sink);
  void RemoveSink(CSocketSink* sink);

  // Delivers what was deferred, then waits up to ms for data and delivers every complete message.
  // 0 nothing delivered, 1 something delivered, 2 the connection is down (or was just closed as
  // broken or idle). Sinks are called back from inside, and may re-enter.
  int Service(uint32_t ms);
  // Waits up to ms for a message to sink `id` and delivers it; messages for other sinks meanwhile
  // are kept (up to kMaxDeferred) for the next Service. 1 when a message for id was delivered.
  int WaitFor(int16_t id, uint32_t ms);
  // To every sink for kAllSinks, else to the first registered sink with the message's id.
  void Dispatch(CVRMSG* message);

  int32_t GetSystemType() const { return systemType; }
  int GetSinkCount() const { return sinkCount; }
  int GetDeferredCount() const { return deferredCount; }

 private:
  enum class Receipt { Nothing, Data, Down };
  enum class Frame { Incomplete, Message, Broken };

  Receipt ReceiveMore();
  // Looks at the start of the receive buffer: a broken header closes the connection.
  Frame NextFrame(uint32_t* total);
  void Consume(uint32_t total);
  void NotifyConnectionState(int up);

  uint32_t state = 0;  // bit 0: the connection was up when last serviced
  std::unique_ptr<CGConnection> connection;
  CSocketSink* sinks[kMaxSinks] = {};
  int32_t sinkCount = 0;
  uint16_t nextId = 0;
  std::unique_ptr<CVRMSG> deferred[kMaxDeferred];
  int32_t deferredCount = 0;
  int32_t systemType = 0;
  std::string passPhrase;
  std::unique_ptr<uint8_t[]> rxBuffer;
  uint32_t rxFill = 0;
  uint32_t lastRx;
};

// The process-wide session, or null. Every sink and query reaches the session through it.
CVRServer* GetServer();
// Makes `server` the process-wide session, deleting the one before.
void SetServer(std::unique_ptr<CVRServer> server);
// Deletes the process-wide session, if any, and clears the pointer.
void CloseServer();
