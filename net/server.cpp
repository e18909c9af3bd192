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
  old.reset();
}

CVRServer::CVRServer()
    : CSocketSink(0),
      connection(std::make_unique<CGConnection>()),
      rxBuffer(std::make_unique<uint8_t[]>(kRxBufferBytes)),
      lastRx(platform::GetTickCount()) {
  AddSink(this);
}

CVRServer::~CVRServer() {
  connection.reset();
  RemoveSink(this);
}

void CVRServer::SetTarget(int32_t type, const std::string& name) {
  systemType = type;
  passPhrase = name;
}

int CVRServer::SendMsg(CVRMSG* message) {
  if (!message || !connection->IsOpen()) return 0;
  uint32_t size = message->GetWireSize();
  return connection->SendAll(message->GetWireBytes(), size);
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
  if (message->GetId() == kAllSinks) {
    // Index walk: a sink may leave while it is called, and the next one then moves into its slot.
    for (int i = 0; i < sinkCount; ++i) {
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
  for (int i = 0; i < sinkCount; ++i) sinks[i]->OnConnectionState(up);
}

CVRServer::Receipt CVRServer::ReceiveMore() {
  int n = connection->Receive(rxBuffer.get() + rxFill, kRxBufferBytes - rxFill);
  if (n < 1) return connection->IsOpen() ? Receipt::Nothing : Receipt::Down;
  rxFill += uint32_t(n);
  return Receipt::Data;
}

CVRServer::Frame CVRServer::NextFrame(uint32_t* total) {
  if (rxFill < kHeaderBytes) return Frame::Incomplete;
  int32_t length = ReadLength(rxBuffer.get());
  if (length < 0 || uint32_t(length) > kRxBufferBytes - kHeaderBytes) {
    connection->Close();
    return Frame::Broken;
  }
  *total = kHeaderBytes + uint32_t(length);
  return rxFill < *total ? Frame::Incomplete : Frame::Message;
}

void CVRServer::Consume(uint32_t total) {
  std::memmove(rxBuffer.get(), rxBuffer.get() + total, rxFill - total);
  rxFill -= total;
}

int CVRServer::Service(uint32_t ms) {
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
  for (int i = 0; i < deferredCount; ++i) {
    std::unique_ptr<CVRMSG> message = std::move(deferred[i]);
    Dispatch(message.get());
  }
  deferredCount = 0;

  if (connection->WaitReadable(ms)) {
    if (ReceiveMore() == Receipt::Down) return 2;
  } else if (platform::MsSince(lastRx) > kIdleLimitMs) {
    connection->Close();
    return 2;
  }

  int delivered = 0;
  uint32_t total = 0;
  for (;;) {
    Frame frame = NextFrame(&total);
    if (frame == Frame::Broken) return 2;
    if (frame == Frame::Incomplete) break;
    lastRx = platform::GetTickCount();
    CVRMSG message(rxBuffer.get(), total);
    Dispatch(&message);
    Consume(total);
    delivered = 1;
  }
  return delivered;
}

int CVRServer::WaitFor(int16_t id, uint32_t ms) {
  if (!connection->IsOpen()) return 0;
  for (int i = 0; i < deferredCount; ++i) {
    if (deferred[i]->GetId() != id) continue;
    std::unique_ptr<CVRMSG> message = std::move(deferred[i]);
    for (int j = i + 1; j < deferredCount; ++j) deferred[j - 1] = std::move(deferred[j]);
    --deferredCount;
    Dispatch(message.get());
    return 1;
  }

  if (connection->WaitReadable(ms)) {
    if (ReceiveMore() == Receipt::Down) return 0;
  }

  uint32_t total = 0;
  for (;;) {
    Frame frame = NextFrame(&total);
    if (frame != Frame::Message) return 0;
    lastRx = platform::GetTickCount();
    CVRMSG message(rxBuffer.get(), total);
    if (message.GetId() == id) {
      Dispatch(&message);
      Consume(total);
      return 1;
    }
    if (deferredCount < kMaxDeferred) {
      if (std::unique_ptr<CVRMSG> copy = message.Clone()) deferred[deferredCount++] = std::move(copy);
    }
    Consume(total);
  }
}
