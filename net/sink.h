#pragma once
// Anything that can receive messages from the server session: the session itself, queries and
// upgrade steps. Registration and delivery are the session's (net/server.h).
#include <cstdint>

class CVRMSG;

class CSocketSink {
 public:
  // Takes a fresh sink id from the current session (0 when there is none).
  CSocketSink();
  explicit CSocketSink(int16_t id);
  // Leaves the current session's registered sinks, so that nothing is delivered to a dead sink.
  virtual ~CSocketSink();
  CSocketSink(const CSocketSink&) = delete;
  CSocketSink& operator=(const CSocketSink&) = delete;

  // A message addressed to this sink (or to all sinks) arrived. The message is valid only during
  // the call; keep a Clone.
  virtual void OnMessage(CVRMSG* message);
  // The connection came up (1) or went down (0).
  virtual void OnConnectionState(int up);

  int16_t sinkId;
};
