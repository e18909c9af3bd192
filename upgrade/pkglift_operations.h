#pragma once
// The steps that replace a Linux controller's board support package: seven shell command lines run
// on the controller (operations 1 to 7), and the wait until it answers discovery again after its
// upgrade script has run (operation 8).
#include <memory>
#include <vector>

#include "discovery/ping_socket.h"
#include "upgrade/update_proc.h"

inline constexpr uint32_t kShellTimeoutMs = 60000;
// Operation 8: a pause before the wait, then passes of a probe round and a short sleep.
inline constexpr uint32_t kReturnWaitDelayMs = 2000;
inline constexpr int kReturnWaitPasses = 3000;
inline constexpr uint32_t kReturnPassSleepMs = 200;
// Datagrams one pass reads from one socket at most: all that wait, unless a flood keeps coming.
inline constexpr int kReturnPassMaxReads = 1000;

// One shell command line and the log texts that go with it.
struct ShellOperation {
  const char* command;
  const char* waitText;
  const char* failureLine;
};

// Has the controller run one command line (request 8376). The answer's content plays no part: any
// answer in time is success.
class CPkgLiftShellOperation : public CUpdateProc {
 public:
  explicit CPkgLiftShellOperation(const ShellOperation& operation) : operation(operation) {}
  int Run(CUpdateDlg* dialog) override;
  const ShellOperation& Operation() const { return operation; }

 private:
  const ShellOperation& operation;
};

class CPkgLiftOperation1 : public CPkgLiftShellOperation {
 public:
  CPkgLiftOperation1();
};
class CPkgLiftOperation2 : public CPkgLiftShellOperation {
 public:
  CPkgLiftOperation2();
};
class CPkgLiftOperation3 : public CPkgLiftShellOperation {
 public:
  CPkgLiftOperation3();
};
class CPkgLiftOperation4 : public CPkgLiftShellOperation {
 public:
  CPkgLiftOperation4();
};
class CPkgLiftOperation5 : public CPkgLiftShellOperation {
 public:
  CPkgLiftOperation5();
};
class CPkgLiftOperation6 : public CPkgLiftShellOperation {
 public:
  CPkgLiftOperation6();
};
class CPkgLiftOperation7 : public CPkgLiftShellOperation {
 public:
  CPkgLiftOperation7();
};

// Waits until the target answers discovery probes again, for up to kReturnWaitPasses passes. Holds
// the thread throughout: it sleeps between passes and dispatches nothing.
class CPkgLiftOperation8 : public CUpdateProc {
 public:
  // Opens the probe sockets now, as the main dialog opens its discovery sockets.
  CPkgLiftOperation8();
  // Always returns 1; `failed` tells whether the controller came back.
  int Run(CUpdateDlg* dialog) override;

 private:
  // 1 when one probe round heard the target's own answer.
  int HeardTarget();

  std::vector<std::unique_ptr<CPingSocket>> probeSockets;
  CUpdateDlg* dialog = nullptr;  // the dialog that runs it, from the start of Run
};
