#include "support/code.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

// Enough round constants for the longest expansion: 16-byte key, 32-byte blocks, 15 x 8 words.
constexpr int kRoundConstants = 30;

struct CipherTables {
  std::array<uint8_t, 256> sbox{};
  std::array<std::array<uint32_t, 256>, 4> forward{};        // SubBytes + MixColumns, one per row
  std::array<std::array<uint32_t, 256>, 4> invMixColumns{};  // InvMixColumns, one per row
  std::array<uint8_t, kRoundConstants> roundConstants{};
};

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t Xtime(uint8_t a) { return static_cast<uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0)); }

constexpr uint8_t Multiply(uint8_t a, uint8_t b) {
  uint8_t product = 0;
  for (; b != 0; b >>= 1, a = Xtime(a)) {
    if (b & 1) product ^= a;
  }
  return product;
}

constexpr uint8_t RotateLeft8(uint8_t b, int n) { return static_cast<uint8_t>((b << n) | (b >> (8 - n))); }
constexpr uint32_t RotateRight32(uint32_t w, int n) { return (w >> n) | (w << (32 - n)); }

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return (uint32_t{b0} << 24) | (uint32_t{b1} << 16) | (uint32_t{b2} << 8) | b3;
}

constexpr CipherTables BuildTables() {
  CipherTables t;

  // 3 generates the multiplicative group, so the inverse of 3^i is 3^(255 - i).
  std::array<uint8_t, 255> power{};
  std::array<uint8_t, 256> logarithm{};
  uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = p;
    logarithm[p] = static_cast<uint8_t>(i);
    p = Multiply(p, 3);
  }

  for (int x = 0; x < 256; ++x) {
    const uint8_t inverse = x == 0 ? 0 : power[(255 - logarithm[x]) % 255];
    t.sbox[x] = static_cast<uint8_t>(inverse ^ RotateLeft8(inverse, 1) ^ RotateLeft8(inverse, 2) ^
                                     RotateLeft8(inverse, 3) ^ RotateLeft8(inverse, 4) ^ 0x63);
  }

  for (int x = 0; x < 256; ++x) {
    const uint8_t s = t.sbox[x];
    const uint8_t b = static_cast<uint8_t>(x);
    // Column (2s, s, s, 3s) for a byte in row 0; the other rows are the same column rotated down.
    t.forward[0][x] = Word(Multiply(s, 2), s, s, Multiply(s, 3));
    t.invMixColumns[0][x] = Word(Multiply(b, 0x0E), Multiply(b, 0x09), Multiply(b, 0x0D), Multiply(b, 0x0B));
    for (int row = 1; row < 4; ++row) {
      t.forward[row][x] = RotateRight32(t.forward[0][x], 8 * row);
      t.invMixColumns[row][x] = RotateRight32(t.invMixColumns[0][x], 8 * row);
    }
  }

  uint8_t rc = 1;
  for (int i = 0; i < kRoundConstants; ++i, rc = Xtime(rc)) t.roundConstants[i] = rc;
  return t;
}

constexpr CipherTables kTables = BuildTables();

// ShiftRows moves `row` left by this many columns.
constexpr int ShiftOffset(int columns, int row) {
  constexpr int kWide[4] = {0, 1, 3, 4};
  constexpr int kNarrow[4] = {0, 1, 2, 3};
  return columns == 8 ? kWide[row] : kNarrow[row];
}

constexpr bool IsValidSize(uint32_t bytes) { return bytes == 16 || bytes == 24 || bytes == 32; }

constexpr uint8_t Byte(uint32_t w, int row) { return static_cast<uint8_t>(w >> (24 - 8 * row)); }

constexpr uint32_t SubWord(uint32_t w) {
  return Word(kTables.sbox[Byte(w, 0)], kTables.sbox[Byte(w, 1)], kTables.sbox[Byte(w, 2)], kTables.sbox[Byte(w, 3)]);
}

constexpr uint32_t InvMixColumn(uint32_t w) {
  uint32_t mixed = 0;
  for (int row = 0; row < 4; ++row) mixed ^= kTables.invMixColumns[row][Byte(w, row)];
  return mixed;
}

uint32_t LoadBigEndian(const uint8_t* p) { return Word(p[0], p[1], p[2], p[3]); }

void StoreBigEndian(uint32_t w, uint8_t* p) {
  for (int row = 0; row < 4; ++row) p[row] = Byte(w, row);
}

}  // namespace

int CVRCode::SetKey(const uint8_t* key, const uint8_t* chainBlock, uint32_t keyBytes, uint32_t blockBytes) {
  initialized = 0;
  if (key == nullptr || !IsValidSize(keyBytes) || !IsValidSize(blockBytes)) return 0;

  keyLength = keyBytes;
  blockSize = blockBytes;
  std::memset(chain0, 0, sizeof chain0);
  if (chainBlock != nullptr) std::memcpy(chain0, chainBlock, blockSize);
  std::memcpy(chain, chain0, sizeof chain);

  rounds = static_cast<int32_t>(std::max(keyLength, blockSize) / 4 + 6);
  std::memset(encryptKeys, 0, sizeof encryptKeys);
  std::memset(decryptKeys, 0, sizeof decryptKeys);
  ExpandKey(key);
  BuildDecryptionKeys();
  initialized = 1;
  return 1;
}

// The key schedule as the Rijndael proposal gives it: the key words roll through keyWork, each
// pass producing the next keyLength / 4 words of the schedule.
void CVRCode::ExpandKey(const uint8_t* key) {
  const int keyWords = static_cast<int>(keyLength / 4);
  const int totalWords = (rounds + 1) * static_cast<int>(blockSize / 4);
  for (int i = 0; i < keyWords; ++i) keyWork[i] = LoadBigEndian(key + 4 * i);

  int stored = 0;
  for (int pass = 0;; ++pass) {
    StoreRoundKeyWords(stored, totalWords);
    stored += keyWords;
    if (stored >= totalWords) break;

    const uint32_t last = keyWork[keyWords - 1];
    keyWork[0] ^= SubWord((last << 8) | (last >> 24)) ^ (uint32_t{kTables.roundConstants[pass]} << 24);
    for (int i = 1; i < keyWords; ++i) {
      // Eight-word keys substitute once more halfway through.
      keyWork[i] ^= (keyWords == 8 && i == 4) ? SubWord(keyWork[i - 1]) : keyWork[i - 1];
    }
  }
}

// Copies keyWork into the schedule from word `fromWord` on, stopping at totalWords.
void CVRCode::StoreRoundKeyWords(int fromWord, int totalWords) {
  const int columns = static_cast<int>(blockSize / 4);
  const int keyWords = static_cast<int>(keyLength / 4);
  for (int i = 0; i < keyWords && fromWord + i < totalWords; ++i) {
    const int word = fromWord + i;
    encryptKeys[word / columns][word % columns] = keyWork[i];
    decryptKeys[rounds - word / columns][word % columns] = keyWork[i];
  }
}

void CVRCode::BuildDecryptionKeys() {
  const int columns = static_cast<int>(blockSize / 4);
  for (int r = 1; r < rounds; ++r) {
    for (int c = 0; c < columns; ++c) decryptKeys[r][c] = InvMixColumn(decryptKeys[r][c]);
  }
}

int CVRCode::EncryptBlock(const uint8_t* in, uint8_t* out) {
  if (!initialized || in == nullptr || out == nullptr) return 0;

  const int columns = static_cast<int>(blockSize / 4);
  const int shift1 = ShiftOffset(columns, 1);
  const int shift2 = ShiftOffset(columns, 2);
  const int shift3 = ShiftOffset(columns, 3);
  for (int c = 0; c < columns; ++c) blockWork[c] = LoadBigEndian(in + 4 * c) ^ encryptKeys[0][c];

  uint32_t next[kMaxBlockWords];
  for (int r = 1; r < rounds; ++r) {
    for (int c = 0; c < columns; ++c) {
      next[c] = kTables.forward[0][Byte(blockWork[c], 0)] ^
                kTables.forward[1][Byte(blockWork[(c + shift1) % columns], 1)] ^
                kTables.forward[2][Byte(blockWork[(c + shift2) % columns], 2)] ^
                kTables.forward[3][Byte(blockWork[(c + shift3) % columns], 3)] ^ encryptKeys[r][c];
    }
    std::memcpy(blockWork, next, sizeof(uint32_t) * columns);
  }

  // The last round leaves out MixColumns.
  for (int c = 0; c < columns; ++c) {
    next[c] = Word(kTables.sbox[Byte(blockWork[c], 0)], kTables.sbox[Byte(blockWork[(c + shift1) % columns], 1)],
                   kTables.sbox[Byte(blockWork[(c + shift2) % columns], 2)],
                   kTables.sbox[Byte(blockWork[(c + shift3) % columns], 3)]) ^
              encryptKeys[rounds][c];
  }
  for (int c = 0; c < columns; ++c) StoreBigEndian(next[c], out + 4 * c);
  return 1;
}

std::unique_ptr<uint8_t[]> CVRCode::PadToBlocks(std::string_view text, uint32_t* outLength, uint8_t pad) {
  const size_t blocks = std::max<size_t>(1, (text.size() + kPadBlockBytes - 1) / kPadBlockBytes);
  const size_t length = blocks * kPadBlockBytes;
  auto buffer = std::make_unique<uint8_t[]>(length);
  std::copy(text.begin(), text.end(), buffer.get());
  std::fill(buffer.get() + text.size(), buffer.get() + length, pad);
  if (outLength != nullptr) *outLength = static_cast<uint32_t>(length);
  return buffer;
}
