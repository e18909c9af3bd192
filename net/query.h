#pragma once
// One request and the wait for its answer: the answer carries the request's code plus one and the
// query's own sink id.
#include <cstdint>
#include <memory>

#include "net/codes.h"
#include "net/msg.h"
#include "net/sink.h"

inline constexpr uint32_t kQuerySliceMs = 50;

class CVRQuery : public CSocketSink {
 public:
  // Takes a fresh sink id from the current session.
  CVRQuery() = default;
  // Deletes the answer it owns; leaves the session's sinks (the base does).
  ~CVRQuery() override = default;

  void SetTimeout(uint32_t ms) { timeout = ms; }
  // Sends `request` and waits for its answer. 1 when an answer with the expected code came in
  // time; *answer (when given) then points at it. The answer stays the query's, valid until the
  // next Ask or the query's end. Blocks for up to the time-out; only the session's receiving runs
  // meanwhile (no window messages).
  int Ask(CVRMSG** answer, CVRMSG* request);
  // Registers with the session, stamps the request with this sink id and sends it. 1 when sent.
  int SendRequest(CVRMSG* request);
  // Waits for the answer of the request sent. 1 when one with the expected code arrived. The
  // session's receiving runs meanwhile: sinks are called back and may re-enter, even close the
  // session, which ends the wait with 0.
  int WaitAnswer(CVRMSG** answer);
  // The session's delivery: keeps a copy of the message as the answer. Ignores kAllSinks.
  void OnMessage(CVRMSG* message) override;

 private:
  void Unregister();

  uint32_t timeout = kDefaultQueryTimeoutMs;
  int32_t waiting = 0;
  std::unique_ptr<CVRMSG> answer;  // owned: valid until the next Ask or the query's end
  int16_t expectedCode = 0;
  int32_t sent = 0;
};
