#include "net/query.h"

#include "net/server.h"
#include "platform/clock.h"

void CVRQuery::Unregister() {
  if (CVRServer* server = GetServer()) server->RemoveSink(this);
}

int CVRQuery::Ask(CVRMSG** out, CVRMSG* request) {
  answer.reset();
  return SendRequest(request) && WaitAnswer(out);
}

int CVRQuery::SendRequest(CVRMSG* request) {
  CVRServer* server = GetServer();
  if (!server || !server->IsConnected() || !request) return 0;
  server->AddSink(this);
  waiting = 1;
  request->SetId(sinkId);
  if (!server->SendMsg(request)) {
    Unregister();
    waiting = 0;
    return 0;
  }
  expectedCode = int16_t(request->GetCode() + 1);
  sent = 1;
  return 1;
}

int CVRQuery::WaitAnswer(CVRMSG** out) {
  if (!sent) return 0;
  uint32_t start = platform::GetTickCount();
  if (answer) {
    answer->Rewind();
    if (out) *out = answer.get();
    return 1;
  }
  waiting = 1;
  for (;;) {
    if (platform::MsSince(start) >= timeout) {
      waiting = 0;
      Unregister();
      return 0;
    }
    if (!waiting) {
      Unregister();
      if (!answer || answer->GetCode() != expectedCode) return 0;
      if (out) *out = answer.get();
      return 1;
    }
    // Held across the wait: a sink called from inside may close the session.
    ServerHold server(GetServer());
    if (server) server->WaitFor(sinkId, kQuerySliceMs);
    if (!server || !server->IsConnected()) {
      Unregister();
      waiting = 0;
      return 0;
    }
  }
}

void CVRQuery::OnMessage(CVRMSG* message) {
  if (message->GetId() == kAllSinks) return;
  answer = message->Clone();
  waiting = 0;
  Unregister();
}
