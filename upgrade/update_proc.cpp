#include "upgrade/update_proc.h"

#include "net/server.h"
#include "ui/message.h"

int CUpdateProc::Run(CUpdateDlg*) { return 0; }

uint32_t CUpdateProc::GetTotalWork() { return 0; }

uint32_t CUpdateProc::GetDoneWork() { return 0; }

int CUpdateProc::WaitUntilSent() {
  for (;;) {
    // Fetched anew each turn: a handler dispatched below may have closed the session.
    ServerHold server(GetServer());
    if (server && server->GetConnection()->CanWrite()) return 1;
    if (!server || !server->IsConnected()) return 0;
    if (!ui::PumpMessage()) server->ServiceUntilWritable(kServiceSliceMs);
  }
}
