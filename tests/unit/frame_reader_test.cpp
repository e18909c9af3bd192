// The frame reader on exact bytes: where frames end, what breaks a stream for good, and that a
// frame in delivery keeps its bytes while more arrive.
#include "net/frame_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Header(int16_t id, int16_t code, int32_t length) {
  uint32_t n = uint32_t(length);
  return {uint8_t(id), uint8_t(uint16_t(id) >> 8), uint8_t(code), uint8_t(uint16_t(code) >> 8),
          uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
}

std::vector<uint8_t> Frame(int16_t id, int16_t code, const std::string& payload) {
  std::vector<uint8_t> bytes = Header(id, code, int32_t(payload.size()));
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

void FeedAll(FrameReader& reader, const std::vector<uint8_t>& bytes) {
  ASSERT_EQ(reader.Feed(bytes.data(), uint32_t(bytes.size())), bytes.size());
}

// What Next gives, one letter a call: M(id) for a message, I incomplete, B broken.
std::string Drain(FrameReader& reader) {
  std::string seen;
  for (;;) {
    const uint8_t* frame = nullptr;
    uint32_t total = 0;
    FrameReader::Result result = reader.Next(&frame, &total);
    if (result == FrameReader::Result::Incomplete) return seen + "I";
    if (result == FrameReader::Result::Broken) return seen + "B";
    seen += "M" + std::to_string(DecodeFrameHeader(frame).id);
  }
}

}  // namespace

TEST(FrameReader, DecodesTheHeaderLittleEndianWhateverTheHost) {
  const uint8_t bytes[8] = {0xFF, 0x7F, 0x33, 0x1F, 0x04, 0x03, 0x02, 0x81};
  FrameHeader header = DecodeFrameHeader(bytes);
  EXPECT_EQ(header.id, 0x7FFF);
  EXPECT_EQ(header.code, 0x1F33);
  EXPECT_EQ(uint32_t(header.length), 0x81020304u);
}

TEST(FrameReader, FindsFrameEndsInStreamsCutAnywhere) {
  std::vector<uint8_t> stream = Frame(1, 15, "abcd");
  std::vector<uint8_t> second = Frame(2, 28, "");
  stream.insert(stream.end(), second.begin(), second.end());
  std::vector<uint8_t> third = Frame(3, 8121, std::string(40, 'x'));
  stream.insert(stream.end(), third.begin(), third.end());

  // Every single cut point, and the whole stream in one feed: the same frames come out in order.
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    FrameReader reader;
    std::string seen;
    FeedAll(reader, {stream.begin(), stream.begin() + long(cut)});
    seen += Drain(reader);
    FeedAll(reader, {stream.begin() + long(cut), stream.end()});
    seen += Drain(reader);
    std::string merged;
    for (char c : seen) {
      if (c != 'I') merged += c;
    }
    EXPECT_EQ(merged, "M1M2M3") << "cut at " << cut;
    EXPECT_EQ(reader.Held(), 0u);
  }
}

TEST(FrameReader, AcceptsFramesUpToTheLimitAndBreaksForGoodBeyondIt) {
  struct Case {
    int32_t length;
    const char* expected;
  };
  const Case cases[] = {
      {0, "M5I"},
      {int32_t(kMaxFrameBytes - kFrameHeaderBytes), "I"},  // whole only once its payload is in
      {int32_t(kMaxFrameBytes - kFrameHeaderBytes + 1), "B"},
      {-1, "B"},
      {INT32_MIN, "B"},
  };
  for (const Case& c : cases) {
    FrameReader reader;
    FeedAll(reader, Header(5, 1, c.length));
    EXPECT_EQ(Drain(reader), c.expected) << "length " << c.length;
  }

  FrameReader full;
  FeedAll(full, Header(5, 1, int32_t(kMaxFrameBytes - kFrameHeaderBytes)));
  std::vector<uint8_t> payload(kMaxFrameBytes - kFrameHeaderBytes, 0xAB);
  FeedAll(full, payload);
  EXPECT_EQ(Drain(full), "M5I");
}

TEST(FrameReader, ABrokenStreamTakesNothingMoreUntilRestarted) {
  FrameReader reader;
  FeedAll(reader, Header(1, 1, -8));
  EXPECT_EQ(Drain(reader), "B");
  std::vector<uint8_t> good = Frame(2, 2, "ok");
  EXPECT_EQ(reader.Feed(good.data(), uint32_t(good.size())), 0u);
  uint32_t room = 1;
  reader.Space(&room);
  EXPECT_EQ(room, 0u);
  EXPECT_EQ(Drain(reader), "B");

  reader.Restart();
  FeedAll(reader, good);
  EXPECT_EQ(Drain(reader), "M2I");
}

TEST(FrameReader, APinnedFrameKeepsItsBytesWhileMoreArrive) {
  FrameReader reader;
  FeedAll(reader, Frame(1, 1, "first frame"));
  FeedAll(reader, Header(2, 2, 8));  // the next frame, cut after its header

  const uint8_t* frame = nullptr;
  uint32_t total = 0;
  ASSERT_EQ(reader.Next(&frame, &total), FrameReader::Result::Message);
  std::vector<uint8_t> before(frame, frame + total);
  {
    FrameReader::Pin pin(reader);
    // A sink that services the session from inside its delivery: more bytes come in and the
    // next frame is taken while the first is still being read.
    FeedAll(reader, {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'});
    EXPECT_EQ(Drain(reader), "M2I");
    EXPECT_EQ(std::vector<uint8_t>(frame, frame + total), before);
  }
  // The pin gone, the space behind it is used again: a full buffer's worth fits.
  uint32_t room = 0;
  reader.Space(&room);
  EXPECT_EQ(room, kMaxFrameBytes);
}

TEST(FrameReader, FramesInDeliveryCanFillTheBuffer) {
  FrameReader reader;
  std::vector<uint8_t> big = Header(1, 1, int32_t(kMaxFrameBytes - kFrameHeaderBytes));
  big.resize(kMaxFrameBytes, 0x11);
  FeedAll(reader, big);
  const uint8_t* frame = nullptr;
  uint32_t total = 0;
  ASSERT_EQ(reader.Next(&frame, &total), FrameReader::Result::Message);
  FrameReader::Pin pin(reader);
  uint32_t room = 1;
  reader.Space(&room);
  EXPECT_EQ(room, 0u);
  const uint8_t more[4] = {1, 2, 3, 4};
  EXPECT_EQ(reader.Feed(more, 4), 0u);
  EXPECT_EQ(frame[kMaxFrameBytes - 1], 0x11);
}
