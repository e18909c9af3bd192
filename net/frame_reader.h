#pragma once
// Framing of the received byte stream, apart from any socket: bytes go in, whole frames or a
// broken stream come out. The session feeds it what the connection delivers; tests and fuzzers
// feed it exact bytes.
#include <cstdint>
#include <memory>

inline constexpr uint32_t kFrameHeaderBytes = 8;
// The largest frame taken off the wire, header included, and so the size of the receive buffer.
inline constexpr uint32_t kMaxFrameBytes = 1000000;

// The 8-byte header: id, code and payload length, little-endian whatever the host.
struct FrameHeader {
  int16_t id;
  int16_t code;
  int32_t length;
};
FrameHeader DecodeFrameHeader(const uint8_t* bytes);

class FrameReader {
 public:
  enum class Result { Incomplete, Message, Broken };

  FrameReader();

  // Where the next received bytes go, and how many fit there. The room is 0 while frames still
  // being delivered fill the buffer (see Pin).
  uint8_t* Space(uint32_t* room);
  // `n` bytes were written at Space().
  void Commit(uint32_t n);
  // Copies in as much of `data` as there is room for; how many bytes were taken.
  uint32_t Feed(const uint8_t* data, uint32_t size);

  // Takes the next whole frame off the front: Message with its wire image in *frame (*total
  // bytes, header included), Incomplete when more bytes are needed, or Broken when a header's
  // length is negative or the frame would exceed kMaxFrameBytes. A broken stream cannot be
  // resynchronised, so it stays broken and takes no more bytes. A taken frame's bytes stay where
  // they are until the next Space or Feed, or for as long as a Pin made after taking it lives.
  Result Next(const uint8_t** frame, uint32_t* total);
  // Forgets the bytes not taken yet and a broken state, for a new stream; pinned frames stay.
  void Restart();

  bool IsBroken() const { return broken; }
  // Received bytes not yet taken as frames.
  uint32_t Held() const { return fill - start; }

  // Keeps every frame taken so far in place while it lives, so that a delivery that re-enters
  // the reader (a sink servicing the session from inside) can still read the frame it was handed.
  // Pins nest; the reader must outlive them.
  class Pin {
   public:
    explicit Pin(FrameReader& reader) : reader(reader), outer(reader.pinEnd) {
      reader.pinEnd = reader.start;
    }
    ~Pin() { reader.pinEnd = outer; }
    Pin(const Pin&) = delete;
    Pin& operator=(const Pin&) = delete;

   private:
    FrameReader& reader;
    uint32_t outer;
  };

 private:
  // Moves the bytes not yet taken down to the first byte that no pin holds.
  void Compact();

  std::unique_ptr<uint8_t[]> buffer;
  // [start, fill) are not taken yet; [0, pinEnd) hold frames whose delivery is still running.
  uint32_t start = 0;
  uint32_t fill = 0;
  uint32_t pinEnd = 0;
  bool broken = false;
};
