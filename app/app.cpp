#include "app/app.h"

#include "app/main_dialog.h"
#include "platform/socket.h"
#include "ui/backend.h"

CPKGLIFTApp theApp;

int StartSockets() { return platform::StartSockets(); }

int CPKGLIFTApp::InitInstance() {
  if (!startSockets()) {
    ui::MessageBox("ERROR: Cannot Start Windows Sockets", ui::MB_OK);
    return 0;
  }
  CPKGLIFTDlg dialog;
  dialog.DoModal();
  return 0;
}
