#include "upgrade/pkglift_operations.h"

#include "discovery/device_record.h"
#include "discovery/discovery_answer.h"
#include "net/codes.h"
#include "net/query.h"
#include "platform/clock.h"
#include "upgrade/update_dialog.h"

namespace {

// Operations 1 to 5 write "Please wait..." and an "ERROR: " line; 6 and 7 have always written
// "Please Wait..." and a bare failure line.
constexpr ShellOperation kOperations[] = {
    {"umount /MIRU/BSP", "Please wait...", "ERROR: Operation [umount /MIRU/BSP] failed"},
    {"mkdir /MIRU/BSP", "Please wait...", "ERROR: Operation [mkdir /MIRU/BSP] failed"},
    {"mount /dev/mmcblk0p4 /MIRU/BSP", "Please wait...", "ERROR: Operation [mount /dev/mmcblk0p4 /MIRU/BSP] failed"},
    {"rm -Rf /MIRU/BSP/UPGRADE", "Please wait...", "ERROR: Operation [rm -Rf /MIRU/BSP/UPGRADE] failed"},
    {"mkdir /MIRU/BSP/UPGRADE", "Please wait...", "ERROR: Operation [mkdir /MIRU/BSP/UPGRADE] failed"},
    {"chmod -R 755 /MIRU/BSP", "Please Wait...", "Operation [chmod -R 755 /MIRU/BSP] failed"},
    {"sh /MIRU/BSP/UPGRADE/upgrade.sh &", "Please Wait...", "Operation [sh /MIRU/BSP/UPGRADE/upgrade.sh &] failed"},
};

}  // namespace

int CPkgLiftShellOperation::Run(CUpdateDlg* dialog) {
  started = 1;
  std::string command = operation.command;
  dialog->AddLog("Executing [" + command + "] ...");
  dialog->AddLog(operation.waitText);
  CVRMSG request(0, kCodeShellCommand, 0);
  request.AppendString(command);
  CVRQuery query;
  query.SetTimeout(kShellTimeoutMs);
  if (query.Ask(nullptr, &request)) {
    dialog->AppendLog(" OK ");
    dialog->AppendLog("Operation [" + command + "] success");
    finished = 1;
    return 1;
  }
  dialog->AddLog(operation.failureLine);
  finished = 1;
  failed = 1;
  return 0;
}

CPkgLiftOperation1::CPkgLiftOperation1() : CPkgLiftShellOperation(kOperations[0]) {}
CPkgLiftOperation2::CPkgLiftOperation2() : CPkgLiftShellOperation(kOperations[1]) {}
CPkgLiftOperation3::CPkgLiftOperation3() : CPkgLiftShellOperation(kOperations[2]) {}
CPkgLiftOperation4::CPkgLiftOperation4() : CPkgLiftShellOperation(kOperations[3]) {}
CPkgLiftOperation5::CPkgLiftOperation5() : CPkgLiftShellOperation(kOperations[4]) {}
CPkgLiftOperation6::CPkgLiftOperation6() : CPkgLiftShellOperation(kOperations[5]) {}
CPkgLiftOperation7::CPkgLiftOperation7() : CPkgLiftShellOperation(kOperations[6]) {}

CPkgLiftOperation8::CPkgLiftOperation8() : probeSockets(OpenDiscoverySockets()) {}

int CPkgLiftOperation8::Run(CUpdateDlg* runner) {
  started = 1;
  dialog = runner;
  platform::Sleep(kReturnWaitDelayMs);
  dialog->AddLog("Upgrade initiated on local device ...");
  dialog->AddLog("WAITING FOR UPGRADE TO COMPLETE ... DO NOT POWER DOWN YOUR DEVICE !!!");
  int passes = kReturnWaitPasses;
  int found = 0;
  while (passes != 0 && !found) {
    found = HeardTarget();
    if (!found) {
      platform::Sleep(kReturnPassSleepMs);
      --passes;
    }
  }
  if (passes != 0) {
    dialog->AddLog("GATEWAY startup SUCCESS");
  } else {
    failed = 1;
  }
  finished = 1;
  return 1;
}

int CPkgLiftOperation8::HeardTarget() {
  for (auto& socket : probeSockets) {
    socket->SendProbe();
    // Everything that waits is read, not one datagram a pass: every controller on the LAN answers
    // every probe, so with one read a pass the queue fills with the others' answers and the
    // target's own, when it comes back, is dropped or read only long after. The answer to this
    // probe comes later, so a match is usually the answer to an earlier one.
    uint8_t answer[kAnswerBytes];
    platform::Endpoint sender;
    for (int read = 0; read < kReturnPassMaxReads; ++read) {
      int got = socket->ReceiveAnswer(answer, &sender);
      if (got == 0) break;
      if (got == 2 && AnswerText(answer, kAnswerMacOffset) == dialog->device->macText) return 1;
    }
  }
  return 0;
}
