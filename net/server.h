#pragma once
// The server session: the one connection to the chosen controller, its login, the framing of the
// received byte stream into messages, and their delivery to registered sinks by sink id.
#include <cstdint>
#include <memory>
#include <string>

#include "net/connection.h"
#include "net/frame_reader.h"
#include "net/msg.h"
#include "net/sink.h"

inline constexpr int kMaxSinks = 32;
inline constexpr int kMaxDeferred = 64;
// A serviced connection on which nothing arrives, and which takes no data, for longer than this is
// taken for dead; so is one that takes no data for longer than this while a sender waits for room
// (ServiceUntilWritable), whatever arrives meanwhile.
inline constexpr uint32_t kIdleLimitMs = 10000;

class ServerHold;

// Re-entry: Service, WaitFor and Dispatch call sinks back, and a sink (or a window handler that a
// step pumps meanwhile) may service the session again, wait for another message, or close the
// session. Each of them takes a message out of the buffer or the deferred list before delivering it,
// and a session closed while in use stays alive (closed, delivering nothing more) until the
// outermost use returns; see ServerHold.
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
  // What the last Connect failed at, for a front end to tell a person.
  enum class ConnectFailure { None, Connection, Login };
  ConnectFailure GetConnectFailure() const { return connectFailure; }

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
  // broken or idle). Sinks are called back from inside and may re-enter.
  int Service(uint32_t ms);
  // Service whose wait also ends as soon as the connection can take more data, so that a sender
  // paced by the connection does not sit out the slice while the link idles. A connection that has
  // taken nothing for kIdleLimitMs is closed (2).
  int ServiceUntilWritable(uint32_t ms);
  // Waits up to ms for a message to sink `id` and delivers it; messages for other sinks meanwhile
  // are kept (up to kMaxDeferred) for the next Service. 1 when a message for id was delivered.
  // The sink is called back from inside and may re-enter.
  int WaitFor(int16_t id, uint32_t ms);
  // To every sink for kAllSinks, else to the first registered sink with the message's id. Sinks may
  // re-enter.
  void Dispatch(CVRMSG* message);

  int32_t GetSystemType() const { return systemType; }
  int GetSinkCount() const { return sinkCount; }
  int GetDeferredCount() const { return deferredCount; }

 private:
  friend class ServerHold;
  friend void CloseServer();
  enum class Receipt { Timeout, Nothing, Data, Down };

  int ServiceSlice(uint32_t ms, int untilWritable);
  // Waits up to ms for bytes (or for room to send, with untilWritable) and feeds what came to
  // the reader.
  Receipt ReceiveMore(uint32_t ms, int untilWritable);
  // The next whole frame off the reader; a broken stream closes the connection.
  FrameReader::Result NextFrame(const uint8_t** frame, uint32_t* total);
  // Delivers a frame just taken, where it lies in the reader's buffer.
  void DeliverFrame(const uint8_t* frame, uint32_t total);
  std::unique_ptr<CVRMSG> TakeDeferred(int index);
  void NotifyConnectionState(int up);
  void Retire();

  uint32_t state = 0;  // bit 0: the connection was up when last serviced
  std::unique_ptr<CGConnection> connection;
  CSocketSink* sinks[kMaxSinks] = {};
  int32_t sinkCount = 0;
  uint16_t nextId = 0;
  std::unique_ptr<CVRMSG> deferred[kMaxDeferred];
  int32_t deferredCount = 0;
  int32_t systemType = 0;
  ConnectFailure connectFailure = ConnectFailure::None;
  std::string passPhrase;
  // Received bytes and the frames in them; frames are delivered where they lie.
  FrameReader rx;
  uint32_t lastRx;
  uint32_t lastTx;  // the last message the connection took whole
  int32_t holds = 0;
  int32_t retired = 0;
};

// Keeps a session object alive across a call that may dispatch, and so re-enter: CloseServer
// meanwhile clears the process-wide pointer and closes the connection at once, but deletes the
// object only when the last hold on it ends. Whoever holds a session across a pump holds one.
class ServerHold {
 public:
  // `server` may be null.
  explicit ServerHold(CVRServer* server);
  ~ServerHold();
  ServerHold(const ServerHold&) = delete;
  ServerHold& operator=(const ServerHold&) = delete;

  CVRServer* get() const { return server; }
  CVRServer* operator->() const { return server; }
  explicit operator bool() const { return server != nullptr; }

 private:
  CVRServer* server;
};

// The process-wide session, or null. Every sink and query reaches the session through it.
CVRServer* GetServer();
// Makes `server` the process-wide session, closing the one before (see CloseServer).
void SetServer(std::unique_ptr<CVRServer> server);
// Closes the process-wide session, if any, and clears the pointer. A session still in use further
// up the stack is closed now and deleted when that use ends.
void CloseServer();
