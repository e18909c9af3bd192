#include "sim/controller.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <utility>

#include "sim/login_proof.h"

namespace sim {
namespace {

constexpr uint8_t kProbe[kProbeBytes] = {0x47, 0x48, 0, 0, 0, 0, 0, 0};
constexpr size_t kNameOffset = 12;
constexpr size_t kNameBytes = 28;
constexpr size_t kMacOffset = 40;
constexpr size_t kMacChars = 12;
constexpr size_t kSecondTextOffset = 52;
constexpr size_t kMaxDatagramBytes = 256;
constexpr int kReadBytes = 64 * 1024;
constexpr int kListenBacklog = 8;
constexpr size_t kChallengeChars = 32;
constexpr uint32_t kFloodTickMs = 100;
constexpr int32_t kLoginMagic = 813;
constexpr int32_t kLoginTail = 2;
constexpr char kLoginStart[] = "VRSTART";
constexpr int kLoginEmptyStrings = 4;
constexpr int kLinuxControllerType = 9;
constexpr int kLinuxClientKind = 19;
constexpr int kOtherClientKind = 3;
constexpr char kUpgradeLog[] = "upgrade.log";
constexpr char kCommandsLog[] = "commands.log";

std::string Dotted(uint32_t address) {
  return std::to_string(address & 0xFF) + "." + std::to_string(address >> 8 & 0xFF) + "." +
         std::to_string(address >> 16 & 0xFF) + "." + std::to_string(address >> 24);
}

std::string Text(platform::Endpoint e) { return Dotted(e.address) + ":" + std::to_string(e.port); }

}  // namespace

Controller::Controller(ControllerConfig config)
    : config(std::move(config)), sandbox(this->config.root), random(this->config.seed) {}

Controller::~Controller() { Stop(); }

void Controller::Log(const std::string& line) const {
  if (config.log) config.log(line);
}

void Controller::Later(uint32_t ms, std::function<void()> fn) {
  uint64_t key = nextPending++;
  pending[key] = reactor->After(ms, [this, key, fn = std::move(fn)] {
    pending.erase(key);
    fn();
  });
}

// ---------------------------------------------------------------------------------------------
// start and stop

int Controller::Start(Reactor& r) {
  reactor = &r;
  int result = 0;
  r.Enter([this, &result] {
    if (!sandbox.Prepare()) {
      Log("cannot prepare the sandbox in " + sandbox.Root());
      return;
    }
    listener = platform::OpenTcp();
    platform::Endpoint local{config.address, config.port};
    if (listener == platform::kInvalidSocket || platform::Bind(listener, local) != 0 ||
        platform::Listen(listener, kListenBacklog) != 0 || platform::LocalEndpoint(listener, &local) != 0) {
      Log("cannot listen on " + Text(local) + " (error " + std::to_string(platform::LastSocketError()) + ")");
      if (listener != platform::kInvalidSocket) platform::Close(listener);
      listener = platform::kInvalidSocket;
      return;
    }
    boundPort = local.port;
    reactor->Watch(listener, [this] { OnAccept(); });
    if (config.discovery) StartDiscovery();
    Log("controller " + config.name + " (" + config.mac + ") listening on " + Text(local));
    result = 1;
  });
  return result;
}

void Controller::StartDiscovery() {
  platform::Endpoint local{config.discoveryOnAnyAddress ? platform::kAnyAddress : config.address, kDiscoveryPort};
  discovery = platform::OpenUdp();
  if (discovery == platform::kInvalidSocket || platform::Bind(discovery, local) != 0) {
    Log("warning: no discovery, cannot bind " + Text(local) + " (error " +
        std::to_string(platform::LastSocketError()) + ")");
    if (discovery != platform::kInvalidSocket) platform::Close(discovery);
    discovery = platform::kInvalidSocket;
    return;
  }
  if (config.answerByBroadcast && platform::SetBroadcast(discovery, true) != 0) {
    Log("warning: answers by broadcast cannot be sent (error " + std::to_string(platform::LastSocketError()) + ")");
  }
  reactor->Watch(discovery, [this] { OnProbe(); });
}

void Controller::Stop() {
  if (!reactor) return;
  reactor->Enter([this] {
    CloseAll("controller stopped");
    for (auto& [key, timer] : pending) reactor->Cancel(timer);
    pending.clear();
    for (platform::Socket* s : {&listener, &discovery}) {
      if (*s == platform::kInvalidSocket) continue;
      reactor->Unwatch(*s);
      platform::Close(*s);
      *s = platform::kInvalidSocket;
    }
  });
  reactor = nullptr;
}

// ---------------------------------------------------------------------------------------------
// discovery

std::vector<uint8_t> Controller::DiscoveryAnswer() const {
  std::vector<uint8_t> answer(kDiscoveryAnswerBytes, 0);
  std::memcpy(answer.data(), kProbe, 4);  // bytes 0-3 are not read; they echo the probe
  for (int i = 0; i < 4; ++i) answer[4 + i] = uint8_t(config.address >> (8 * i));
  answer[8] = uint8_t(config.port);
  answer[9] = uint8_t(config.port >> 8);
  answer[10] = config.type;
  answer[11] = config.subtype;
  std::memcpy(&answer[kNameOffset], config.name.data(), std::min(config.name.size(), kNameBytes - 1));
  std::memcpy(&answer[kMacOffset], config.mac.data(), std::min(config.mac.size(), kMacChars));
  size_t room = kDiscoveryAnswerBytes - kSecondTextOffset - 1;
  std::memcpy(&answer[kSecondTextOffset], config.secondText.data(), std::min(config.secondText.size(), room));
  return answer;
}

void Controller::OnProbe() {
  while (platform::WaitReadable(discovery, 0) == 1) {
    uint8_t datagram[kMaxDatagramBytes];
    platform::Endpoint from;
    int size = platform::RecvFrom(discovery, datagram, sizeof datagram, &from);
    if (size < 0) return;
    if (!onAir) continue;  // rebooting: probes go unheard
    if (size != int(kProbeBytes) || std::memcmp(datagram, kProbe, kProbeBytes) != 0) {
      Log("datagram of " + std::to_string(size) + " bytes from " + Text(from) + " ignored");
      continue;
    }
    std::vector<uint8_t> answer = DiscoveryAnswer();
    platform::Endpoint to = from;
    if (config.answerByBroadcast) to.address = platform::kBroadcastAddress;
    int sent = platform::SendTo(discovery, answer.data(), int(answer.size()), to);
    Log("probe from " + Text(from) + (sent == int(answer.size()) ? " answered" : " could not be answered") +
        (config.answerByBroadcast ? " to " + Text(to) : ""));
  }
}

// ---------------------------------------------------------------------------------------------
// connections

Controller::Connection* Controller::Find(int number) {
  auto it = connections.find(number);
  return it == connections.end() ? nullptr : it->second.get();
}

int64_t Controller::BytesRead(int number) const {
  auto it = connections.find(number);
  return it == connections.end() ? -1 : it->second->bytesRead;
}

platform::Socket Controller::SocketOf(int number) const {
  auto it = connections.find(number);
  return it == connections.end() ? platform::kInvalidSocket : it->second->socket;
}

void Controller::OnAccept() {
  while (platform::WaitReadable(listener, 0) == 1) {
    platform::Endpoint from;
    platform::Socket s = platform::Accept(listener, &from);
    if (s == platform::kInvalidSocket) return;
    if (!onAir) {
      // Rebooting: the connection goes as soon as it came, as if nobody listened.
      platform::ShutdownBoth(s);
      platform::Close(s);
      Log("connection from " + Text(from) + " refused while rebooting");
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->number = nextConnection++;
    c->socket = s;
    c->label = "#" + std::to_string(c->number);
    int number = c->number;
    connections[number] = std::move(c);
    Log("#" + std::to_string(number) + " connected from " + Text(from));
    reactor->Watch(s, [this, number] { OnReadable(number); });
    if (config.faults.silent) {
      Log("#" + std::to_string(number) + " silent: no messages to all sinks (fault)");
      continue;
    }
    ArmAllSinks(number);
    if (config.faults.floodPerSecond > 0) {
      Log("#" + std::to_string(number) + " flooding " + std::to_string(config.faults.floodPerSecond) +
          " messages to all sinks per second (fault)");
      ArmFloodTick(number);
    }
  }
}

void Controller::OnReadable(int number) {
  // Not zeroed: every wake-up would pay for 64 KB it mostly does not use.
  const std::unique_ptr<uint8_t[]> buffer = std::make_unique_for_overwrite<uint8_t[]>(kReadBytes);
  for (;;) {
    Connection* c = Find(number);
    if (!c) return;
    int64_t want = kReadBytes;
    if (config.faults.stallAfterBytes >= 0 && !c->stallOver) {
      want = std::min(want, config.faults.stallAfterBytes - c->bytesRead);
      if (want <= 0) {
        reactor->Unwatch(c->socket);
        if (config.faults.stallMs == 0) {
          Log(c->label + " stalled: no more reading after " + std::to_string(c->bytesRead) + " bytes (fault)");
          return;
        }
        Log(c->label + " stalled: no reading after " + std::to_string(c->bytesRead) + " bytes for " +
            std::to_string(config.faults.stallMs) + " ms (fault)");
        Later(config.faults.stallMs, [this, number] {
          Connection* stalled = Find(number);
          if (!stalled) return;
          stalled->stallOver = true;
          Log(stalled->label + " reading again");
          reactor->Watch(stalled->socket, [this, number] { OnReadable(number); });
          OnReadable(number);
        });
        return;
      }
    }
    // Only read what is there (or the close that is there): a read must never wait.
    uint32_t ready = 0;
    if (platform::PendingBytes(c->socket, &ready) != 0 || ready == 0) {
      if (platform::WaitReadable(c->socket, 0) != 1) return;
    } else {
      want = std::min<int64_t>(want, ready);
    }
    int got = platform::Recv(c->socket, buffer.get(), int(want));
    if (got <= 0) {
      Close(number, got == 0 ? "closed by the client" : "receive failed");
      return;
    }
    const int64_t closeAfter = config.faults.closeAfterBytes;
    if (closeAfter >= 0 && c->bytesRead + got >= closeAfter) {
      // What lies beyond the limit is never taken in: the connection ends at that byte.
      got = int(std::max<int64_t>(closeAfter - c->bytesRead, 0));
      c->bytesRead += got;
      if (got > 0 && !Consume(*c, buffer.get(), size_t(got))) return;
      Close(number, "closed after " + std::to_string(c->bytesRead) + " bytes read (fault)");
      return;
    }
    c->bytesRead += got;
    if (!Consume(*c, buffer.get(), size_t(got))) return;
  }
}

int Controller::Consume(Connection& c, const uint8_t* data, size_t size) {
  size_t used = 0;
  while (c.primerSeen < kPrimerBytes && used < size) {
    if (data[used] != uint8_t(kPrimer[c.primerSeen])) {
      Close(c.number, "no primer");
      return 0;
    }
    ++c.primerSeen;
    ++used;
  }
  c.stream.insert(c.stream.end(), data + used, data + size);
  for (;;) {
    Frame request;
    FrameResult result = TakeFrame(&c.stream, &request);
    if (result == FrameResult::NeedMore) return 1;
    if (result == FrameResult::Broken) {
      Close(c.number, "broken length field");
      return 0;
    }
    if (!Handle(c, request)) return 0;
  }
}

int Controller::SendAll(Connection& c, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    int sent = platform::Send(c.socket, bytes.data() + done, int(bytes.size() - done));
    if (sent <= 0) {
      Close(c.number, "send failed");
      return 0;
    }
    done += size_t(sent);
  }
  return 1;
}

void Controller::Close(int number, const std::string& why) {
  auto it = connections.find(number);
  if (it == connections.end()) return;
  Connection& c = *it->second;
  reactor->Unwatch(c.socket);
  reactor->Cancel(c.allSinksTimer);
  reactor->Cancel(c.floodTimer);
  platform::ShutdownBoth(c.socket);
  platform::Close(c.socket);
  if (c.upload) {
    Log(c.label + " upload of " + c.upload->remote + " cut short at " + std::to_string(c.upload->received) + " of " +
        std::to_string(c.upload->size) + " bytes");
  }
  Log(c.label + " closed: " + why);
  connections.erase(it);
}

void Controller::CloseAll(const std::string& why) {
  while (!connections.empty()) Close(connections.begin()->first, why);
}

void Controller::ArmAllSinks(int number) {
  Connection* c = Find(number);
  c->allSinksTimer = reactor->After(kAllSinksPeriodMs, [this, number] {
    Connection* c = Find(number);
    if (!c) return;
    WireWriter message(kAllSinksId, kAllSinksCode);
    message.Int(++c->allSinksSent);
    if (SendAll(*c, message.Bytes())) ArmAllSinks(number);
  });
}

void Controller::ArmFloodTick(int number) {
  Connection* c = Find(number);
  c->floodTimer = reactor->After(kFloodTickMs, [this, number] {
    Connection* c = Find(number);
    if (!c) return;
    constexpr uint32_t kTicksPerSecond = 1000 / kFloodTickMs;
    c->floodCredit += config.faults.floodPerSecond;
    uint32_t count = c->floodCredit / kTicksPerSecond;
    c->floodCredit %= kTicksPerSecond;
    // A flood never waits for the client: what does not fit now is left out.
    for (uint32_t i = 0; i < count && platform::WaitWritable(c->socket, 0) == 1; ++i) {
      WireWriter message(kAllSinksId, kAllSinksCode);
      message.Int(++c->allSinksSent);
      if (!SendAll(*c, message.Bytes())) return;
    }
    ArmFloodTick(number);
  });
}

// ---------------------------------------------------------------------------------------------
// requests

int Controller::Handle(Connection& c, const Frame& request) {
  if (!c.loggedIn && request.code != kChallengeRequest && request.code != kLoginRequest) {
    return Refuse(c, request, "before login");
  }
  switch (request.code) {
    case kChallengeRequest:
      return OnChallenge(c, request);
    case kLoginRequest:
      return OnLogin(c, request);
    case kSystemInformationRequest:
      return OnSystemInformation(c, request);
    case kShellRequest:
      return OnShell(c, request);
    case kCompareRequest:
      return OnCompare(c, request);
    case kAnnounceRequest:
      return OnAnnounce(c, request);
    case kChunkRequest:
      return OnChunk(c, request);
    default:
      return Refuse(c, request, "unknown request");
  }
}

int Controller::Answer(Connection& c, const Frame& request, const WireWriter& answer, const std::string& what,
                       bool withhold) {
  std::string line = c.label + " request " + std::to_string(request.code) + (what.empty() ? "" : " " + what) + " -> ";
  const ControllerFaults& faults = config.faults;
  if (withhold || faults.ignoredCodes.count(request.code)) {
    Log(line + "no answer (fault)");
    return 1;
  }
  std::vector<uint8_t> bytes = answer.Bytes();
  if (faults.brokenLengthOn != 0 && faults.brokenLengthOn == request.code) {
    bytes = HeaderBytes(request.id, answer.Code(), faults.brokenLength);
    Log(line + std::to_string(answer.Code()) + " with length field " + std::to_string(faults.brokenLength) +
        " (fault)");
  } else {
    Log(line + std::to_string(answer.Code()));
  }
  uint32_t delayMs = faults.answerDelayMs;
  if (auto delayed = faults.delayedCodes.find(request.code); delayed != faults.delayedCodes.end()) {
    delayMs += delayed->second;
  }
  if (delayMs == 0) return SendAll(c, bytes);
  int number = c.number;
  Later(delayMs, [this, number, bytes = std::move(bytes)] {
    if (Connection* late = Find(number)) SendAll(*late, bytes);
  });
  return 1;
}

int Controller::Refuse(Connection& c, const Frame& request, const std::string& why) {
  return Answer(c, request, WireWriter(request.id, kRefusedCode), "refused: " + why);
}

std::string Controller::NewChallenge() {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string challenge;
  challenge.reserve(kChallengeChars);
  for (size_t i = 0; i < kChallengeChars; ++i) challenge += kAlphabet[random() % (sizeof kAlphabet - 1)];
  return challenge;
}

int Controller::OnChallenge(Connection& c, const Frame& request) {
  c.challenge = NewChallenge();
  WireWriter answer(request.id, int16_t(request.code + 1));
  answer.String(c.challenge);
  return Answer(c, request, answer, "challenge " + c.challenge);
}

bool Controller::KindAccepted(int32_t kind) const {
  if (config.acceptedKinds.empty()) {
    return kind == (config.type == kLinuxControllerType ? kLinuxClientKind : kOtherClientKind);
  }
  return std::find(config.acceptedKinds.begin(), config.acceptedKinds.end(), kind) != config.acceptedKinds.end();
}

// Login payload: int 813, int client kind, string "VRSTART", int 16, the 16 proof bytes, int 2,
// four empty strings.
int Controller::OnLogin(Connection& c, const Frame& request) {
  WireReader reader(request.payload);
  int32_t magic = 0, kind = 0, proofBytes = 0, tail = 0;
  std::string start;
  std::vector<uint8_t> proof;
  bool wellFormed = reader.Int(&magic) && reader.Int(&kind) && reader.String(&start) && reader.Int(&proofBytes) &&
                    proofBytes == int32_t(sizeof(Proof)) && reader.Raw(sizeof(Proof), &proof) && reader.Int(&tail);
  for (int i = 0; i < kLoginEmptyStrings && wellFormed; ++i) {
    std::string empty;
    wellFormed = reader.String(&empty) && empty.empty();
  }
  wellFormed = wellFormed && reader.Left() == 0 && magic == kLoginMagic && start == kLoginStart && tail == kLoginTail;
  if (!wellFormed) return Refuse(c, request, "malformed login");
  std::string asKind = "kind " + std::to_string(kind);
  if (!KindAccepted(kind)) return Refuse(c, request, asKind + " not accepted");
  if (c.challenge.empty()) return Refuse(c, request, asKind + " without a challenge");
  Proof expected;
  if (!ExpectedProof(c.challenge, config.passPhrase, &expected)) return Refuse(c, request, "cipher unavailable");
  if (!std::equal(expected.begin(), expected.end(), proof.begin())) return Refuse(c, request, asKind + " wrong proof");
  c.loggedIn = true;
  return Answer(c, request, WireWriter(request.id, int16_t(request.code + 1)), "login " + asKind);
}

int Controller::OnSystemInformation(Connection& c, const Frame& request) {
  WireWriter answer(request.id, int16_t(request.code + 1));
  answer.String(config.name);
  answer.Int(config.type);
  for (int i = 0; i < 4; ++i) answer.Int(0);
  answer.Int(config.subtype);
  return Answer(c, request, answer, "system information");
}

int Controller::OnShell(Connection& c, const Frame& request) {
  WireReader reader(request.payload);
  std::string line;
  if (!reader.String(&line)) return Refuse(c, request, "no command line");
  RecordCommand(line);
  const bool withhold = config.faults.ignoredCommands.count(line) > 0;
  if (config.dryCommands) {
    return Answer(c, request, WireWriter(request.id, int16_t(request.code + 1)), "[" + line + "] not run (dry)",
                  withhold);
  }
  ShellResult result = sandbox.RunShellLine(line);
  int open =
      Answer(c, request, WireWriter(request.id, int16_t(request.code + 1)), "[" + line + "] " + result.text, withhold);
  if (result.upgradeStarted) StartUpgrade();
  return open;
}

void Controller::RecordCommand(const std::string& line) {
  std::ofstream log(std::filesystem::path(sandbox.Root()) / kCommandsLog, std::ios::binary | std::ios::app);
  log << line << '\n';
  log.close();
  if (!log) Log("cannot append to " + std::string(kCommandsLog));
}

int Controller::OnCompare(Connection& c, const Frame& request) {
  WireReader reader(request.payload);
  std::string remote;
  if (!reader.String(&remote)) return Refuse(c, request, "no file name");
  std::string path = sandbox.RemoteFilePath(remote);
  if (path.empty()) return Refuse(c, request, "[" + remote + "] outside the sandbox");
  int64_t size = -1;
  uint32_t sum = 0;
  if (!FileSizeAndSum(path, &size, &sum)) {
    size = -1;
    sum = 0;
  }
  WireWriter answer(request.id, int16_t(request.code + 1));
  answer.Int(int32_t(size));
  answer.Int(int32_t(sum));
  return Answer(c, request, answer,
                "[" + remote + "] size " + std::to_string(size) + " checksum " + std::to_string(sum));
}

// Announcement payload: string name, int size, the same int again.
int Controller::OnAnnounce(Connection& c, const Frame& request) {
  WireReader reader(request.payload);
  std::string remote;
  int32_t size = 0, again = 0;
  if (!reader.String(&remote) || !reader.Int(&size) || !reader.Int(&again)) {
    return Refuse(c, request, "malformed announcement");
  }
  std::string what = "[" + remote + "] size " + std::to_string(size);
  if (size < 0 || size != again) return Refuse(c, request, what + " sizes " + std::to_string(again) + " disagree");
  if (config.faults.refusedFiles.count(remote)) return Refuse(c, request, what + " (fault)");
  std::string path = sandbox.RemoteFilePath(remote);
  if (path.empty()) return Refuse(c, request, what + " outside the sandbox");
  if (c.upload) {
    Log(c.label + " upload of " + c.upload->remote + " abandoned at " + std::to_string(c.upload->received) + " of " +
        std::to_string(c.upload->size) + " bytes");
    c.upload.reset();
  }
  auto upload = std::make_unique<Upload>();
  upload->file.open(path, std::ios::binary | std::ios::trunc);
  if (!upload->file) return Refuse(c, request, what + " cannot be written");
  upload->remote = remote;
  upload->size = size;
  c.upload = std::move(upload);
  if (!Answer(c, request, WireWriter(request.id, int16_t(request.code + 1)), what)) return 0;
  if (size == 0) FinishUpload(c);
  return 1;
}

// Chunk payload: int n, then n bytes. Chunks are never answered, whatever becomes of them.
int Controller::OnChunk(Connection& c, const Frame& request) {
  WireReader reader(request.payload);
  int32_t size = 0;
  std::vector<uint8_t> bytes;
  if (!reader.Int(&size) || size < 0 || !reader.Raw(size_t(size), &bytes)) {
    Log(c.label + " chunk malformed, dropped");
    return 1;
  }
  const int64_t dropAfter = config.faults.dropAfterChunkBytes;
  size_t keep = bytes.size();
  if (dropAfter >= 0) keep = size_t(std::min<int64_t>(int64_t(keep), std::max<int64_t>(dropAfter - c.chunkBytes, 0)));
  c.chunkBytes += int64_t(keep);
  if (!c.upload) {
    Log(c.label + " chunk of " + std::to_string(size) + " bytes without an announced file, dropped");
  } else {
    Upload& upload = *c.upload;
    size_t fits = size_t(std::min<int64_t>(int64_t(keep), upload.size - upload.received));
    upload.file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(fits));
    for (size_t i = 0; i < fits; ++i) upload.sum += bytes[i];
    upload.received += int64_t(fits);
    Log(c.label + " chunk of " + std::to_string(size) + " bytes, " + std::to_string(upload.received) + " of " +
        std::to_string(upload.size) + (fits < keep ? ", the rest is past the announced size and dropped" : ""));
    if (upload.received == upload.size) FinishUpload(c);
  }
  if (dropAfter >= 0 && c.chunkBytes >= dropAfter) {
    Close(c.number, "dropped after " + std::to_string(c.chunkBytes) + " chunk bytes (fault)");
    return 0;
  }
  return 1;
}

void Controller::FinishUpload(Connection& c) {
  Upload& upload = *c.upload;
  upload.file.close();
  Log(c.label + " file " + upload.remote + (upload.file ? " stored: " : " failed to store: ") +
      std::to_string(upload.received) + " bytes, checksum " + std::to_string(upload.sum));
  c.upload.reset();
}

// ---------------------------------------------------------------------------------------------
// the upgrade script

void Controller::StartUpgrade() {
  ++upgradeRuns;
  std::ofstream marker(std::filesystem::path(sandbox.Root()) / kUpgradeLog, std::ios::app);
  marker << "upgrade script ran, run " << upgradeRuns << "\n";
  // The answer to the shell line leaves first, even a late one.
  uint32_t answerDelayMs = config.faults.answerDelayMs;
  if (auto delayed = config.faults.delayedCodes.find(kShellRequest); delayed != config.faults.delayedCodes.end()) {
    answerDelayMs += delayed->second;
  }
  Later(answerDelayMs, [this] { GoOffAir(); });
}

void Controller::GoOffAir() {
  onAir = false;
  CloseAll("upgrade script running, rebooting");
  if (config.faults.neverReturn) {
    Log("off the air for good (fault)");
    return;
  }
  Log("off the air for " + std::to_string(config.rebootSeconds) + " s");
  Later(config.rebootSeconds * 1000, [this] {
    onAir = true;
    Log("back on the air");
  });
}

}  // namespace sim
