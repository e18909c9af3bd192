#pragma once
// The discovery exchange on UDP port 444. The system probe is 8 bytes: 47 48 00 00 (0x00004847
// little-endian, "GH") and four zero bytes. A controller answers with exactly 180 bytes:
//
//   offset  size  field
//        0     4  not read
//        4     4  IPv4 address, first octet first (as a socket address holds it)
//        8     2  port of the message service, little-endian
//       10     1  system type
//       11     1  subtype
//       12    28  name, up to its zero byte
//       40    12  MAC as 12 hexadecimal characters; as a text it runs on to the next zero byte
//       52     -  a second text, up to its zero byte; nothing after it is read
//
// A datagram of any other length is not an answer.
#include <cstdint>
#include <string>

inline constexpr uint16_t kDiscoveryPort = 444;
inline constexpr int kProbeBytes = 8;
inline constexpr uint8_t kSystemProbe[kProbeBytes] = {0x47, 0x48, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

inline constexpr int kAnswerBytes = 180;
inline constexpr int kAnswerAddressOffset = 4;
inline constexpr int kAnswerPortOffset = 8;
inline constexpr int kAnswerTypeOffset = 10;
inline constexpr int kAnswerSubtypeOffset = 11;
inline constexpr int kAnswerNameOffset = 12;
inline constexpr int kAnswerMacOffset = 40;
inline constexpr int kAnswerMacChars = 12;
inline constexpr int kAnswerExtraOffset = 52;

// The text that starts at `offset` of a 180-byte answer: up to its zero byte, or up to the end of
// the answer when none follows there.
std::string AnswerText(const uint8_t* answer, int offset);

// The controller's address (network order) and message-service port (host order) in an answer.
uint32_t AnswerAddress(const uint8_t* answer);
uint16_t AnswerPort(const uint8_t* answer);
