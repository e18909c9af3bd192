#include "net/msg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WireOf(CVRMSG& msg) {
  const uint8_t* wire = msg.GetWireBytes();
  return Bytes(wire, wire + msg.GetWireSize());
}

Bytes PayloadOf(const CVRMSG& msg) {
  const uint8_t* payload = msg.GetPayload();
  return payload ? Bytes(payload, payload + msg.GetLength()) : Bytes();
}

// A received wire image in a vector of exactly its size, so that a read past the end of the
// payload is a read past the allocation.
Bytes Frame(uint16_t id, uint16_t code, const Bytes& payload) {
  const uint32_t n = uint32_t(payload.size());
  Bytes wire = {uint8_t(id), uint8_t(id >> 8), uint8_t(code), uint8_t(code >> 8),
                uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
  wire.insert(wire.end(), payload.begin(), payload.end());
  return wire;
}

Bytes Le32(uint32_t value) {
  return {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(CVRMSG, NewRequestHasAnEightByteWireImageInOneCapacityStep) {
  CVRMSG msg(0, 8120, 0);
  EXPECT_EQ(msg.GetCapacity(), 512u);
  EXPECT_EQ(msg.GetWireSize(), 8u);
  EXPECT_EQ(WireOf(msg), (Bytes{0x00, 0x00, 0xB8, 0x1F, 0x00, 0x00, 0x00, 0x00}));
}

TEST(CVRMSG, EachPayloadItemHasItsExactWireImage) {
  const Bytes sixteen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
  const Bytes three = {0xAA, 0xBB, 0xCC};
  struct Case {
    const char* what;
    std::function<int(CVRMSG&)> append;
    Bytes payload;
  };
  const Case cases[] = {
      {"integer", [](CVRMSG& m) { return m.AppendInt(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
      {"5-byte string", [](CVRMSG& m) { return m.AppendString("hello"); },
       {5, 0, 0, 0, 'h', 'e', 'l', 'l', 'o', 0, 0, 0}},
      {"4-byte string", [](CVRMSG& m) { return m.AppendString("abcd"); },
       {4, 0, 0, 0, 'a', 'b', 'c', 'd'}},
      {"empty string", [](CVRMSG& m) { return m.AppendString(""); }, {0, 0, 0, 0}},
      {"16-byte block", [&](CVRMSG& m) { return m.AppendBytes(sixteen.data(), 16); }, sixteen},
      {"3-byte block", [&](CVRMSG& m) { return m.AppendBytes(three.data(), 3); },
       {0xAA, 0xBB, 0xCC, 0x00}},
  };
  for (const Case& c : cases) {
    CVRMSG msg(0, 14030, 0);
    ASSERT_EQ(c.append(msg), 1) << c.what;
    EXPECT_EQ(msg.GetLength(), c.payload.size()) << c.what;
    EXPECT_EQ(WireOf(msg), Frame(0, 14030, c.payload)) << c.what;
  }
}

TEST(CVRMSG, ItemsFollowEachOtherAndSetIdRewritesTheHeader) {
  CVRMSG msg(0, 14032, 0);
  ASSERT_EQ(msg.AppendString("BSP\\a.sh"), 1);
  ASSERT_EQ(msg.AppendInt(70000), 1);
  ASSERT_EQ(msg.AppendInt(70000), 1);
  msg.SetId(0x1234);
  EXPECT_EQ(msg.GetId(), 0x1234);
  EXPECT_EQ(WireOf(msg),
            Frame(0x1234, 14032,
                  Concat({Le32(8), {'B', 'S', 'P', '\\', 'a', '.', 's', 'h'}, Le32(70000), Le32(70000)})));
}

TEST(CVRMSG, InitialLengthIsOnlyAHintThatTheFirstAppendReplaces) {
  CVRMSG msg(0, 5, 12);
  EXPECT_EQ(msg.GetLength(), 12u);
  EXPECT_EQ(PayloadOf(msg), Bytes(12, 0));
  ASSERT_EQ(msg.AppendInt(7), 1);
  EXPECT_EQ(WireOf(msg), Frame(0, 5, Le32(7)));
}

TEST(CVRMSG, InitialLengthOutsideTheLimitGivesAMessageWithoutBuffer) {
  for (int32_t initialLength : {-1, -1000, int32_t(kMaxMessageLength) + 1}) {
    CVRMSG msg(5, 9, initialLength);
    EXPECT_EQ(msg.GetLength(), 0u) << initialLength;
    EXPECT_EQ(msg.GetCapacity(), 0u) << initialLength;
    EXPECT_EQ(msg.GetPayload(), nullptr) << initialLength;
    msg.SetId(6);
    EXPECT_EQ(msg.GetId(), 5) << "SetId needs a buffer";
    EXPECT_EQ(WireOf(msg), (Bytes{5, 0, 9, 0, 0, 0, 0, 0})) << initialLength;
  }
  CVRMSG largest(0, 1, int32_t(kMaxMessageLength));
  EXPECT_EQ(largest.GetLength(), kMaxMessageLength);
  EXPECT_NE(largest.GetPayload(), nullptr);
}

TEST(CVRMSG, ReserveRoundsTheNeedDownToA512MultipleAndAddsOneStep) {
  struct Case {
    uint32_t payloadBytes;
    uint32_t capacity;
  };
  const Case cases[] = {{0, 512}, {503, 512}, {504, 1024}, {1015, 1024}, {1016, 1536}};
  for (const Case& c : cases) {
    CVRMSG msg(0, 1, int32_t(kMaxMessageLength) + 1);  // starts without a buffer
    ASSERT_EQ(msg.Reserve(c.payloadBytes), 1);
    EXPECT_EQ(msg.GetCapacity(), c.capacity) << c.payloadBytes;
  }
}

TEST(CVRMSG, ReserveKeepsABufferThatIsLargeEnoughAndGrowsOneThatIsNot) {
  CVRMSG msg(0, 1, 0);
  ASSERT_EQ(msg.AppendInt(42), 1);
  const uint8_t* before = msg.GetPayload();
  ASSERT_EQ(msg.Reserve(504), 1);
  EXPECT_EQ(msg.GetCapacity(), 512u);
  EXPECT_EQ(msg.GetPayload(), before);
  ASSERT_EQ(msg.Reserve(505), 1);
  EXPECT_EQ(msg.GetCapacity(), 1024u);
  EXPECT_EQ(WireOf(msg), Frame(0, 1, Le32(42))) << "growing keeps header and payload";
}

TEST(CVRMSG, ReserveRefusesSizesWhoseCapacityWouldNotFitInsteadOfWrappingToASmallBuffer) {
  // Sizes at which the need, or its rounding up, used to wrap: Reserve said yes with a buffer of a
  // few bytes.
  const uint64_t sizes[] = {UINT64_MAX, UINT64_MAX - 7, UINT64_MAX - 600, uint64_t(UINT32_MAX) - 8,
                            uint64_t(UINT32_MAX) - 8 - 511};
  for (uint64_t size : sizes) {
    CVRMSG msg(0, 1, 0);
    ASSERT_EQ(msg.AppendInt(7), 1);
    EXPECT_EQ(msg.Reserve(size), 0) << size;
    EXPECT_EQ(msg.GetCapacity(), 512u) << "the old buffer stays";
    EXPECT_EQ(WireOf(msg), Frame(0, 1, Le32(7)));
  }
}

TEST(CVRMSG, AppendingToAMessageWithoutBufferCreatesItsHeader) {
  CVRMSG msg(3, 27, int32_t(kMaxMessageLength) + 1);
  ASSERT_EQ(msg.AppendString("x"), 1);
  EXPECT_EQ(msg.GetCapacity(), 512u);
  EXPECT_EQ(WireOf(msg), Frame(3, 27, {1, 0, 0, 0, 'x', 0, 0, 0}));
}

TEST(CVRMSG, ReadsBackWhatWasAppended) {
  CVRMSG msg(0, 8121, 0);
  const uint8_t block[] = {9, 8, 7};
  ASSERT_EQ(msg.AppendString("MIRU"), 1);
  ASSERT_EQ(msg.AppendInt(-5), 1);
  ASSERT_EQ(msg.AppendBytes(block, 3), 1);
  ASSERT_EQ(msg.AppendString("tail"), 1);

  msg.Rewind();
  int32_t value = 0;
  EXPECT_EQ(msg.ReadString(), "MIRU");
  ASSERT_EQ(msg.ReadInt(&value), 1);
  EXPECT_EQ(value, -5);
  ASSERT_EQ(msg.ReadInt(nullptr), 1) << "skips the padded block";
  EXPECT_EQ(msg.ReadString(), "tail");
  EXPECT_EQ(msg.ReadInt(&value), 0);

  msg.Rewind();
  std::string text;
  ASSERT_EQ(msg.ReadString(text), 0) << "the failed integer read poisons string reads";
}

TEST(CVRMSG, AReadErrorStopsStringReadsButNotIntegerReadsUntilRebuilt) {
  CVRMSG empty(0, 1, 0);
  EXPECT_EQ(empty.ReadInt(nullptr), 0);
  std::string text = "unchanged";
  EXPECT_EQ(empty.ReadString(text), 0);
  EXPECT_EQ(text, "unchanged");

  CVRMSG msg(0, 15, 0);
  ASSERT_EQ(msg.AppendString("challenge"), 1);
  ASSERT_EQ(msg.AppendInt(11), 1);
  msg.Rewind();
  ASSERT_EQ(msg.ReadString(text), 1);
  ASSERT_EQ(msg.ReadInt(nullptr), 1);
  EXPECT_EQ(msg.ReadInt(nullptr), 0);

  msg.Rewind();
  EXPECT_EQ(msg.ReadString(text), 0);
  EXPECT_EQ(msg.ReadString(), "");
  int32_t word = 0;
  ASSERT_EQ(msg.ReadInt(&word), 1);
  EXPECT_EQ(word, 9) << "the string's length word";

  std::unique_ptr<CVRMSG> rebuilt = msg.Clone();
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(rebuilt->ReadString(), "challenge");
}

TEST(CVRMSG, WideStringWithSixBytesReadsThreeCharactersAndSkipsItsPad) {
  const Bytes wire = Frame(7, 15, Concat({Le32(0x80000006u), {'A', 0, 'B', 0, 'C', 0, 0xEE, 0xEE}, Le32(77)}));
  CVRMSG msg(wire.data(), wire.size());
  EXPECT_EQ(msg.ReadString(), "ABC");
  int32_t after = 0;
  ASSERT_EQ(msg.ReadInt(&after), 1);
  EXPECT_EQ(after, 77);
}

TEST(CVRMSG, WideStringsBecomeUtf8WithLoneSurrogatesReplaced) {
  struct Case {
    std::vector<uint16_t> units;
    std::string utf8;
  };
  const Case cases[] = {
      {{0x00E9, 0x20AC}, "\xC3\xA9\xE2\x82\xAC"},
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},            // a pair
      {{0xD800, 'x'}, "\xEF\xBF\xBDx"},                  // high without low
      {{'y', 0xDC00}, "y\xEF\xBF\xBD"},                  // low without high
      {{0xDBFF}, "\xEF\xBF\xBD"},                        // high at the end of the text
      {{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},    // pair in the wrong order
  };
  for (const Case& c : cases) {
    Bytes text;
    for (uint16_t unit : c.units) text.insert(text.end(), {uint8_t(unit), uint8_t(unit >> 8)});
    const uint32_t n = uint32_t(text.size());
    while (text.size() % 4) text.push_back(0);
    const Bytes wire = Frame(0, 15, Concat({Le32(0x80000000u | n), text}));
    CVRMSG msg(wire.data(), wire.size());
    std::string out;
    ASSERT_EQ(msg.ReadString(out), 1);
    EXPECT_EQ(out, c.utf8);
  }
}

TEST(CVRMSG, StringNotWhollyInsideThePayloadFailsWithoutReadingBeyondIt) {
  struct Case {
    const char* what;
    Bytes payload;
  };
  const Case cases[] = {
      {"8-bit text one byte short", Concat({Le32(5), {'a', 'b', 'c', 'd'}})},
      {"8-bit length far beyond", Concat({Le32(0x7FFFFFFFu), {'a', 'b', 'c', 'd'}})},
      {"wide text one unit short", Concat({Le32(0x80000006u), {'a', 0, 'b', 0}})},
      {"length word alone", Le32(1)},
      {"half a length word", {3, 0}},
  };
  for (const Case& c : cases) {
    const Bytes wire = Frame(0, 15, c.payload);
    CVRMSG msg(wire.data(), wire.size());
    std::string out = "unchanged";
    EXPECT_EQ(msg.ReadString(out), 0) << c.what;
    EXPECT_EQ(out, "unchanged") << c.what;
    msg.Rewind();
    EXPECT_EQ(msg.ReadString(out), 0) << c.what << ": the error stays";
  }
}

TEST(CVRMSG, StringEndingExactlyAtThePayloadEndReadsEvenWithoutItsPad) {
  const Bytes wire = Frame(0, 15, Concat({Le32(5), {'h', 'e', 'l', 'l', 'o'}}));
  CVRMSG msg(wire.data(), wire.size());
  EXPECT_EQ(msg.ReadString(), "hello");
  EXPECT_EQ(msg.ReadInt(nullptr), 0);
  EXPECT_EQ(msg.AppendInt(1), 1) << "the cursor stopped at the payload end";
  EXPECT_EQ(msg.GetLength(), 13u);
}

TEST(CVRMSG, WrapsAReceivedWireImageWithoutCopying) {
  const Bytes wire = Frame(0x7FFF, 8121, Concat({Le32(1), Le32(2)}));
  CVRMSG msg(wire.data(), wire.size());
  EXPECT_EQ(msg.GetId(), 0x7FFF);
  EXPECT_EQ(msg.GetCode(), 8121);
  EXPECT_EQ(msg.GetLength(), 8u);
  EXPECT_EQ(msg.GetCapacity(), 16u);
  EXPECT_EQ(msg.GetPayload(), wire.data() + 8);
  EXPECT_EQ(msg.GetWireBytes(), wire.data());
}

TEST(CVRMSG, WrappingTakesOnlyTheFirstFrameOfLongerInput) {
  Bytes stream = Concat({Frame(1, 2, Le32(3)), Frame(4, 5, {})});
  CVRMSG msg(stream.data(), stream.size());
  EXPECT_EQ(msg.GetWireSize(), 12u);
  EXPECT_EQ(WireOf(msg), Frame(1, 2, Le32(3)));
}

TEST(CVRMSG, BadOrIncompleteHeadersWrapAsTheEmptyMessage) {
  struct Case {
    const char* what;
    Bytes wire;
  };
  const Case cases[] = {
      {"no bytes", {}},
      {"seven bytes", {1, 0, 2, 0, 0, 0, 0}},
      {"length above the limit", Concat({{1, 0, 2, 0}, Le32(kMaxMessageLength + 1)})},
      {"negative length", Concat({{1, 0, 2, 0}, Le32(0xFFFFFFFFu)})},
      {"length beyond the bytes given", Concat({{1, 0, 2, 0}, Le32(8), Le32(0)})},
  };
  for (const Case& c : cases) {
    CVRMSG msg(c.wire.data(), c.wire.size());
    EXPECT_EQ(msg.GetId(), -1) << c.what;
    EXPECT_EQ(msg.GetCode(), -1) << c.what;
    EXPECT_EQ(msg.GetLength(), 0u) << c.what;
    EXPECT_EQ(msg.GetPayload(), nullptr) << c.what;
    EXPECT_EQ(msg.ReadInt(nullptr), 0) << c.what;
    EXPECT_EQ(WireOf(msg), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0})) << c.what;
  }
  CVRMSG none(nullptr, 100);
  EXPECT_EQ(none.GetCode(), -1);
}

TEST(CVRMSG, WrapsTheLargestPayload) {
  const Bytes wire = Frame(1, 2, Bytes(kMaxMessageLength, 0x5A));
  CVRMSG msg(wire.data(), wire.size());
  EXPECT_EQ(msg.GetLength(), kMaxMessageLength);
  EXPECT_EQ(msg.GetCode(), 2);
}

TEST(CVRMSG, ChangingAWrappedMessageLeavesTheReceivedBytesAlone) {
  const Bytes wire = Frame(3, 8377, Concat({Le32(1), Le32(2)}));
  const Bytes received = wire;

  CVRMSG renamed(wire.data(), wire.size());
  renamed.SetId(9);
  EXPECT_EQ(WireOf(renamed), Frame(9, 8377, Concat({Le32(1), Le32(2)})));
  EXPECT_EQ(wire, received);

  CVRMSG rewritten(wire.data(), wire.size());
  ASSERT_EQ(rewritten.ReadInt(nullptr), 1);
  ASSERT_EQ(rewritten.AppendInt(7), 1);
  EXPECT_EQ(WireOf(rewritten), Frame(3, 8377, Concat({Le32(1), Le32(7)})));
  EXPECT_EQ(wire, received);
}

TEST(CVRMSG, IsSameComparesCodeAndPayloadButNotTheId) {
  auto build = [](int16_t id, int16_t code, std::initializer_list<int32_t> values) {
    auto msg = std::make_unique<CVRMSG>(id, code, 0);
    for (int32_t value : values) msg->AppendInt(value);
    return msg;
  };
  const auto reference = build(1, 100, {5, 6});
  EXPECT_TRUE(reference->IsSame(*build(2, 100, {5, 6})));
  EXPECT_FALSE(reference->IsSame(*build(1, 101, {5, 6})));
  EXPECT_FALSE(reference->IsSame(*build(1, 100, {5, 7})));
  EXPECT_FALSE(reference->IsSame(*build(1, 100, {5})));
  EXPECT_TRUE(build(1, 100, {})->IsSame(*build(3, 100, {})));

  const Bytes wire = Frame(0x7FFF, 100, Concat({Le32(5), Le32(6)}));
  EXPECT_TRUE(reference->IsSame(CVRMSG(wire.data(), wire.size())));
}

TEST(CVRMSG, CloneOwnsACopyOfTheWholeWireImage) {
  Bytes wire = Frame(4, 14031, Concat({Le32(123), Le32(456)}));
  CVRMSG wrapped(wire.data(), wire.size());
  ASSERT_EQ(wrapped.ReadInt(nullptr), 1);
  std::unique_ptr<CVRMSG> clone = wrapped.Clone();
  ASSERT_NE(clone, nullptr);
  const Bytes original = wire;
  std::fill(wire.begin(), wire.end(), 0xCC);  // the receive buffer moves on

  EXPECT_EQ(WireOf(*clone), original);
  EXPECT_EQ(clone->GetId(), 4);
  int32_t first = 0;
  ASSERT_EQ(clone->ReadInt(&first), 1) << "a clone reads from the start";
  EXPECT_EQ(first, 123);

  CVRMSG built(1, 2, 0);
  ASSERT_EQ(built.AppendInt(1), 1);
  std::unique_ptr<CVRMSG> copy = built.Clone();
  ASSERT_EQ(built.AppendInt(3), 1);
  copy->SetId(9);
  EXPECT_EQ(WireOf(built), Frame(1, 2, Concat({Le32(1), Le32(3)})));
  EXPECT_EQ(WireOf(*copy), Frame(9, 2, Le32(1)));
}

TEST(CVRMSG, CloneCopiesAPayloadGrownPastTheConstructorLimit) {
  CVRMSG big(0, 14000, 0);
  const Bytes block(kMaxMessageLength, 0x33);
  ASSERT_EQ(big.AppendInt(int32_t(block.size())), 1);
  ASSERT_EQ(big.AppendBytes(block.data(), uint32_t(block.size())), 1);
  std::unique_ptr<CVRMSG> clone = big.Clone();
  ASSERT_NE(clone, nullptr);
  EXPECT_EQ(clone->GetLength(), kMaxMessageLength + 4);
  EXPECT_TRUE(clone->IsSame(big));
}

}  // namespace
