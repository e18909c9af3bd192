#pragma once
// The far side of an upgrade scenario: the PC and one simulated controller on a simulated LAN, a
// folder standing for the controller's disk, and the PC's own folders (its current directory with
// the payload folder BSP/UPGRADE, and the drive root that "C:\" maps to), all below one temporary
// folder that goes with the site.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/sim/world.h"
#include "sim/controller.h"
#include "sim/world_reactor.h"

namespace testing_support {

class ControllerSite {
 public:
  static constexpr uint32_t kPcAddress = platform::MakeAddress(192, 168, 1, 10);
  static constexpr uint32_t kControllerAddress = platform::MakeAddress(192, 168, 1, 20);
  static constexpr uint16_t kServicePort = 7000;

  // A controller of a fresh Linux kind (type 9) unless `configure` changes the configuration; its
  // address, port, sandbox and log are the site's.
  explicit ControllerSite(platform::sim::World& world);
  ~ControllerSite();
  ControllerSite(const ControllerSite&) = delete;
  ControllerSite& operator=(const ControllerSite&) = delete;

  // The controller's configuration until Start (faults may also be changed later through
  // Controller().Faults()).
  sim::ControllerConfig& Config() { return config; }
  // Puts the controller on the LAN. 1 when it listens.
  int Start();
  sim::Controller& Controller() { return *controller; }
  platform::sim::HostId Host() const { return host; }
  // Every line the controller logged, in order.
  const std::vector<std::string>& Log() const { return log; }
  // Called with each line the controller logs, as it logs it (inside the controller's handler).
  void OnLog(std::function<void(const std::string&)> fn) { watcher = std::move(fn); }
  // Has the controller stop reading (for stallMs; 0: for good) just as the client has handed over
  // `chunks` whole chunks of the next file it announces: the connection's window is then full, so
  // the client's copy has nothing it may send and waits for room, dispatching window messages.
  void StallWhenChunksFillTheWindow(int chunks, uint32_t stallMs = 0);
  // The codes of the requests the controller logged, in order of arrival ("#2 request 8376 ..."
  // gives 8376), answered or not.
  std::vector<int> RequestCodes() const;
  // The log lines that contain `text`, in order, and the virtual ticks at which they were logged.
  std::vector<std::string> LogLinesWith(const std::string& text) const;
  std::vector<uint32_t> TicksOf(const std::string& text) const;
  // The shell lines the controller received, in order (its commands.log).
  std::vector<std::string> CommandsReceived() const;

  // --- files ---------------------------------------------------------------------------------
  // The PC's payload folder BSP/UPGRADE (host path), created on demand, and a file in it.
  std::string PayloadFolder() const;
  void WritePayload(const std::string& name, const std::vector<uint8_t>& bytes) const;
  // The payload folder's files in the order the PC's file system lists them, folders and names
  // beginning with "." left out: the order in which an upgrade takes them.
  std::vector<std::string> PayloadOrder() const;
  // The controller's upgrade folder on its BSP partition (host path), and a file in it.
  std::string ControllerUpgradeFolder() const;
  void WriteOnController(const std::string& name, const std::vector<uint8_t>& bytes) const;
  // A file's bytes, and whether it exists, on the controller's partition; empty when missing.
  std::vector<uint8_t> StoredOnController(const std::string& name) const;
  bool OnController(const std::string& name) const;
  // The host folder that "C:\" means for the PC.
  std::string DriveRoot() const { return base + "/drive"; }
  std::string Base() const { return base; }

 private:
  void StallAtAnnouncement(const std::string& line);

  platform::sim::World& world;
  std::string base;
  sim::ControllerConfig config;
  platform::sim::HostId host = 0;
  std::unique_ptr<sim::WorldReactor> reactor;
  std::unique_ptr<sim::Controller> controller;
  std::vector<std::string> log;
  std::vector<uint32_t> logTicks;  // of each line of log
  std::function<void(const std::string&)> watcher;
  int stallAfterChunks = -1;  // see StallWhenChunksFillTheWindow
};

// Bytes of a file (host path); empty when it cannot be read.
std::vector<uint8_t> ReadHostFile(const std::string& path);
void WriteHostFile(const std::string& path, const std::vector<uint8_t>& bytes);
// `size` bytes of a pattern that starts at `seed`, so that files differ from one another.
std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed);

}  // namespace testing_support
