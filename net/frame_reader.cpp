#include "net/frame_reader.h"

#include <algorithm>
#include <cstring>

FrameHeader DecodeFrameHeader(const uint8_t* bytes) {
  FrameHeader header;
  header.id = int16_t(uint16_t(bytes[0] | bytes[1] << 8));
  header.code = int16_t(uint16_t(bytes[2] | bytes[3] << 8));
  header.length = int32_t(uint32_t{bytes[4]} | uint32_t{bytes[5]} << 8 | uint32_t{bytes[6]} << 16 |
                          uint32_t{bytes[7]} << 24);
  return header;
}

// Not zeroed: only bytes a receive committed are ever read, and a session should not pay for a
// megabyte of page faults before its first byte arrives.
FrameReader::FrameReader() : buffer(std::make_unique_for_overwrite<uint8_t[]>(kMaxFrameBytes)) {}

void FrameReader::Compact() {
  if (start <= pinEnd) return;
  std::memmove(buffer.get() + pinEnd, buffer.get() + start, fill - start);
  fill -= start - pinEnd;
  start = pinEnd;
}

void FrameReader::Restart() {
  start = fill = pinEnd;
  broken = false;
}

uint8_t* FrameReader::Space(uint32_t* room) {
  Compact();
  *room = broken ? 0 : kMaxFrameBytes - fill;
  return buffer.get() + fill;
}

void FrameReader::Commit(uint32_t n) { fill += std::min(n, kMaxFrameBytes - fill); }

uint32_t FrameReader::Feed(const uint8_t* data, uint32_t size) {
  uint32_t room = 0;
  uint8_t* at = Space(&room);
  uint32_t taken = std::min(room, size);
  if (taken) std::memcpy(at, data, taken);
  Commit(taken);
  return taken;
}

FrameReader::Result FrameReader::Next(const uint8_t** frame, uint32_t* total) {
  if (broken) return Result::Broken;
  if (Held() < kFrameHeaderBytes) return Result::Incomplete;
  int32_t length = DecodeFrameHeader(buffer.get() + start).length;
  if (length < 0 || uint32_t(length) > kMaxFrameBytes - kFrameHeaderBytes) {
    broken = true;
    return Result::Broken;
  }
  uint32_t size = kFrameHeaderBytes + uint32_t(length);
  if (Held() < size) return Result::Incomplete;
  *frame = buffer.get() + start;
  *total = size;
  start += size;
  return Result::Message;
}
