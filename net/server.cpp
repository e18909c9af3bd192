#include "net/server.h"

#include <cstring>

#include "net/codes.h"
#include "platform/clock.h"

namespace {

std::unique_ptr<CVRServer>& Current() {
  static std::unique_ptr<CVRServer> server;
  return server;
}

int32_t ReadLength(const uint8_t* header) {
  int32_t length;
  std::memcpy(&length, header + 4, 4);  // little-endian on every platform we build for
  return length;
}

int16_t ReadId(const uint8_t* header) { return int16_t(header[0] | header[1] << 8); }

constexpr uint32_t kHeaderBytes = 8;

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
      rxBuffer(std::make_unique<uint8_t[]>(kRxBufferBytes)),
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

void CVRServer::Compact() {
  if (rxStart <= pinEnd) return;
  std::memmove(rxBuffer.get() + pinEnd, rxBuffer.get() + rxStart, rxFill - rxStart);
  rxFill -= rxStart - pinEnd;
  rxStart = pinEnd;
}

CVRServer::Receipt CVRServer::ReceiveMore(uint32_t ms, int untilWritable) {
  Compact();
  uint32_t room = kRxBufferBytes - rxFill;
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
  int n = connection->Receive(rxBuffer.get() + rxFill, room);
  if (n < 1) return connection->IsOpen() ? Receipt::Nothing : Receipt::Down;
  rxFill += uint32_t(n);
  return Receipt::Data;
}

CVRServer::Frame CVRServer::NextFrame(uint32_t* total) {
  uint32_t held = rxFill - rxStart;
  if (held < kHeaderBytes) return Frame::Incomplete;
  int32_t length = ReadLength(rxBuffer.get() + rxStart);
  if (length < 0 || uint32_t(length) > kRxBufferBytes - kHeaderBytes) {
    connection->Close();
    return Frame::Broken;
  }
  *total = kHeaderBytes + uint32_t(length);
  return held < *total ? Frame::Incomplete : Frame::Message;
}

void CVRServer::DeliverFrame(uint32_t total) {
  // The frame leaves the buffer before it is delivered, so that a sink servicing the session from
  // inside finds only what follows it; its bytes stay pinned where they are until delivery returns.
  uint32_t at = rxStart;
  rxStart += total;
  lastRx = platform::GetTickCount();
  uint32_t outerPin = pinEnd;
  pinEnd = rxStart;
  CVRMSG message(rxBuffer.get() + at, total);
  Dispatch(&message);
  pinEnd = outerPin;
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

  int delivered = 0;
  uint32_t total = 0;
  for (;;) {
    Frame frame = NextFrame(&total);
    if (frame == Frame::Broken) return 2;
    if (frame == Frame::Incomplete) break;
    DeliverFrame(total);
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

  uint32_t total = 0;
  for (;;) {
    if (NextFrame(&total) != Frame::Message) return 0;
    if (ReadId(rxBuffer.get() + rxStart) == id) {
      DeliverFrame(total);
      return 1;
    }
    CVRMSG message(rxBuffer.get() + rxStart, total);
    if (deferredCount < kMaxDeferred) {
      if (std::unique_ptr<CVRMSG> copy = message.Clone()) deferred[deferredCount++] = std::move(copy);
    }
    rxStart += total;
    lastRx = platform::GetTickCount();
  }
}
