#include "tests/support/sim_messages.h"

#include <gtest/gtest.h>

#include "sim/login_proof.h"

namespace testing_support {

std::vector<uint8_t> PayloadOf(const sim::WireWriter& message) {
  std::vector<uint8_t> wire = message.Bytes();
  return std::vector<uint8_t>(wire.begin() + long(sim::kHeaderBytes), wire.end());
}

int32_t IntAt(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t(bytes.at(offset + i)) << (8 * i);
  return int32_t(value);
}

sim::WireWriter LoginRequest(int16_t id, int32_t kind, const std::vector<uint8_t>& proof) {
  return Message(id, 27, 813, kind, "VRSTART", int32_t(proof.size()), proof, 2, "", "", "", "");
}

std::vector<uint8_t> ProofFor(const std::string& challenge, const std::string& passPhrase) {
  sim::Proof proof{};
  if (!sim::ExpectedProof(challenge, passPhrase, &proof)) {
    ADD_FAILURE() << "the login proof could not be computed";
    return {};
  }
  return std::vector<uint8_t>(proof.begin(), proof.end());
}

}  // namespace testing_support
