// A received wire image wrapped as a message, as the session hands each frame to its sinks, and
// then worked on in an order the input chooses: integers and strings read, rewinds, appends that
// must first copy the received bytes, clones, size reservations. A model of the message, built from
// the header's contract alone (what the wire image says, where the cursor is, whether a string
// read has failed), predicts every result.
//
// Input: one byte k, k bytes of operations and their arguments, then the wire image. The image is
// wrapped where it lies, at the very end of the fuzzer's buffer, so that any read past it is a read
// past the allocation; and it is compared with a copy at the end, since a wrap never writes.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "net/msg.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fuzz::ByteSource;

constexpr uint32_t kHeaderBytes = 8;
constexpr uint32_t kUtf16Flag = 0x80000000u;

// What the message must look like, from the contract.
struct Model {
  bool hasBuffer = false;
  int16_t id = -1;
  int16_t code = -1;
  Bytes payload;
  uint32_t cursor = 0;
  // Where a failed string read leaves the cursor is not part of the contract: until the next
  // Rewind, reads are only required not to crash.
  bool cursorKnown = true;
  bool readError = false;

  uint32_t Remaining() const { return uint32_t(payload.size()) - cursor; }
};

Model ModelOfWire(const uint8_t* wire, size_t available) {
  Model m;
  if (available < kHeaderBytes) return m;
  const int32_t n = int32_t(fuzz::Le32(wire + 4));
  if (n < 0 || uint32_t(n) > kMaxMessageLength || uint32_t(n) > available - kHeaderBytes) return m;
  m.hasBuffer = true;
  m.id = int16_t(uint16_t(wire[0] | wire[1] << 8));
  m.code = int16_t(uint16_t(wire[2] | wire[3] << 8));
  m.payload.assign(wire + kHeaderBytes, wire + kHeaderBytes + n);
  return m;
}

// Compares without building the expected image: payloads of a megabyte are common here.
void CheckMatches(CVRMSG& msg, const Model& m, bool hasBuffer) {
  FUZZ_CHECK(msg.GetId() == m.id);
  FUZZ_CHECK(msg.GetCode() == m.code);
  FUZZ_CHECK(msg.GetLength() == m.payload.size());
  FUZZ_CHECK(msg.GetWireSize() == m.payload.size() + kHeaderBytes);
  FUZZ_CHECK((msg.GetPayload() != nullptr) == hasBuffer);
  FUZZ_CHECK(hasBuffer ? msg.GetCapacity() >= msg.GetWireSize() : msg.GetCapacity() == 0);
  const uint8_t* wire = msg.GetWireBytes();
  FUZZ_CHECK(wire != nullptr);
  FUZZ_CHECK(int16_t(uint16_t(wire[0] | wire[1] << 8)) == m.id);
  FUZZ_CHECK(int16_t(uint16_t(wire[2] | wire[3] << 8)) == m.code);
  FUZZ_CHECK(fuzz::Le32(wire + 4) == m.payload.size());
  FUZZ_CHECK(m.payload.empty() || std::memcmp(wire + kHeaderBytes, m.payload.data(), m.payload.size()) == 0);
}

void CheckMatches(CVRMSG& msg, const Model& m) { CheckMatches(msg, m, m.hasBuffer); }

// Well-formed UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF); counts code points.
bool IsUtf8(const std::string& text, size_t* codePoints) {
  *codePoints = 0;
  for (size_t i = 0; i < text.size(); ++(*codePoints)) {
    const uint8_t lead = uint8_t(text[i]);
    size_t extra = 0;
    uint32_t value = 0;
    if (lead < 0x80) {
      value = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= text.size() && extra > 0) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t next = uint8_t(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = value << 6 | (next & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

void CheckReadInt(CVRMSG& msg, Model& m, bool keepValue) {
  int32_t value = 0;
  const int ok = msg.ReadInt(keepValue ? &value : nullptr);
  if (!m.cursorKnown) {
    if (!ok) m.readError = true;
    return;
  }
  FUZZ_CHECK(ok == (m.Remaining() >= 4 ? 1 : 0));
  if (!ok) {
    m.readError = true;
    return;
  }
  if (keepValue) FUZZ_CHECK(uint32_t(value) == fuzz::Le32(m.payload.data() + m.cursor));
  m.cursor += 4;
}

void CheckReadString(CVRMSG& msg, Model& m, bool intoOut) {
  const std::string untouched = "\x01untouched";
  std::string text = untouched;
  int ok = 0;
  if (intoOut) {
    ok = msg.ReadString(text);
  } else {
    text = msg.ReadString();
    // The value form cannot tell an empty string from a failure; the next checks can.
    ok = -1;
  }
  if (m.readError) {
    FUZZ_CHECK(ok != 1);
    FUZZ_CHECK(intoOut ? text == untouched : text.empty());
    return;
  }
  if (!m.cursorKnown) {
    if (ok == 0) m.readError = true;
    return;
  }
  const bool fits = m.Remaining() >= 4 &&
                    (fuzz::Le32(m.payload.data() + m.cursor) & ~kUtf16Flag) <= m.Remaining() - 4;
  if (!fits) {
    FUZZ_CHECK(ok != 1);
    FUZZ_CHECK(intoOut ? text == untouched : text.empty());
    m.readError = true;
    m.cursorKnown = false;
    return;
  }
  FUZZ_CHECK(ok != 0);
  const uint32_t word = fuzz::Le32(m.payload.data() + m.cursor);
  const uint32_t n = word & ~kUtf16Flag;
  const uint8_t* bytes = m.payload.data() + m.cursor + 4;
  if (word & kUtf16Flag) {
    const uint32_t units = n / 2;
    size_t codePoints = 0;
    FUZZ_CHECK(IsUtf8(text, &codePoints));
    // A surrogate pair makes one code point, anything else one each.
    FUZZ_CHECK(codePoints <= units && codePoints * 2 >= units);
    bool ascii = true;
    std::string narrow;
    for (uint32_t i = 0; i < units; ++i) {
      ascii = ascii && bytes[2 * i] < 0x80 && bytes[2 * i + 1] == 0;
      narrow += char(bytes[2 * i]);
    }
    if (ascii) FUZZ_CHECK(text == narrow);
  } else {
    FUZZ_CHECK(text == std::string(reinterpret_cast<const char*>(bytes), n));
  }
  // The pad of the payload's last item may be missing; the cursor then stops at the end.
  const uint32_t padded = (n + 3) & ~3u;
  m.cursor += 4 + std::min(padded, m.Remaining() - 4);
}

// Everything after a successful append, in the model: the payload ends at the cursor, then the item.
void ModelAppend(Model& m, const Bytes& item) {
  m.payload.resize(m.cursor);
  m.payload.insert(m.payload.end(), item.begin(), item.end());
  m.cursor = uint32_t(m.payload.size());
  m.hasBuffer = true;
}

Bytes Padded(Bytes bytes) {
  bytes.resize((bytes.size() + 3) & ~size_t(3), 0);
  return bytes;
}

// Appends write at the cursor, which a failed string read leaves undefined: rewind first there.
void KnowCursor(CVRMSG& msg, Model& m) {
  if (m.cursorKnown) return;
  msg.Rewind();
  m.cursor = 0;
  m.cursorKnown = true;
}

void CheckReserve(CVRMSG& msg, Model& m, uint64_t n) {
  const uint32_t capacityBefore = msg.GetCapacity();
  // Exact, even where n + 8 does not fit in 64 bits.
  const bool fitsAlready = n <= UINT64_MAX - kHeaderBytes && n + kHeaderBytes <= capacityBefore;
  const bool canGrow = n <= uint64_t(UINT32_MAX) - kHeaderBytes &&
                       (n + kHeaderBytes) / 512 * 512 + 512 <= uint64_t(UINT32_MAX);
  const int ok = msg.Reserve(n);
  FUZZ_CHECK(ok == ((fitsAlready || canGrow) ? 1 : 0));
  if (ok) {
    FUZZ_CHECK(uint64_t(msg.GetCapacity()) >= n + kHeaderBytes);
    m.hasBuffer = true;
  } else {
    FUZZ_CHECK(msg.GetCapacity() == capacityBefore);
  }
}

enum Op : uint8_t {
  kReadInt,
  kSkipInt,
  kReadStringInto,
  kReadStringValue,
  kRewind,
  kSetId,
  kAppendInt,
  kAppendBytes,
  kAppendString,
  kReserve,
  kClone,
  kCompareWithReceived,
  kNewOwned,
  kCheck,
  kOpCount
};

// Sizes around the limits and steps, and past what 32 and 64 bits hold. None of them asks for
// gigabytes: such a request must fail before allocating.
constexpr uint64_t kReserveSizes[] = {0,
                                      1,
                                      7,
                                      8,
                                      503,
                                      504,
                                      505,
                                      4096,
                                      kMaxMessageLength,
                                      kMaxMessageLength + 1,
                                      0xFFFFFDF8u,
                                      0xFFFFFFF8u,
                                      0xFFFFFFFFu,
                                      uint64_t{1} << 40,
                                      UINT64_MAX - 8,
                                      UINT64_MAX - 7,
                                      UINT64_MAX};

constexpr int64_t kInitialLengths[] = {-1, 0, 1, 3, 4, 100, kMaxMessageLength, kMaxMessageLength + 1, INT32_MIN,
                                       INT32_MAX};

// Operations that copy or allocate a megabyte cost the sanitizer milliseconds each (fresh memory,
// page by page). An input gets a few of them, enough to meet every limit, so that the time goes to
// variety rather than to copying.
constexpr int kBigOperations = 1;
constexpr uint64_t kBigBytes = 64 * 1024;

// Most choices are small sizes; the top of the byte's range picks an edge of the table. Megabyte
// buffers cost the sanitizer far more than the rest of an input, so they come up now and then.
template <typename T, size_t N>
T Pick(uint8_t choice, const T (&edges)[N]) {
  constexpr uint8_t kFirstEdge = 256 - N;
  return choice < kFirstEdge ? T(choice % 64) : edges[choice - kFirstEdge];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t opBytes = std::min<size_t>(data[0], size - 1);
  ByteSource ops(data + 1, opBytes);
  const uint8_t* wire = data + 1 + opBytes;
  const size_t available = size - 1 - opBytes;
  const Bytes received(wire, wire + available);

  const Model asReceived = ModelOfWire(wire, available);
  Model m = asReceived;
  auto msg = std::make_unique<CVRMSG>(wire, available);
  CheckMatches(*msg, m);

  // Whether an operation that copies or allocates `bytes` runs: every small one does, and the first
  // few big ones of an input.
  int bigLeft = kBigOperations;
  auto runs = [&bigLeft](uint64_t bytes) { return bytes < kBigBytes || bigLeft-- > 0; };

  while (!ops.Empty()) {
    switch (ops.Byte() % kOpCount) {
      case kReadInt:
        CheckReadInt(*msg, m, true);
        break;
      case kSkipInt:
        CheckReadInt(*msg, m, false);
        break;
      case kReadStringInto:
        CheckReadString(*msg, m, true);
        break;
      case kReadStringValue:
        CheckReadString(*msg, m, false);
        break;
      case kRewind:
        msg->Rewind();
        m.cursor = 0;
        m.cursorKnown = true;
        break;
      case kSetId: {
        const int16_t id = int16_t(ops.Word());
        if (!runs(msg->GetCapacity())) break;
        msg->SetId(id);
        if (m.hasBuffer) m.id = id;
        break;
      }
      case kAppendInt: {
        KnowCursor(*msg, m);
        const uint32_t value = ops.Dword();
        if (!runs(msg->GetCapacity())) break;
        FUZZ_CHECK(msg->AppendInt(int32_t(value)) == 1);
        Bytes item;
        fuzz::PutLe32(&item, value);
        ModelAppend(m, item);
        break;
      }
      case kAppendBytes: {
        KnowCursor(*msg, m);
        const Bytes bytes = ops.Bytes(ops.Byte());
        if (!runs(msg->GetCapacity())) break;
        FUZZ_CHECK(msg->AppendBytes(bytes.data(), uint32_t(bytes.size())) == 1);
        ModelAppend(m, Padded(bytes));
        break;
      }
      case kAppendString: {
        KnowCursor(*msg, m);
        const std::string text = ops.CountedText();
        if (!runs(msg->GetCapacity())) break;
        FUZZ_CHECK(msg->AppendString(text) == 1);
        Bytes item;
        fuzz::PutLe32(&item, uint32_t(text.size()));
        item.insert(item.end(), text.begin(), text.end());
        ModelAppend(m, Padded(item));
        break;
      }
      case kReserve: {
        const uint64_t n = Pick(ops.Byte(), kReserveSizes);
        // Sizes past 32 bits must fail before allocating anything.
        if (!runs(std::max<uint64_t>(msg->GetCapacity(), n > UINT32_MAX ? 0 : n))) break;
        CheckReserve(*msg, m, n);
        break;
      }
      case kClone: {
        const bool switchToCopy = ops.Flag();
        if (!runs(msg->GetCapacity())) break;
        std::unique_ptr<CVRMSG> copy = msg->Clone();
        FUZZ_CHECK(copy != nullptr);
        // A clone always has a buffer, and reads from its start without an error.
        CheckMatches(*copy, m, true);
        FUZZ_CHECK(copy->IsSame(*msg) && msg->IsSame(*copy));
        if (switchToCopy) {
          msg = std::move(copy);
          m.hasBuffer = true;
          m.cursor = 0;
          m.cursorKnown = true;
          m.readError = false;
        }
        break;
      }
      case kCompareWithReceived: {
        CVRMSG again(received.data(), received.size());
        const bool same = m.code == asReceived.code && m.payload == asReceived.payload;
        FUZZ_CHECK(msg->IsSame(again) == same && again.IsSame(*msg) == same);
        break;
      }
      case kNewOwned: {
        const int16_t id = int16_t(ops.Word());
        const int16_t code = int16_t(ops.Word());
        const int64_t initial = Pick(ops.Byte(), kInitialLengths);
        if (!runs(initial >= 0 && initial <= int64_t(kMaxMessageLength) ? uint64_t(initial) : 0)) break;
        msg = std::make_unique<CVRMSG>(id, code, int32_t(initial));
        m = Model{};
        m.id = id;
        m.code = code;
        if (initial >= 0 && initial <= int64_t(kMaxMessageLength)) {
          m.hasBuffer = true;
          m.payload.assign(size_t(initial), 0);
        }
        break;
      }
      case kCheck:
        CheckMatches(*msg, m);
        break;
    }
  }
  CheckMatches(*msg, m);
  FUZZ_CHECK(std::equal(received.begin(), received.end(), wire));
  return 0;
}
