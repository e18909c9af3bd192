#include "net/server.h"

#include "net/codes.h"
#include "platform/clock.h"

namespace {

std::unique_ptr<CVRServer>& Current() {
  static std::unique_ptr<CVRServer> server;
  return server;
}

}  // namespace

CVRServer* GetServer() { return Current().get(); }

void SetServer(std::unique_ptr<CVRServer> server) {
  CloseServer();
  Current() = std::move(server);
}

void CloseServer() {
  // Clear the pointer before the session goes, so that sinks destroyed meanwhile do not reach it.
  std::unique_ptr<CVRServer> old = std::move(Current());
  if (old && old->holds > 0) {
    // Still in use further up the stack: close it now, and let the last hold delete it.
    old->Retire();
    old.release();
  }
}

ServerHold::ServerHold(CVRServer* server) : server(server) {
  if (server) ++server->holds;
}

ServerHold::~ServerHold() {
  if (server && --server->holds == 0 && server->retired) delete server;
}

CVRServer::CVRServer()
    : CSocketSink(0),
      connection(std::make_unique<CGConnection>()),
      lastRx(platform::GetTickCount()),
      lastTx(lastRx) {
  AddSink(this);
}

CVRServer::~CVRServer() {
  connection.reset();
  RemoveSink(this);
}

void CVRServer::Retire() {
  retired = 1;
  connection->Close();
}

void CVRServer::SetTarget(int32_t type, const std::string& name) {
  systemType = type;
  passPhrase = name;
}

int CVRServer::SendMsg(CVRMSG* message) {
  if (!message || !connection->IsOpen()) return 0;
  uint32_t size = message->GetWireSize();
  if (!connection->SendAll(message->GetWireBytes(), size)) return 0;
  lastTx = platform::GetTickCount();
  return 1;
}

int16_t CVRServer::AllocateSinkId() {
  uint16_t candidate = nextId;
  for (int i = 0; i < sinkCount; ++i) {
    if (sinks[i]->sinkId == int16_t(candidate)) {
      candidate = candidate >= uint16_t(kAllSinks - 1) ? 0 : candidate + 1;
      i = -1;  // scan again from the first sink
    }
  }
  nextId = candidate >= uint16_t(kAllSinks - 1) ? 0 : candidate + 1;
  return int16_t(candidate);
}

int CVRServer::AddSink(CSocketSink* sink) {
  if (!sink || sinkCount >= kMaxSinks) return 0;
  for (int i = 0; i < sinkCount; ++i) {
    if (sinks[i] == sink) return 0;
  }
  sinks[sinkCount++] = sink;
  return 1;
}

void CVRServer::RemoveSink(CSocketSink* sink) {
  int kept = 0;
  for (int i = 0; i < sinkCount; ++i) {
    if (sinks[i] != sink) sinks[kept++] = sinks[i];
  }
  for (int i = kept; i < sinkCount; ++i) sinks[i] = nullptr;
  sinkCount = kept;
}

void CVRServer::Dispatch(CVRMSG* message) {
  ServerHold hold(this);
  if (retired) return;
  if (message->GetId() == kAllSinks) {
    // Index walk: a sink may leave while it is called, and the next one then moves into its slot.
    for (int i = 0; i < sinkCount && !retired; ++i) {
      CSocketSink* sink = sinks[i];
      sink->OnMessage(message);
      if (i < sinkCount && sinks[i] != sink) --i;
    }
    return;
  }
  for (int i = 0; i < sinkCount; ++i) {
    if (sinks[i]->sinkId == message->GetId()) {
      sinks[i]->OnMessage(message);
      return;
    }
  }
}

void CVRServer::NotifyConnectionState(int up) {
  for (int i = 0; i < sinkCount && !retired; ++i) {
    CSocketSink* sink = sinks[i];
    sink->OnConnectionState(up);
    if (i < sinkCount && sinks[i] != sink) --i;
  }
}

CVRServer::Receipt CVRServer::ReceiveMore(uint32_t ms, int untilWritable) {
  uint32_t room = 0;
  uint8_t* space = rx.Space(&room);
  if (room == 0) {
    // Only while a large message is still being delivered and a sink waits for more from inside
    // it: nothing fits until that delivery returns. Let the time pass rather than spin.
    platform::Sleep(ms);
    return Receipt::Timeout;
  }
  if (untilWritable) {
    int ready = connection->WaitReadableOrWritable(ms);
    if (!(ready & platform::kReadReady)) return ready ? Receipt::Nothing : Receipt::Timeout;
  } else if (!connection->WaitReadable(ms)) {
    return Receipt::Timeout;
  }
  int n = connection->Receive(space, room);
  if (n < 1) return connection->IsOpen() ? Receipt::Nothing : Receipt::Down;
  rx.Commit(uint32_t(n));
  return Receipt::Data;
}

FrameReader::Result CVRServer::NextFrame(const uint8_t** frame, uint32_t* total) {
  FrameReader::Result result = rx.Next(frame, total);
  if (result == FrameReader::Result::Broken) connection->Close();
  return result;
}

void CVRServer::DeliverFrame(const uint8_t* frame, uint32_t total) {
  // The frame has left the reader, so a sink servicing the session from inside finds only what
  // follows it; the pin keeps its bytes where they are until delivery returns.
  lastRx = platform::GetTickCount();
  FrameReader::Pin pin(rx);
  CVRMSG message(frame, total);
  Dispatch(&message);
}

std::unique_ptr<CVRMSG> CVRServer::TakeDeferred(int index) {
  std::unique_ptr<CVRMSG> message = std::move(deferred[index]);
  for (int j = index + 1; j < deferredCount; ++j) deferred[j - 1] = std::move(deferred[j]);
  --deferredCount;
  return message;
}

int CVRServer::Service(uint32_t ms) { return ServiceSlice(ms, 0); }

int CVRServer::ServiceUntilWritable(uint32_t ms) { return ServiceSlice(ms, 1); }

int CVRServer::ServiceSlice(uint32_t ms, int untilWritable) {
  ServerHold hold(this);
  if (retired) return 2;
  if (!connection->IsOpen()) {
    if (state & 1) {
      state &= ~1u;
      NotifyConnectionState(0);
    }
    return 2;
  }
  if (!(state & 1)) {
    state |= 1;
    NotifyConnectionState(1);
  }
  // One at a time off the front, so that the list stays whole for a sink that waits from inside.
  while (deferredCount > 0 && !retired) {
    std::unique_ptr<CVRMSG> message = TakeDeferred(0);
    Dispatch(message.get());
  }
  if (retired) return 2;

  Receipt receipt = ReceiveMore(ms, untilWritable);
  if (receipt == Receipt::Down) return 2;
  // Silence alone is no sign of death while the connection keeps taking what is sent: a controller
  // that answers nothing while a long file streams to it is busy, not gone.
  if (receipt == Receipt::Timeout && platform::MsSince(lastRx) > kIdleLimitMs &&
      platform::MsSince(lastTx) > kIdleLimitMs) {
    connection->Close();
    return 2;
  }
  // Nor is talk a sign of life while a sender waits for room: a controller whose reader has stopped
  // may go on sending its messages to all sinks for ever, and the copy waiting to send would then
  // wait for ever too. A connection that takes nothing for as long as a blocking send may wait is
  // dead, as that send would be.
  if (untilWritable && platform::MsSince(lastTx) > kIdleLimitMs && !connection->CanWrite()) {
    connection->Close();
    return 2;
  }

  int delivered = 0;
  const uint8_t* frame = nullptr;
  uint32_t total = 0;
  for (;;) {
    FrameReader::Result result = NextFrame(&frame, &total);
    if (result == FrameReader::Result::Broken) return 2;
    if (result == FrameReader::Result::Incomplete) break;
    DeliverFrame(frame, total);
    delivered = 1;
    if (retired) return 2;
  }
  return delivered;
}

int CVRServer::WaitFor(int16_t id, uint32_t ms) {
  ServerHold hold(this);
  if (retired || !connection->IsOpen()) return 0;
  for (int i = 0; i < deferredCount; ++i) {
    if (deferred[i]->GetId() != id) continue;
    std::unique_ptr<CVRMSG> message = TakeDeferred(i);
    Dispatch(message.get());
    return 1;
  }

  if (ReceiveMore(ms, 0) == Receipt::Down) return 0;

  const uint8_t* frame = nullptr;
  uint32_t total = 0;
  for (;;) {
    if (NextFrame(&frame, &total) != FrameReader::Result::Message) return 0;
    if (DecodeFrameHeader(frame).id == id) {
      DeliverFrame(frame, total);
      return 1;
    }
    // Taken off the reader; copied before anything can move it.
    lastRx = platform::GetTickCount();
    if (deferredCount < kMaxDeferred) {
      CVRMSG message(frame, total);
      if (std::unique_ptr<CVRMSG> copy = message.Clone()) deferred[deferredCount++] = std::move(copy);
    }
  }
}
