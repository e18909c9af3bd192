#pragma once
// One controller as the client meets it on the wire: its discovery answer on UDP port 444, its
// message service (primer, login, system information, shell lines, file compare / announce /
// chunks), the upgrade script that takes it off the air for a while, a message to all sinks every
// few seconds, and faults to order. Event-driven on a Reactor; it never blocks on a socket.
//
// Every shell line it receives is appended to <root>/commands.log, one per line, as received.
//
// Answers carry the request's id and code + 1. A request that is refused (wrong login, anything
// but 14 and 27 before a login, a file name outside the sandbox, a bad announcement) is answered
// with kRefusedCode instead, and the connection stays open.
#include <cstdint>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "sim/reactor.h"
#include "sim/sandbox.h"
#include "sim/wire.h"

namespace sim {

constexpr uint16_t kDiscoveryPort = 444;
constexpr size_t kProbeBytes = 8;
constexpr size_t kDiscoveryAnswerBytes = 180;
constexpr int16_t kRefusedCode = 29;
// Code of the unrequested message to all sinks; clients read none of its content.
constexpr int16_t kAllSinksCode = 100;
constexpr uint32_t kAllSinksPeriodMs = 5000;
// The text each connection must send before its first message.
constexpr char kPrimer[] = "CONNECTSERVERHOST\r\n\r\n";
constexpr size_t kPrimerBytes = sizeof kPrimer - 1;

// Request codes the controller serves.
enum RequestCode : int16_t {
  kChallengeRequest = 14,
  kLoginRequest = 27,
  kSystemInformationRequest = 8120,
  kShellRequest = 8376,
  kChunkRequest = 14000,
  kCompareRequest = 14030,
  kAnnounceRequest = 14032,
};

// Misbehaviour to order; all off by default.
struct ControllerFaults {
  std::set<int> ignoredCodes;         // requests handled, their answers withheld
  // Shell lines run, their answers withheld.
  std::set<std::string> ignoredCommands;
  // Announcements of these files (remote names as the client sends them, "BSP/UPGRADE\\X") are
  // refused, every time.
  std::set<std::string> refusedFiles;
  uint32_t answerDelayMs = 0;         // every answer leaves this much later
  std::map<int, uint32_t> delayedCodes;  // answers to these requests leave this much later (on top)
  int64_t closeAfterBytes = -1;       // close a connection once it has read this many bytes
  int64_t dropAfterChunkBytes = -1;   // close a connection once it delivered this many chunk bytes
  int64_t stallAfterBytes = -1;       // stop reading a connection after this many bytes...
  uint32_t stallMs = 0;               // ...and read on this much later (0: never)
  int brokenLengthOn = 0;             // instead of answering this code, send a header with...
  int32_t brokenLength = -1;          // ...this length field and no payload
  uint32_t floodPerSecond = 0;        // unrequested messages to all sinks per connection and second
  bool neverReturn = false;           // stay off the air after the upgrade script
  bool silent = false;                // no unrequested messages to all sinks (answers still go)
};

struct ControllerConfig {
  uint32_t address = 0;               // network order; announced, and bound for the message service
  uint16_t port = 7000;               // message service; 0 takes any free port (see BoundPort)
  std::string mac = "0050C2000001";   // 12 hex characters
  std::string name = "CONTROLLER";
  uint8_t type = 9;
  uint8_t subtype = 0;
  std::string secondText;
  std::string root;                   // sandbox folder (Sandbox)
  uint32_t rebootSeconds = 5;
  // Shell lines are answered as run and logged, but not run: the disk keeps what was put there
  // beforehand, and the upgrade script line does not take the controller off the air.
  bool dryCommands = false;
  std::vector<int> acceptedKinds;     // empty: 19 for type 9, 3 for the others
  std::string passPhrase;             // key of the login proof
  bool discovery = true;
  bool discoveryOnAnyAddress = false; // bind ANY:444, as a controller with one port does (the tool)
  // Discovery answers go to 255.255.255.255 at the probe's source port instead of to its sender,
  // so every PC on the LAN listening on that port hears them.
  bool answerByBroadcast = false;
  uint64_t seed = 1;                  // challenges
  std::function<void(const std::string&)> log;  // one line per call, without line end
  ControllerFaults faults;
};

class Controller {
 public:
  explicit Controller(ControllerConfig config);
  ~Controller();  // Stop()
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // Opens the sandbox and the sockets and starts serving on the borrowed reactor, which must
  // outlive the controller or its Stop(). 1 when the message service listens; a discovery socket
  // that cannot be bound is logged and left out.
  int Start(Reactor& reactor);
  // Closes every socket and cancels every timer.
  void Stop();

  ControllerFaults& Faults() { return config.faults; }
  uint16_t BoundPort() const { return boundPort; }
  bool OnAir() const { return onAir; }
  int UpgradeRuns() const { return upgradeRuns; }
  size_t ConnectionCount() const { return connections.size(); }
  // Bytes read so far on the open connection with this number (the 2 of "#2"); -1 when none is.
  int64_t BytesRead(int number) const;
  // The socket of the open connection with this number, for faults the LAN itself inflicts;
  // kInvalidSocket when none is open.
  platform::Socket SocketOf(int number) const;
  const Sandbox& Disk() const { return sandbox; }

 private:
  struct Upload {
    std::string remote;
    std::ofstream file;
    int64_t size = 0;
    int64_t received = 0;
    uint32_t sum = 0;
  };
  struct Connection {
    int number = 0;
    platform::Socket socket = platform::kInvalidSocket;
    std::string label;
    size_t primerSeen = 0;
    std::vector<uint8_t> stream;
    std::string challenge;
    bool loggedIn = false;
    int64_t bytesRead = 0;
    int64_t chunkBytes = 0;
    bool stallOver = false;
    std::unique_ptr<Upload> upload;
    TimerId allSinksTimer = 0;
    TimerId floodTimer = 0;
    int32_t allSinksSent = 0;
    uint32_t floodCredit = 0;
  };

  void Log(const std::string& line) const;
  void StartDiscovery();
  void OnProbe();
  std::vector<uint8_t> DiscoveryAnswer() const;

  void OnAccept();
  void OnReadable(int number);
  // Feeds received bytes through the primer and the framing; 0 when the connection was closed.
  int Consume(Connection& c, const uint8_t* data, size_t size);
  void Close(int number, const std::string& why);
  void CloseAll(const std::string& why);
  Connection* Find(int number);
  void ArmAllSinks(int number);
  // Sends all bytes or closes the connection; 0 when it was closed.
  int SendAll(Connection& c, const std::vector<uint8_t>& bytes);

  // Request handlers: each returns 0 when the connection is gone afterwards (c is then dangling).
  int Handle(Connection& c, const Frame& request);
  // Sends the answer as the faults allow and logs the request with what was done about it;
  // `withhold` keeps this one answer back as a fault.
  int Answer(Connection& c, const Frame& request, const WireWriter& answer, const std::string& what,
             bool withhold = false);
  int Refuse(Connection& c, const Frame& request, const std::string& why);
  int OnChallenge(Connection& c, const Frame& request);
  int OnLogin(Connection& c, const Frame& request);
  int OnSystemInformation(Connection& c, const Frame& request);
  int OnShell(Connection& c, const Frame& request);
  // Appends the line to the commands log in the sandbox root.
  void RecordCommand(const std::string& line);
  int OnCompare(Connection& c, const Frame& request);
  int OnAnnounce(Connection& c, const Frame& request);
  int OnChunk(Connection& c, const Frame& request);
  void FinishUpload(Connection& c);
  void ArmFloodTick(int number);
  bool KindAccepted(int32_t kind) const;
  std::string NewChallenge();

  void StartUpgrade();
  void GoOffAir();
  // Runs fn after ms unless Stop() comes first.
  void Later(uint32_t ms, std::function<void()> fn);

  ControllerConfig config;
  Sandbox sandbox;
  Reactor* reactor = nullptr;
  platform::Socket listener = platform::kInvalidSocket;
  platform::Socket discovery = platform::kInvalidSocket;
  uint16_t boundPort = 0;
  std::map<int, std::unique_ptr<Connection>> connections;
  int nextConnection = 1;
  bool onAir = true;
  int upgradeRuns = 0;
  std::map<uint64_t, TimerId> pending;  // answer delays and the reboot, cancelled by Stop
  uint64_t nextPending = 1;
  std::mt19937_64 random;
};

}  // namespace sim
