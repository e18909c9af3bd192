#pragma once
// Messages of the far side, written and read with the controller simulator's codec (sim/wire.h),
// so that every test playing a controller speaks the wire one way: the client's codec is then
// checked against the simulator's, and hand-written bytes in the tests are the third witness.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sim/wire.h"

namespace testing_support {

namespace detail {
inline void PutItem(sim::WireWriter& message, std::string_view text) { message.String(text); }
inline void PutItem(sim::WireWriter& message, int32_t value) { message.Int(value); }
inline void PutItem(sim::WireWriter& message, const std::vector<uint8_t>& bytes) {
  message.Raw(bytes.data(), bytes.size());
}
template <size_t N>
void PutItem(sim::WireWriter& message, const std::array<uint8_t, N>& bytes) {
  message.Raw(bytes.data(), N);
}
}  // namespace detail

// One message with its payload items in order: text is a string item, an integer an int32, a byte
// vector or array a raw block (its length, when the layout has one, is an item of its own).
template <typename... Items>
sim::WireWriter Message(int16_t id, int16_t code, const Items&... items) {
  sim::WireWriter message(id, code);
  (detail::PutItem(message, items), ...);
  return message;
}

// The payload of a message: its wire image without the header.
std::vector<uint8_t> PayloadOf(const sim::WireWriter& message);

// The little-endian int32 at `offset` (a header's length field is at 4); the bytes must be there.
int32_t IntAt(const std::vector<uint8_t>& bytes, size_t offset);

// Login request 27 as a client sends it: magic 813, the client kind, "VRSTART", the proof's length
// and the proof, 2, and four empty strings.
sim::WireWriter LoginRequest(int16_t id, int32_t kind, const std::vector<uint8_t>& proof);

// The login proof for a challenge under a pass phrase, as the simulator checks it; empty (and the
// running test failed) when the cipher could not run.
std::vector<uint8_t> ProofFor(const std::string& challenge, const std::string& passPhrase = "");

}  // namespace testing_support
