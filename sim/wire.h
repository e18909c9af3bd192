#pragma once
// The controller's side of the message stream, written from the wire tables alone.
//
// Wire image of one message (little-endian):
//   0  int16  id     sink id of the asker; 0x7FFF addresses every sink
//   2  int16  code   command code; an answer carries the request's code + 1
//   4  int32  n      payload length
//   8  n      payload: items each starting on a multiple of 4 bytes
// Payload items: int32; string = int32 byte count, the bytes, zero pad to 4 (bit 31 of the count
// marks UTF-16, which no client of ours sends and this side does not read); raw block = the bytes,
// pad to 4, its length carried by an int32 before it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

constexpr size_t kHeaderBytes = 8;
// The largest frame either side accepts, header included.
constexpr int64_t kMaxFrameBytes = 1000000;
constexpr int16_t kAllSinksId = 0x7FFF;

struct Frame {
  int16_t id = 0;
  int16_t code = 0;
  std::vector<uint8_t> payload;
};

// Builds one wire image.
class WireWriter {
 public:
  WireWriter(int16_t id, int16_t code);
  void Int(int32_t value);
  void String(std::string_view text);
  void Raw(const void* data, size_t size);
  int16_t Code() const { return code; }
  // Header (with the payload's length) and payload.
  std::vector<uint8_t> Bytes() const;

 private:
  void Pad();

  int16_t id;
  int16_t code;
  std::vector<uint8_t> payload;
};

// Reads payload items in order. Each read returns 1, or 0 when the item does not fit in what is
// left (nothing is read past the payload); after a failure the cursor stays where it was.
class WireReader {
 public:
  explicit WireReader(const std::vector<uint8_t>& payload);
  int Int(int32_t* out);
  int String(std::string* out);
  int Raw(size_t size, std::vector<uint8_t>* out);
  size_t Left() const { return payload.size() - cursor; }

 private:
  const std::vector<uint8_t>& payload;
  size_t cursor = 0;
};

// A header alone, with whatever length it claims (for the broken-length fault and for tests).
std::vector<uint8_t> HeaderBytes(int16_t id, int16_t code, int32_t length);

enum class FrameResult { Taken, NeedMore, Broken };

// Takes the first complete frame off the front of `stream`. Broken: its length field is negative
// or the frame would exceed kMaxFrameBytes; the stream cannot be resynchronised after that.
FrameResult TakeFrame(std::vector<uint8_t>* stream, Frame* out);

}  // namespace sim
