// The controller simulator facing a hostile client on a simulated LAN: whatever frames the input
// describes, with or without the primer and a login first, cut into sends at points the input
// chooses. Shell lines, file names and sizes come from the input, so the sandbox meets "..",
// drive letters, absolute paths, zero bytes and lengths far past what was sent.
//
// The sandbox folder lies in a fence folder beside a canary file and a neighbouring folder, inside a
// temporary folder of its own. After every input nothing beside the sandbox may have changed: the
// fence and the temporary folder hold what they held, the canary and the neighbour's file their
// bytes, both folders their permissions. Whatever the controller sends must also be frames it may
// send: an answer (code + 1, or a refusal) to a request it was sent, or its message to all sinks.
//
// Input: a flags byte (bit 0: send the primer, bit 1: log in first, bit 2: reads stop at seeded
// points), then records, each starting with a tag byte:
//   0  a frame: id (2 bytes), code (1 byte: below 7 one of the served codes, else 2 more bytes),
//      item count (1 byte, below 8), and per item a kind byte: 0 int (4 bytes), 1 an edge int
//      (1 byte), 2 string (count byte + text), 3 raw block (count byte + bytes)
//   1  raw bytes: count byte + bytes
//   2  send what is built so far, then let the world run (1 byte of ms)
//   3  let the world run long (1 byte of 100 ms), which lets the controller's timers fire
// BSPLIFT_FUZZ_LOG=1 in the environment prints the controller's log (for replaying a finding).
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/sim/world.h"
#include "platform/socket.h"
#include "sim/controller.h"
#include "sim/login_proof.h"
#include "sim/wire.h"
#include "sim/world_reactor.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using fuzz::ByteSource;

constexpr uint32_t kPcAddress = platform::MakeAddress(192, 168, 1, 10);
constexpr uint32_t kControllerAddress = platform::MakeAddress(192, 168, 1, 20);
constexpr uint16_t kServicePort = 7000;
constexpr char kCanaryText[] = "beside the sandbox: never touched";
constexpr uint32_t kLoginWaitMs = 1000;

constexpr int16_t kServedCodes[] = {sim::kChallengeRequest,         sim::kLoginRequest, sim::kSystemInformationRequest,
                                    sim::kShellRequest,             sim::kChunkRequest, sim::kCompareRequest,
                                    sim::kAnnounceRequest};
constexpr int32_t kEdgeInts[] = {0,  1,          -1,        2,          3,         4,        16,
                                 19, 813,        INT32_MIN, INT32_MAX,  1000000,   999992,   0x7FFFFFF0,
                                 -4, 0x40000000, 65536,     0x7FFFFFFC, 131072,    100000};

// --- the folders around the sandbox -------------------------------------------------------------

struct Folders {
  fs::path base;       // a fresh temporary folder
  fs::path fence;      // base/fence
  fs::path root;       // base/fence/box: the sandbox
  fs::path canary;     // base/fence/canary
  fs::path neighbour;  // base/fence/neighbour/file
};

// What the system says of one path: a change of its entries (a folder's), bytes, mode or links
// moves its change time, and its modification time for entries and bytes.
struct Look {
  bool exists = false;
  ino_t inode = 0;
  mode_t mode = 0;
  nlink_t links = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
};

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

Look LookAt(const fs::path& path) {
  Look look;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return look;
  look.exists = true;
  look.inode = st.st_ino;
  look.mode = st.st_mode;
  look.links = st.st_nlink;
  look.size = st.st_size;
  look.modified = st.st_mtim;
  look.changed = st.st_ctim;
  return look;
}

std::set<std::string> Entries(const fs::path& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Stat calls instead of reading every folder and file: the time stamps change with anything done
// to what they stand for (on tmpfs to the nanosecond). The fence folder holds the sandbox, which
// is emptied and made anew for each input, so its times move: its entries and mode are compared.
struct Outside {
  std::set<std::string> fenceEntries;
  mode_t fenceMode = 0;
  std::vector<std::pair<std::string, Look>> looks;
};

Outside LookOutside(const Folders& f) {
  Outside outside;
  outside.fenceEntries = Entries(f.fence);
  outside.fenceMode = LookAt(f.fence).mode;
  for (const fs::path& path : {f.base, f.canary, f.neighbour.parent_path(), f.neighbour}) {
    outside.looks.emplace_back(path.filename().string(), LookAt(path));
  }
  return outside;
}

// One check per item, so that a failure names what the sandbox touched.
void CheckUntouched(const Outside& before, const Outside& now) {
  FUZZ_CHECK(now.fenceEntries == before.fenceEntries);
  FUZZ_CHECK(now.fenceMode == before.fenceMode);
  for (size_t i = 0; i < before.looks.size(); ++i) {
    const Look& was = before.looks[i].second;
    const Look& is = now.looks[i].second;
    if (is.exists != was.exists || is.inode != was.inode || !SameTime(is.changed, was.changed)) {
      std::fprintf(stderr, "outside the sandbox: %s changed\n", before.looks[i].first.c_str());
    }
    FUZZ_CHECK(is.exists == was.exists && is.inode == was.inode);
    FUZZ_CHECK(is.mode == was.mode && is.links == was.links && is.size == was.size);
    FUZZ_CHECK(SameTime(is.modified, was.modified) && SameTime(is.changed, was.changed));
  }
}

// Empties the sandbox for the next input; a mode the last input set may forbid even the owner, and
// then every folder is opened up first.
void ClearSandbox(const fs::path& root) {
  std::error_code error;
  fs::remove_all(root, error);
  if (!error && !fs::exists(root, error)) return;
  error.clear();
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
  for (auto it = fs::recursive_directory_iterator(root, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(root, error);
}

void RemoveFolders();

const Folders& TheFolders() {
  static const Folders folders = [] {
    Folders f;
    std::string pattern = (fs::temp_directory_path() / "bsplift-fuzz-sim-XXXXXX").string();
    if (!mkdtemp(pattern.data())) fuzz::Fail("cannot make a temporary folder", __FILE__, __LINE__);
    f.base = pattern;
    f.fence = f.base / "fence";
    f.root = f.fence / "box";
    f.canary = f.fence / "canary";
    f.neighbour = f.fence / "neighbour" / "file";
    fs::create_directories(f.neighbour.parent_path());
    fs::create_directories(f.root);
    std::ofstream(f.canary, std::ios::binary) << kCanaryText;
    std::ofstream(f.neighbour, std::ios::binary) << kCanaryText;
    std::atexit(RemoveFolders);
    fuzz::cleanUpOnFailure = RemoveFolders;
    return f;
  }();
  return folders;
}

void RemoveFolders() {
  std::error_code error;
  ClearSandbox(TheFolders().root);
  fs::remove_all(TheFolders().base, error);
}

// --- the hostile client ---------------------------------------------------------------------------

class Client {
 public:
  Client(platform::sim::World& world, platform::Socket socket) : world(world), socket(socket) {}

  // Sends `bytes` now (the world runs meanwhile), reading what arrives so that answers never block.
  void Send(const Bytes& bytes) {
    if (bytes.empty() || closed) return;
    sentStream.insert(sentStream.end(), bytes.begin(), bytes.end());
    if (platform::Send(socket, bytes.data(), int(bytes.size())) != int(bytes.size())) closed = true;
    Read();
  }
  void Run(uint32_t ms) {
    world.RunFor(ms);
    Read();
  }
  void Read() {
    uint8_t buffer[4096];
    while (!closed && platform::WaitReadable(socket, 0) == 1) {
      int n = platform::Recv(socket, buffer, int(sizeof buffer));
      if (n <= 0) {
        closed = true;
        return;
      }
      received.insert(received.end(), buffer, buffer + n);
    }
  }
  // The next whole frame that came in, or false.
  bool NextAnswer(sim::Frame* frame) {
    sim::FrameResult result = sim::TakeFrame(&received, frame);
    FUZZ_CHECK(result != sim::FrameResult::Broken);
    return result == sim::FrameResult::Taken;
  }

  // Request 14, the proof of its challenge in request 27, and the controller's yes.
  void LogIn(int32_t kind) {
    Send(sim::WireWriter(1, sim::kChallengeRequest).Bytes());
    sim::Frame challenge;
    Run(kLoginWaitMs);
    FUZZ_CHECK(NextAnswer(&challenge) && challenge.code == sim::kChallengeRequest + 1);
    std::string text;
    sim::WireReader reader(challenge.payload);
    FUZZ_CHECK(reader.String(&text));
    sim::Proof proof{};
    FUZZ_CHECK(sim::ExpectedProof(text, "", &proof));
    sim::WireWriter login(2, sim::kLoginRequest);
    login.Int(813);
    login.Int(kind);
    login.String("VRSTART");
    login.Int(int32_t(proof.size()));
    login.Raw(proof.data(), proof.size());
    login.Int(2);
    for (int i = 0; i < 4; ++i) login.String("");
    Send(login.Bytes());
    Run(kLoginWaitMs);
    sim::Frame accepted;
    FUZZ_CHECK(NextAnswer(&accepted) && accepted.code == sim::kLoginRequest + 1);
  }

  bool Closed() const { return closed; }
  Bytes& SentStream() { return sentStream; }
  Bytes& Received() { return received; }

 private:
  platform::sim::World& world;
  platform::Socket socket;
  bool closed = false;
  Bytes sentStream;  // after the primer, when the primer was sent
  Bytes received;
};

void AppendItem(ByteSource& in, sim::WireWriter* frame) {
  switch (in.Byte() % 4) {
    case 0:
      frame->Int(int32_t(in.Dword()));
      break;
    case 1:
      frame->Int(kEdgeInts[in.Byte() % std::size(kEdgeInts)]);
      break;
    case 2:
      frame->String(in.CountedText());
      break;
    case 3: {
      Bytes bytes = in.Bytes(in.Byte());
      frame->Raw(bytes.data(), bytes.size());
      break;
    }
  }
}

Bytes BuildFrame(ByteSource& in) {
  const int16_t id = int16_t(in.Word());
  const uint8_t pick = in.Byte();
  const int16_t code = pick < std::size(kServedCodes) ? kServedCodes[pick] : int16_t(in.Word());
  sim::WireWriter frame(id, code);
  for (int items = in.Byte() % 8; items > 0; --items) AppendItem(in, &frame);
  return frame.Bytes();
}

// Every frame the controller sent answers one it could have read (code + 1, or a refusal, to the
// asker's id), or is its message to all sinks.
void CheckAnswers(Client& client, Bytes stream) {
  std::set<std::pair<int16_t, int16_t>> allowed = {{sim::kAllSinksId, sim::kAllSinksCode}};
  allowed.insert({1, sim::kChallengeRequest + 1});
  allowed.insert({2, sim::kLoginRequest + 1});
  sim::Frame request;
  while (sim::TakeFrame(&stream, &request) == sim::FrameResult::Taken) {
    allowed.insert({request.id, int16_t(request.code + 1)});
    allowed.insert({request.id, sim::kRefusedCode});
  }
  sim::Frame answer;
  while (client.NextAnswer(&answer)) FUZZ_CHECK(allowed.count({answer.id, answer.code}) == 1);
}

void PrintLog(const std::string& line) { std::fprintf(stderr, "controller: %s\n", line.c_str()); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Folders& folders = TheFolders();
  static const Outside before = LookOutside(folders);
  static const bool printLog = std::getenv("BSPLIFT_FUZZ_LOG") != nullptr;
  ClearSandbox(folders.root);

  ByteSource in(data, size);
  const uint8_t flags = in.Byte();
  {
    platform::sim::World world;
    world.SetReadCutting(flags & 4);
    world.AddHost("pc", kPcAddress);
    const platform::sim::HostId host = world.AddHost("controller", kControllerAddress);
    sim::ControllerConfig config;
    config.address = kControllerAddress;
    config.port = kServicePort;
    config.root = folders.root.string();
    config.rebootSeconds = 1;
    config.discovery = false;
    if (printLog) config.log = PrintLog;
    sim::WorldReactor reactor(world, host);
    sim::Controller controller(config);
    FUZZ_CHECK(controller.Start(reactor) == 1);

    platform::Socket socket = platform::OpenTcp();
    FUZZ_CHECK(platform::Connect(socket, platform::Endpoint{kControllerAddress, kServicePort}) == 0);
    Client client(world, socket);
    if (flags & 1) {
      const Bytes primer(sim::kPrimer, sim::kPrimer + sim::kPrimerBytes);
      client.Send(primer);
      client.SentStream().clear();
      if (flags & 2) client.LogIn(19);
    }

    Bytes pending;
    while (!in.Empty() && !client.Closed()) {
      switch (in.Byte() % 4) {
        case 0: {
          Bytes frame = BuildFrame(in);
          pending.insert(pending.end(), frame.begin(), frame.end());
          break;
        }
        case 1: {
          Bytes raw = in.Bytes(in.Byte());
          pending.insert(pending.end(), raw.begin(), raw.end());
          break;
        }
        case 2:
          client.Send(pending);
          pending.clear();
          client.Run(in.Byte());
          break;
        case 3:
          client.Run(100u * in.Byte());
          break;
      }
    }
    client.Send(pending);
    client.Run(10);
    if (flags & 1) CheckAnswers(client, client.SentStream());
    platform::Close(socket);
    client.Run(10);
    controller.Stop();
  }

  CheckUntouched(before, LookOutside(folders));
  return 0;
}
