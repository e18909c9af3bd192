#pragma once
// Whole upgrades under faults drawn from a seed: what the LAN and a controller can do wrong (a
// connection cut at any byte, a reader that stalls, slow or lossy links, answers late or never, a
// flood of unrequested messages, broken length fields, a controller slow to come back or gone for
// good, look-alike controllers, the tick counter wrapping), and the checks every such run must
// pass: it ends, in bounded virtual time and without spinning, in an honest outcome.
//
// The checks read only what a person and the controller would see (the dialogs, the controller's
// disk and log) and judge it against the texts and order written out in upgrade_lines.h, never
// against the client's own logic.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

struct PlannedFile {
  std::string name;
  size_t size = 0;
  uint8_t pattern = 0;
  bool unchanged = false;  // the controller already holds exactly these bytes
};

// From atMs on, one side's link has this latency and rate (bytes per ms; 0 is unlimited).
struct LinkChange {
  uint32_t atMs = 0;
  bool controllerSide = true;
  uint32_t latencyMs = 0;
  uint32_t bytesPerMs = 0;
};

// At atMs, the controller's next `lose` datagrams vanish and the `cut` after them lose their end.
struct DatagramFault {
  uint32_t atMs = 0;
  int lose = 0;
  int cut = 0;
  int cutToBytes = 0;
};

struct FaultPlan {
  uint64_t seed = 0;
  uint32_t startTick = 0;
  std::vector<PlannedFile> files;
  // The controller only records shell lines: its disk keeps what it had and it never reboots.
  bool dryCommands = false;
  int64_t closeAfterBytes = -1;   // the controller closes each connection after reading this much
  int resetConnection = 0;        // this connection (1: the first login, 2: the second)...
  int64_t resetAfterBytes = -1;   // ...is reset after this many bytes either way
  int64_t stallAfterBytes = -1;   // the controller stops reading after this many bytes...
  uint32_t stallMs = 0;           // ...for this long (0: for good)
  // Instead of after a count of bytes, the stall begins just as this many chunks of the first
  // file announced fill the connection's window, so that the copy has nothing it may send.
  int stallAtChunks = 0;
  std::set<int> ignoredCodes;     // requests whose answers never leave
  std::map<int, uint32_t> delayedCodes;  // answers that leave late
  std::string ignoredCommand;     // a shell line run but never answered
  int brokenLengthOn = 0;         // the answer to this request is a header with a broken length
  int32_t brokenLength = -1;
  uint32_t floodPerSecond = 0;    // unrequested messages to all sinks
  uint32_t rebootSeconds = 5;
  bool neverReturn = false;
  int lookAlikes = 0;             // other controllers of the same model answering discovery
  std::vector<LinkChange> linkChanges;
  std::vector<DatagramFault> datagramFaults;

  // Nothing in the plan can stop an upgrade: the run must complete.
  bool Harmless() const;
  // Virtual time within which the time-outs say the run must have ended.
  uint64_t BoundMs() const;
  std::string Describe() const;
};

FaultPlan MakeFaultPlan(uint64_t seed);

struct WorkloadResult {
  std::string outcome;  // "completed", "failed" or "not started"
  std::vector<std::string> violations;
  uint64_t virtualMs = 0;
  uint64_t waits = 0;
  std::vector<std::string> log;         // the upgrade dialog's, when it was shown
  std::vector<std::string> controller;  // the controller's own log
};

// Runs the plan's upgrade to its end and checks it. A run that does not end (or spins) prints the
// plan with the command that replays it and ends the process.
WorkloadResult RunFaultPlan(const FaultPlan& plan);

// The command that replays one seed.
std::string ReplayCommand(uint64_t seed);

}  // namespace testing_support
