#pragma once
// What every fuzz target shares: a reader that turns the fuzzer's bytes into choices, and a check
// that stops the run with a message the fuzzer keeps beside the input that failed it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

// Set by a target that leaves something behind otherwise (a temporary folder): a failed check
// ends the process without running atexit handlers.
inline void (*cleanUpOnFailure)() = nullptr;

// A failed check is a crash for libFuzzer: it saves the input and stops.
[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
  std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
  std::fflush(stderr);
  if (cleanUpOnFailure) cleanUpOnFailure();
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? void(0) : ::fuzz::Fail(#condition, __FILE__, __LINE__))

// Reads choices off the front of the input. Past the end every read gives zeros (and an empty
// text), so any input, even a cut one, means something.
class ByteSource {
 public:
  ByteSource(const uint8_t* data, size_t size) : data(data), size(size) {}

  bool Empty() const { return at >= size; }
  size_t Left() const { return size - at; }

  uint8_t Byte() { return at < size ? data[at++] : 0; }
  // Little-endian; the low part is read first (named, since operands have no order).
  uint16_t Word() {
    uint16_t low = Byte();
    return uint16_t(low | Byte() << 8);
  }
  uint32_t Dword() {
    uint32_t low = Word();
    return low | uint32_t(Word()) << 16;
  }
  bool Flag() { return Byte() & 1; }

  // Up to n bytes (fewer when the input runs out).
  std::vector<uint8_t> Bytes(size_t n) {
    size_t take = n < Left() ? n : Left();
    std::vector<uint8_t> out(data + at, data + at + take);
    at += take;
    return out;
  }
  std::string Text(size_t n) {
    std::vector<uint8_t> bytes = Bytes(n);
    return std::string(bytes.begin(), bytes.end());
  }
  // A text whose length comes first (one byte).
  std::string CountedText() { return Text(Byte()); }

 private:
  const uint8_t* data;
  size_t size;
  size_t at = 0;
};

inline uint32_t Le32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

inline void PutLe32(std::vector<uint8_t>* out, uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(value >> (8 * i)));
}

inline void PutLe16(std::vector<uint8_t>* out, uint16_t value) {
  out->push_back(uint8_t(value));
  out->push_back(uint8_t(value >> 8));
}

}  // namespace fuzz
