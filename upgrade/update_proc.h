#pragma once
// A step of an upgrade: one action that the upgrade dialog runs from its timer, inside one call of
// Run, and that reports how it ended through its flags.
#include <cstdint>

#include "net/sink.h"

class CUpdateDlg;

// How long a step lets the session receive at a time while it waits for the connection.
inline constexpr uint32_t kServiceSliceMs = 50;

class CUpdateProc : public CSocketSink {
 public:
  // Takes a fresh sink id from the current session; all flags 0. Steps never register for messages
  // themselves: the queries they make do.
  CUpdateProc() = default;
  // Leaves the session's sinks (the base does).
  ~CUpdateProc() override = default;

  // Does the step's whole work. Sets `started` first and `finished` (and `failed` when it failed)
  // before returning; what it returns is not looked at. May pump messages, so the dialog's handlers
  // (its timer above all) run meanwhile. Base: does nothing and returns 0.
  virtual int Run(CUpdateDlg* dialog);
  // Bytes this step moves in all, and of those the ones moved or confirmed so far. Base: 0 and 0.
  virtual uint32_t GetTotalWork();
  virtual uint32_t GetDoneWork();

  // 1 as soon as the session's connection can take more data; 0 as soon as there is no connected
  // session. Until then dispatches one queued window message at a time (handlers re-enter, and may
  // even close the session), or lets the session receive until it can send again, for up to
  // kServiceSliceMs at a time.
  int WaitUntilSent();

  int32_t finished = 0;
  // Set by Run first of all, never cleared: the runner leaves a started step alone.
  int32_t started = 0;
  // Read only once finished.
  int32_t failed = 0;
};
