#pragma once
// Byte-level helpers for tests that play the controller's side: frames built by hand from the wire
// layout, so that the client's message class is checked against an independent reading.
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

struct Payload {
  std::vector<uint8_t> bytes;
  Payload& Int(int32_t value);
  Payload& String(const std::string& text);
  Payload& Raw(const void* data, size_t n);
  Payload& Raw(const std::vector<uint8_t>& data) { return Raw(data.data(), data.size()); }
};

// The 8-byte header (id, code, payload length; little-endian) and the payload.
std::vector<uint8_t> Frame(int16_t id, int16_t code, const std::vector<uint8_t>& payload = {});
std::vector<uint8_t> Header(int16_t id, int16_t code, int32_t length);
// The little-endian integer at `offset`.
int32_t IntAt(const std::vector<uint8_t>& bytes, size_t offset);

struct Frame_ {
  int16_t id = 0;
  int16_t code = 0;
  std::vector<uint8_t> payload;
};

// Reads a payload item by item, failing (ok = false) rather than running past the end.
struct Reader {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;
  bool ok = true;
  int32_t Int();
  std::string String();
  std::vector<uint8_t> Raw(size_t n);
};

// AES-128-ECB of one block, by OpenSSL: the proof a controller expects.
std::vector<uint8_t> Aes128Block(const std::vector<uint8_t>& key16, const std::vector<uint8_t>& block16);
// The login proof for a pass phrase and a challenge: both zero-padded to 16 bytes.
std::vector<uint8_t> LoginProof(const std::string& passPhrase, const std::string& challenge);
// The payload of login request 27 for a client kind and a 16-byte proof.
std::vector<uint8_t> LoginPayload(int32_t kind, const std::vector<uint8_t>& proof);

}  // namespace testing_support
