#pragma once
// The proof a client must send with its login: the first 16 bytes of the challenge (zero-padded
// when shorter) encrypted as one AES-128 block, ECB, under the pass phrase zero-padded to 16 bytes
// (only its first 16 bytes count).
#include <array>
#include <cstdint>
#include <string>

namespace sim {

using Proof = std::array<uint8_t, 16>;

// 1 and the proof in *out, 0 when the cipher could not run.
int ExpectedProof(const std::string& challenge, const std::string& passPhrase, Proof* out);

}  // namespace sim
