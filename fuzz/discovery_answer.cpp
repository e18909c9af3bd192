// One datagram, of any length and content, arriving on a discovery socket from a controller on a
// simulated LAN, taken the way the main dialog takes it: read off the socket, and when it is an
// answer, made into a device record and into both lines of the device list (the plain one and the
// diagnostic one).
//
// The answer is handed on in a heap buffer of exactly 180 bytes, so that reading past its end is
// caught. Each record field must be what the answer says at its offset, and each line must keep its
// columns whatever bytes the answer holds: MAC in 17 characters, address in 15, then the model name.
//
// Input: the datagram.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "discovery/device_record.h"
#include "discovery/device_types.h"
#include "discovery/discovery_answer.h"
#include "discovery/ping_socket.h"
#include "fuzz/fuzz_support.h"
#include "platform/sim/world.h"
#include "platform/socket.h"

namespace {

constexpr uint32_t kPcAddress = platform::MakeAddress(192, 168, 1, 10);
constexpr uint32_t kControllerAddress = platform::MakeAddress(192, 168, 1, 20);
constexpr size_t kMacColumn = 17;
constexpr size_t kAddressColumn = 15;
// "Type: 0x01 SubType: 0x02"
constexpr size_t kCodesColumn = 24;

// The text at `offset` up to its zero byte, or to the end of the answer.
std::string TextAt(const uint8_t* answer, int offset) {
  const uint8_t* start = answer + offset;
  const uint8_t* end = answer + kAnswerBytes;
  return std::string(start, std::find(start, end, uint8_t{0}));
}

std::string RightAligned(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

void CheckRecord(const DeviceRecord& record, const uint8_t* answer) {
  FUZZ_CHECK(record.name == TextAt(answer, kAnswerNameOffset));
  FUZZ_CHECK(record.macText == TextAt(answer, kAnswerMacOffset));
  FUZZ_CHECK(record.extraText == TextAt(answer, kAnswerExtraOffset));
  FUZZ_CHECK(record.address == AnswerAddress(answer));
  FUZZ_CHECK(std::memcmp(&record.address, answer + kAnswerAddressOffset, 4) == 0);
  FUZZ_CHECK(record.port == (answer[kAnswerPortOffset] | answer[kAnswerPortOffset + 1] << 8));
  FUZZ_CHECK(record.type == answer[kAnswerTypeOffset]);
  FUZZ_CHECK(record.subtype == answer[kAnswerSubtypeOffset]);
  if (record.IsWinCE() || record.IsLinux()) FUZZ_CHECK(record.IsFullController());
  FUZZ_CHECK(!(record.IsWinCE() && record.IsLinux()));
}

void CheckLines(const uint8_t* answer) {
  const std::string plain = FormatDeviceLine(answer, 0);
  const std::string diagnostic = FormatDeviceLine(answer, 1);
  // A zero inside a line would cut it short wherever it is passed on as a C text.
  FUZZ_CHECK(plain.find('\0') == std::string::npos);
  FUZZ_CHECK(diagnostic.find('\0') == std::string::npos);

  // The MAC as shown: its first 12 characters in pairs, up to a zero byte among them.
  std::string mac;
  for (int i = 0; i < kAnswerMacChars; ++i) {
    if (i > 0 && i % 2 == 0) mac += ':';
    mac += char(answer[kAnswerMacOffset + i]);
  }
  mac = mac.substr(0, mac.find('\0'));
  const uint8_t* a = answer + kAnswerAddressOffset;
  const std::string dotted =
      std::to_string(a[0]) + "." + std::to_string(a[1]) + "." + std::to_string(a[2]) + "." + std::to_string(a[3]);
  const uint8_t type = answer[kAnswerTypeOffset];
  const uint8_t subtype = answer[kAnswerSubtypeOffset];
  const std::string expected =
      RightAligned(mac, kMacColumn) + "\t" + RightAligned(dotted, kAddressColumn) + "\t" + GetModelName(type, subtype);
  FUZZ_CHECK(plain == expected);

  // The diagnostic line is the plain one behind the two codes.
  FUZZ_CHECK(diagnostic.size() == kCodesColumn + 1 + plain.size());
  FUZZ_CHECK(diagnostic.compare(0, 8, "Type: 0x") == 0);
  FUZZ_CHECK(diagnostic.compare(kCodesColumn, std::string::npos, "\t" + plain) == 0);

  FUZZ_CHECK(!GetSystemTypeName(type, subtype).empty());
  // No filter selected and "ALL" let everything through.
  FUZZ_CHECK(PassesFilter(kNoFilter, type, subtype) == 1);
  FUZZ_CHECK(PassesFilter(0, type, subtype) == 1);
  for (int filter = 1; filter < int(std::size(kFilterEntries)); ++filter) {
    const int passes = PassesFilter(filter, type, subtype);
    FUZZ_CHECK(passes == 0 || passes == 1);
  }
  const int hidden = IsHiddenSubtype(subtype);
  FUZZ_CHECK(hidden == 0 || hidden == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Past what the discovery socket reads, more bytes are only more of the same loss.
  if (size > 2 * size_t(kMaxDatagramReadBytes)) return -1;
  platform::sim::World world;
  world.AddHost("pc", kPcAddress);
  const platform::sim::HostId controller = world.AddHost("controller", kControllerAddress);

  CPingSocket socket(kPcAddress);
  FUZZ_CHECK(socket.IsValid() && socket.GetBindError() == 0);
  world.RunAs(controller, [&] {
    platform::Socket s = platform::OpenUdp();
    FUZZ_CHECK(platform::Bind(s, platform::Endpoint{platform::kAnyAddress, kDiscoveryPort}) == 0);
    FUZZ_CHECK(platform::SendTo(s, data, int(size), platform::Endpoint{kPcAddress, kDiscoveryPort}) == int(size));
    platform::Close(s);
  });
  world.RunFor(1);

  uint8_t answer[kAnswerBytes];
  platform::Endpoint sender{};
  const int received = socket.ReceiveAnswer(answer, &sender);
  // Every datagram is taken off the socket, an answer or not, and then nothing is left.
  FUZZ_CHECK(received == (size == size_t(kAnswerBytes) ? 2 : 1));
  FUZZ_CHECK(socket.ReceiveAnswer(answer, &sender) == 0);
  if (received != 2) return 0;
  FUZZ_CHECK(std::memcmp(answer, data, kAnswerBytes) == 0);
  FUZZ_CHECK(sender.address == kControllerAddress && sender.port == kDiscoveryPort);

  auto exact = std::make_unique<uint8_t[]>(kAnswerBytes);
  std::memcpy(exact.get(), answer, kAnswerBytes);
  DeviceRecord record(exact.get(), AnswerAddress(exact.get()));
  CheckRecord(record, exact.get());
  DeviceRecord copy(record);
  CheckRecord(copy, exact.get());
  CheckLines(exact.get());
  return 0;
}
