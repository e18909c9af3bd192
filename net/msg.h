#pragma once
// One message of the remote protocol: every request, answer and event travels as one of these.
//
// Wire image, all fields little-endian:
//   offset 0  2 bytes  sink id (0x7FFF = every sink)
//   offset 2  2 bytes  command code
//   offset 4  4 bytes  payload length n
//   offset 8  n bytes  payload
// Payload items each start at a multiple of 4 from the payload start:
//   integer    4 bytes, signed
//   string     length word L, the text, zero pad to the next multiple of 4; bit 31 of L set means
//              (L & 0x7FFFFFFF) bytes of UTF-16LE, clear means L bytes of 8-bit text; no terminator
//   raw block  the bytes, pad to the next multiple of 4; its length travels as an integer before it
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Largest payload a message is built with or accepted from the wire.
inline constexpr uint32_t kMaxMessageLength = 1000000;

class CVRMSG {
 public:
  // An owned message. initialLength is a size hint: with 0..kMaxMessageLength the message gets a
  // buffer and that length (zeroed payload); outside that range it has no buffer and length 0.
  // Appends set the length to the cursor, so a request is built as (0, code, 0) and filled.
  CVRMSG(int16_t id, int16_t code, int32_t initialLength);
  // Wraps a received wire image without copying; `available` is how many bytes `wire` holds.
  // When the header is complete and its length is 0..kMaxMessageLength and fits in `available`,
  // id, code and length come from the header; otherwise the message is empty (id and code -1,
  // length 0, no buffer). Valid only while the bytes are unchanged: keep a Clone instead. The
  // bytes are never written: a wrapped message that is changed first copies them.
  CVRMSG(const uint8_t* wire, size_t available);
  virtual ~CVRMSG();

  CVRMSG(const CVRMSG&) = delete;
  CVRMSG& operator=(const CVRMSG&) = delete;

  // A new owned message holding a copy of the whole wire image; null when memory is short.
  std::unique_ptr<CVRMSG> Clone() const;

  int16_t GetId() const { return id; }
  int16_t GetCode() const { return code; }
  uint32_t GetLength() const { return length; }
  // Start of the payload, null without a buffer.
  const uint8_t* GetPayload() const { return buffer ? buffer + kHeaderBytes : nullptr; }
  // Bytes allocated for the wire image, 0 without a buffer.
  uint32_t GetCapacity() const { return capacity; }

  // Sets the id in the fields and the wire header; a message without a buffer stays unchanged.
  void SetId(int16_t newId);
  // The wire image, GetWireSize() bytes, valid until the message changes. Without a buffer this
  // is the 8-byte header alone.
  const uint8_t* GetWireBytes();
  uint32_t GetWireSize() const { return length + kHeaderBytes; }
  // Same code, same length and byte-equal payloads; the id is not compared.
  bool IsSame(const CVRMSG& other) const;

  // Appends write at the cursor, advance it, and set length = cursor. Each returns 1, or 0 when
  // memory is short, leaving the message unchanged.
  int AppendInt(int32_t value);
  // The n bytes, then zero pad to a multiple of 4.
  int AppendBytes(const void* bytes, uint32_t n);
  // Always sent as 8-bit text.
  int AppendString(const std::string& text);

  // 1 and the next integer (into *out when out is given); 0 and readError set when fewer than 4
  // payload bytes remain.
  int ReadInt(int32_t* out);
  // 1 and the next string (UTF-16 converted to UTF-8); 0 when the string is not wholly inside the
  // payload, and then every later string read fails too, until the message is rebuilt. out is
  // left untouched on failure.
  int ReadString(std::string& out);
  // The next string, empty when the read failed.
  std::string ReadString();
  // Back to the payload start; an earlier read error stays.
  void Rewind() { cursor = 0; }

  // Makes room for an n-byte payload: capacity becomes at least n + 8, growing to that figure
  // rounded down to a multiple of 512, plus 512. 1 on success, 0 when memory is short (the old
  // buffer and capacity stay).
  int Reserve(uint64_t n);

 private:
  static constexpr uint32_t kHeaderBytes = 8;

  void WriteHeader(uint8_t* at) const;
  uint8_t* CursorBytes() { return buffer + kHeaderBytes + cursor; }
  // Moves the cursor past what was just written; the payload ends there.
  void Advance(uint32_t n);

  int16_t id;
  int16_t code;
  uint32_t length;
  // Header and payload. Not owned when it wraps received bytes, and then never written to.
  uint8_t* buffer;
  uint32_t capacity;
  // Read and write position in the payload, never beyond length.
  uint32_t cursor;
  int32_t owned;
  int32_t readError;
  // What GetWireBytes hands out when there is no buffer.
  uint8_t headerOnly[kHeaderBytes];
};
