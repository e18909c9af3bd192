#include "net/msg.h"

#include "net/frame_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t kCapacityStep = 512;
constexpr uint32_t kUtf16Flag = 0x80000000u;
constexpr uint32_t kMaxStringBytes = 0x7FFFFFFFu;

uint32_t RoundUp4(uint32_t n) { return (n + 3u) & ~3u; }

uint32_t ReadLe32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

uint16_t ReadLe16(const uint8_t* at) { return uint16_t(at[0] | at[1] << 8); }

void WriteLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = uint8_t(value >> (8 * i));
}

void WriteLe16(uint8_t* at, uint16_t value) {
  at[0] = uint8_t(value);
  at[1] = uint8_t(value >> 8);
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += char(codePoint);
  } else if (codePoint < 0x800) {
    out += char(0xC0 | codePoint >> 6);
    out += char(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += char(0xE0 | codePoint >> 12);
    out += char(0x80 | (codePoint >> 6 & 0x3F));
    out += char(0x80 | (codePoint & 0x3F));
  } else {
    out += char(0xF0 | codePoint >> 18);
    out += char(0x80 | (codePoint >> 12 & 0x3F));
    out += char(0x80 | (codePoint >> 6 & 0x3F));
    out += char(0x80 | (codePoint & 0x3F));
  }
}

bool IsHighSurrogate(uint16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(uint16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// UTF-8 is the multibyte code page here, so wide text from the wire becomes UTF-8; a surrogate
// without its partner becomes U+FFFD.
std::string Utf16LeToUtf8(const uint8_t* bytes, uint32_t units) {
  std::string out;
  for (uint32_t i = 0; i < units; ++i) {
    const uint16_t unit = ReadLe16(bytes + 2 * i);
    if (IsHighSurrogate(unit) && i + 1 < units && IsLowSurrogate(ReadLe16(bytes + 2 * (i + 1)))) {
      const uint16_t low = ReadLe16(bytes + 2 * ++i);
      AppendUtf8(out, 0x10000 + ((uint32_t{unit} - 0xD800) << 10) + (low - 0xDC00u));
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace

CVRMSG::CVRMSG(int16_t sinkId, int16_t commandCode, int32_t initialLength)
    : id(sinkId),
      code(commandCode),
      length(0),
      buffer(nullptr),
      capacity(0),
      cursor(0),
      owned(1),
      readError(0),
      headerOnly{} {
  if (initialLength < 0 || uint32_t(initialLength) > kMaxMessageLength) return;
  length = uint32_t(initialLength);
  if (!Reserve(length)) length = 0;
}

CVRMSG::CVRMSG(const uint8_t* wire, size_t available)
    : id(-1),
      code(-1),
      length(0),
      buffer(nullptr),
      capacity(0),
      cursor(0),
      owned(0),
      readError(0),
      headerOnly{} {
  if (!wire || available < kHeaderBytes) return;
  const FrameHeader header = DecodeFrameHeader(wire);
  const uint32_t n = uint32_t(header.length);
  if (header.length < 0 || n > kMaxMessageLength || n > available - kHeaderBytes) return;
  id = header.id;
  code = header.code;
  length = n;
  // Not owned, so never written: Reserve copies the image before anything changes it.
  buffer = const_cast<uint8_t*>(wire);
  capacity = n + kHeaderBytes;
}

CVRMSG::~CVRMSG() {
  if (owned) delete[] buffer;
}

std::unique_ptr<CVRMSG> CVRMSG::Clone() const {
  // Built empty and then sized, so that a payload grown past the constructor's hint limit copies too.
  std::unique_ptr<CVRMSG> copy(new (std::nothrow) CVRMSG(id, code, 0));
  if (!copy || !copy->Reserve(length)) return nullptr;
  if (length) std::memcpy(copy->buffer + kHeaderBytes, buffer + kHeaderBytes, length);
  copy->length = length;
  copy->WriteHeader(copy->buffer);
  return copy;
}

void CVRMSG::SetId(int16_t newId) {
  if (!buffer) return;
  if (!owned && !Reserve(length)) return;
  id = newId;
  WriteHeader(buffer);
}

const uint8_t* CVRMSG::GetWireBytes() {
  if (!buffer) {
    WriteHeader(headerOnly);
    return headerOnly;
  }
  // A wrapped image already carries these values: only SetId and appends change them, and both
  // copy it first.
  if (owned) WriteHeader(buffer);
  return buffer;
}

bool CVRMSG::IsSame(const CVRMSG& other) const {
  if (length != other.length || code != other.code) return false;
  return length == 0 || std::memcmp(GetPayload(), other.GetPayload(), length) == 0;
}

int CVRMSG::AppendInt(int32_t value) {
  if (!Reserve(uint64_t{length} + 4)) return 0;
  WriteLe32(CursorBytes(), uint32_t(value));
  Advance(4);
  return 1;
}

int CVRMSG::AppendBytes(const void* bytes, uint32_t n) {
  const uint32_t padded = RoundUp4(n);
  if (n > padded || !Reserve(uint64_t{length} + padded)) return 0;
  uint8_t* at = CursorBytes();
  if (n) std::memcpy(at, bytes, n);
  std::memset(at + n, 0, padded - n);
  Advance(padded);
  return 1;
}

int CVRMSG::AppendString(const std::string& text) {
  if (text.size() > kMaxStringBytes) return 0;
  const uint32_t n = uint32_t(text.size());
  // Room for the whole item first, so that the two writes below cannot fail halfway.
  if (!Reserve(uint64_t{length} + 4 + RoundUp4(n))) return 0;
  return AppendInt(int32_t(n)) && AppendBytes(text.data(), n);
}

int CVRMSG::ReadInt(int32_t* out) {
  if (length - cursor < 4) {
    readError = 1;
    return 0;
  }
  if (out) *out = int32_t(ReadLe32(CursorBytes()));
  cursor += 4;
  return 1;
}

int CVRMSG::ReadString(std::string& out) {
  if (readError) return 0;
  // Stays set unless the whole string is read, which makes later string reads fail as well.
  readError = 1;
  int32_t word = 0;
  if (!ReadInt(&word)) return 0;
  const uint32_t n = uint32_t(word) & kMaxStringBytes;
  if (n > length - cursor) return 0;
  const uint8_t* text = CursorBytes();
  if (uint32_t(word) & kUtf16Flag) {
    out = Utf16LeToUtf8(text, n / 2);
  } else {
    out.assign(reinterpret_cast<const char*>(text), n);
  }
  // The last item's pad may be missing from the payload; the cursor stops at its end.
  cursor += std::min(RoundUp4(n), length - cursor);
  readError = 0;
  return 1;
}

std::string CVRMSG::ReadString() {
  std::string text;
  ReadString(text);
  return text;
}

int CVRMSG::Reserve(uint64_t n) {
  // Beyond this the sums below would wrap and "succeed" with a buffer far too small.
  if (n > UINT32_MAX - kHeaderBytes - kCapacityStep) return 0;
  uint64_t need = n + kHeaderBytes;
  if (need <= capacity) {
    if (owned) return 1;
    need = capacity;  // wrapped bytes: take a copy of our own before writing
  }
  const uint64_t grownCapacity = need / kCapacityStep * kCapacityStep + kCapacityStep;
  if (grownCapacity > UINT32_MAX) return 0;
  uint8_t* grown = new (std::nothrow) uint8_t[grownCapacity]();
  if (!grown) return 0;
  if (buffer) {
    std::memcpy(grown, buffer, capacity);
    if (owned) delete[] buffer;
  } else {
    WriteHeader(grown);
  }
  buffer = grown;
  capacity = uint32_t(grownCapacity);
  owned = 1;
  return 1;
}

void CVRMSG::WriteHeader(uint8_t* at) const {
  WriteLe16(at, uint16_t(id));
  WriteLe16(at + 2, uint16_t(code));
  WriteLe32(at + 4, length);
}

void CVRMSG::Advance(uint32_t n) {
  cursor += n;
  length = cursor;
}
