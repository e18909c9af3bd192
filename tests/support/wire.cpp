#include "tests/support/wire.h"

#include <openssl/evp.h>

#include <cstring>

namespace testing_support {
namespace {

void PutLe(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void Pad(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

}  // namespace

Payload& Payload::Int(int32_t value) {
  PutLe(bytes, uint32_t(value), 4);
  return *this;
}

Payload& Payload::String(const std::string& text) {
  PutLe(bytes, uint32_t(text.size()), 4);
  bytes.insert(bytes.end(), text.begin(), text.end());
  Pad(bytes);
  return *this;
}

Payload& Payload::Raw(const void* data, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  bytes.insert(bytes.end(), p, p + n);
  Pad(bytes);
  return *this;
}

std::vector<uint8_t> Header(int16_t id, int16_t code, int32_t length) {
  std::vector<uint8_t> out;
  PutLe(out, uint16_t(id), 2);
  PutLe(out, uint16_t(code), 2);
  PutLe(out, uint32_t(length), 4);
  return out;
}

std::vector<uint8_t> Frame(int16_t id, int16_t code, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out = Header(id, code, int32_t(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

int32_t IntAt(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= uint32_t(bytes.at(offset + size_t(i))) << (8 * i);
  return int32_t(value);
}

int32_t Reader::Int() {
  if (!ok || at + 4 > bytes.size()) {
    ok = false;
    return 0;
  }
  uint32_t v = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
               uint32_t(bytes[at + 3]) << 24;
  at += 4;
  return int32_t(v);
}

std::string Reader::String() {
  int32_t n = Int();
  if (!ok || n < 0 || at + size_t(n) > bytes.size()) {
    ok = false;
    return "";
  }
  std::string text(bytes.begin() + long(at), bytes.begin() + long(at) + n);
  at += (size_t(n) + 3) / 4 * 4;
  return text;
}

std::vector<uint8_t> Reader::Raw(size_t n) {
  if (!ok || at + n > bytes.size()) {
    ok = false;
    return {};
  }
  std::vector<uint8_t> out(bytes.begin() + long(at), bytes.begin() + long(at + n));
  at += (n + 3) / 4 * 4;
  return out;
}

std::vector<uint8_t> Aes128Block(const std::vector<uint8_t>& key16, const std::vector<uint8_t>& block16) {
  std::vector<uint8_t> out(32);
  int n = 0;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_aes_128_ecb(), nullptr, key16.data(), nullptr);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_EncryptUpdate(ctx, out.data(), &n, block16.data(), 16);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(16);
  return out;
}

std::vector<uint8_t> LoginProof(const std::string& passPhrase, const std::string& challenge) {
  std::vector<uint8_t> key(16, 0), block(16, 0);
  std::memcpy(key.data(), passPhrase.data(), std::min<size_t>(16, passPhrase.size()));
  std::memcpy(block.data(), challenge.data(), std::min<size_t>(16, challenge.size()));
  return Aes128Block(key, block);
}

std::vector<uint8_t> LoginPayload(int32_t kind, const std::vector<uint8_t>& proof) {
  Payload p;
  p.Int(813).Int(kind).String("VRSTART").Int(16).Raw(proof).Int(2);
  for (int i = 0; i < 4; ++i) p.String("");
  return p.bytes;
}

}  // namespace testing_support
