#include "sim/wire.h"

#include <cstring>

namespace sim {
namespace {

constexpr uint32_t kUtf16Flag = 0x80000000u;

// Grows the vector once per field: byte-by-byte pushes cost a reallocation every few bytes, which
// the fuzzing and workload runs (thousands of frames per input) felt.
void PutLe(std::vector<uint8_t>* out, uint32_t value, int bytes) {
  const size_t at = out->size();
  out->resize(at + size_t(bytes));
  for (int i = 0; i < bytes; ++i) (*out)[at + size_t(i)] = uint8_t(value >> (8 * i));
}

uint32_t GetLe(const uint8_t* in, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= uint32_t(in[i]) << (8 * i);
  return value;
}

size_t Padded(size_t size) { return (size + 3) & ~size_t(3); }

}  // namespace

WireWriter::WireWriter(int16_t id, int16_t code) : id(id), code(code) {}

void WireWriter::Int(int32_t value) { PutLe(&payload, uint32_t(value), 4); }

void WireWriter::String(std::string_view text) {
  Int(int32_t(text.size()));
  payload.insert(payload.end(), text.begin(), text.end());
  Pad();
}

void WireWriter::Raw(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  payload.insert(payload.end(), bytes, bytes + size);
  Pad();
}

void WireWriter::Pad() { payload.resize(Padded(payload.size()), 0); }

std::vector<uint8_t> WireWriter::Bytes() const {
  std::vector<uint8_t> wire = HeaderBytes(id, code, int32_t(payload.size()));
  wire.insert(wire.end(), payload.begin(), payload.end());
  return wire;
}

std::vector<uint8_t> HeaderBytes(int16_t id, int16_t code, int32_t length) {
  std::vector<uint8_t> header;
  header.reserve(kHeaderBytes);
  PutLe(&header, uint16_t(id), 2);
  PutLe(&header, uint16_t(code), 2);
  PutLe(&header, uint32_t(length), 4);
  return header;
}

WireReader::WireReader(const std::vector<uint8_t>& payload) : payload(payload) {}

int WireReader::Int(int32_t* out) {
  if (Left() < 4) return 0;
  *out = int32_t(GetLe(payload.data() + cursor, 4));
  cursor += 4;
  return 1;
}

int WireReader::String(std::string* out) {
  if (Left() < 4) return 0;
  uint32_t length = GetLe(payload.data() + cursor, 4);
  if (length & kUtf16Flag) return 0;
  if (Padded(length) > Left() - 4) return 0;
  out->assign(reinterpret_cast<const char*>(payload.data() + cursor + 4), length);
  cursor += 4 + Padded(length);
  return 1;
}

int WireReader::Raw(size_t size, std::vector<uint8_t>* out) {
  if (Padded(size) > Left()) return 0;
  out->assign(payload.begin() + long(cursor), payload.begin() + long(cursor + size));
  cursor += Padded(size);
  return 1;
}

FrameResult TakeFrame(std::vector<uint8_t>* stream, Frame* out) {
  if (stream->size() < kHeaderBytes) return FrameResult::NeedMore;
  const uint8_t* header = stream->data();
  int32_t length = int32_t(GetLe(header + 4, 4));
  if (length < 0 || int64_t(kHeaderBytes) + length > kMaxFrameBytes) return FrameResult::Broken;
  size_t total = kHeaderBytes + size_t(length);
  if (stream->size() < total) return FrameResult::NeedMore;
  out->id = int16_t(GetLe(header, 2));
  out->code = int16_t(GetLe(header + 2, 2));
  out->payload.assign(stream->begin() + kHeaderBytes, stream->begin() + long(total));
  stream->erase(stream->begin(), stream->begin() + long(total));
  return FrameResult::Taken;
}

}  // namespace sim
