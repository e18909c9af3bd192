#include "net/sink.h"

#include "net/server.h"

CSocketSink::CSocketSink() : sinkId(0) {
  if (CVRServer* server = GetServer()) sinkId = server->AllocateSinkId();
}

CSocketSink::CSocketSink(int16_t id) : sinkId(id) {}

CSocketSink::~CSocketSink() {
  CVRServer* server = GetServer();
  if (server && server != this) server->RemoveSink(this);
}

void CSocketSink::OnMessage(CVRMSG*) {}

void CSocketSink::OnConnectionState(int) {}
