#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/code.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kVectorCount = 54;

struct KnownAnswer {
  int line;
  uint32_t keyBytes;
  uint32_t blockBytes;
  Bytes key;
  Bytes plain;
  Bytes cipher;
};

// Empty on a malformed string, which the size checks then report.
Bytes FromHex(const std::string& hex) {
  Bytes bytes;
  if (hex.size() % 2 != 0) return {};
  for (size_t i = 0; i < hex.size(); i += 2) {
    char* end = nullptr;
    const std::string pair = hex.substr(i, 2);
    const unsigned long value = std::strtoul(pair.c_str(), &end, 16);
    if (end != pair.c_str() + 2) return {};
    bytes.push_back(static_cast<uint8_t>(value));
  }
  return bytes;
}

std::string ToHex(const Bytes& bytes) {
  std::string hex;
  for (uint8_t b : bytes) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

std::vector<KnownAnswer> LoadKnownAnswers() {
  std::ifstream file(BSPLIFT_TEST_DATA "/rijndael-vectors.txt");
  if (!file) ADD_FAILURE() << "cannot open rijndael-vectors.txt";
  std::vector<KnownAnswer> vectors;
  std::string text;
  for (int line = 1; std::getline(file, text); ++line) {
    if (text.empty() || text[0] == '#') continue;
    std::istringstream fields(text);
    KnownAnswer v{line, 0, 0, {}, {}, {}};
    std::string key, plain, cipher;
    fields >> v.keyBytes >> v.blockBytes >> key >> plain >> cipher;
    v.key = FromHex(key);
    v.plain = FromHex(plain);
    v.cipher = FromHex(cipher);
    if (!fields || v.key.size() != v.keyBytes || v.plain.size() != v.blockBytes || v.cipher.size() != v.blockBytes) {
      ADD_FAILURE() << "malformed vector on line " << line;
      continue;
    }
    vectors.push_back(v);
  }
  return vectors;
}

Bytes Encrypt(CVRCode& code, const Bytes& block) {
  Bytes out(block.size());
  EXPECT_EQ(code.EncryptBlock(block.data(), out.data()), 1);
  return out;
}

Bytes OpenSslAesEcb(const Bytes& key, const Bytes& block) {
  const EVP_CIPHER* cipher = key.size() == 16 ? EVP_aes_128_ecb() : key.size() == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  Bytes out(block.size());
  int written = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), cipher, nullptr, key.data(), nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
      EVP_EncryptUpdate(ctx.get(), out.data(), &written, block.data(), static_cast<int>(block.size())) != 1 ||
      written != static_cast<int>(block.size())) {
    ADD_FAILURE() << "OpenSSL AES-ECB failed";
  }
  return out;
}

Bytes RandomBytes(std::mt19937& rng, size_t size) {
  Bytes bytes(size);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// MixColumns on one column word (row 0 in the top byte), written independently of the cipher's tables.
uint32_t MixColumn(uint32_t column) {
  auto xtime = [](uint32_t b) { return ((b << 1) ^ ((b & 0x80) ? 0x1B : 0)) & 0xFF; };
  uint32_t a[4];
  for (int row = 0; row < 4; ++row) a[row] = (column >> (24 - 8 * row)) & 0xFF;
  uint32_t mixed = 0;
  for (int row = 0; row < 4; ++row) {
    const uint32_t b0 = a[row], b1 = a[(row + 1) % 4], b2 = a[(row + 2) % 4], b3 = a[(row + 3) % 4];
    const uint32_t value = xtime(b0) ^ (xtime(b1) ^ b1) ^ b2 ^ b3;
    mixed |= value << (24 - 8 * row);
  }
  return mixed;
}

const Bytes kFipsKey = FromHex("000102030405060708090a0b0c0d0e0f");
const Bytes kFipsPlain = FromHex("00112233445566778899aabbccddeeff");
const Bytes kFipsCipher = FromHex("69c4e0d86a7b0430d8cdb78070b4c55a");

TEST(CVRCode, EncryptsEveryKnownAnswerVectorForAllKeyAndBlockSizes) {
  const std::vector<KnownAnswer> vectors = LoadKnownAnswers();
  ASSERT_GE(vectors.size(), kVectorCount);
  CVRCode code;
  for (const KnownAnswer& v : vectors) {
    SCOPED_TRACE(testing::Message() << "line " << v.line);
    const Bytes chain(v.blockBytes, 0x3C);
    ASSERT_EQ(code.SetKey(v.key.data(), chain.data(), v.keyBytes, v.blockBytes), 1);
    EXPECT_EQ(ToHex(Encrypt(code, v.plain)), ToHex(v.cipher));
  }
}

TEST(CVRCode, MatchesOpenSslAesOnRandomKeysAndBlocks) {
  constexpr uint32_t kSeed = 20240611;
  constexpr int kBlocksPerKeySize = 300;
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::mt19937 rng(kSeed);
  CVRCode code;
  for (uint32_t keyBytes : {16u, 24u, 32u}) {
    for (int i = 0; i < kBlocksPerKeySize; ++i) {
      const Bytes key = RandomBytes(rng, keyBytes);
      const Bytes block = RandomBytes(rng, 16);
      ASSERT_EQ(code.SetKey(key.data(), nullptr, keyBytes, 16), 1);
      ASSERT_EQ(ToHex(Encrypt(code, block)), ToHex(OpenSslAesEcb(key, block)))
          << "key " << ToHex(key) << " block " << ToHex(block);
    }
  }
}

// Nothing encrypts with the decryption keys yet, so they are checked against their definition:
// reversed round order, and InvMixColumns on every round but the first and the last.
TEST(CVRCode, DecryptionRoundKeysAreTheEncryptionKeysReversedWithInnerRoundsUnmixed) {
  constexpr uint32_t kSeed = 77;
  constexpr int kKeysPerSize = 30;
  SCOPED_TRACE(testing::Message() << "seed " << kSeed);
  std::mt19937 rng(kSeed);
  CVRCode code;
  for (uint32_t keyBytes : {16u, 24u, 32u}) {
    for (uint32_t blockBytes : {16u, 24u, 32u}) {
      for (int i = 0; i < kKeysPerSize; ++i) {
        const Bytes key = RandomBytes(rng, keyBytes);
        ASSERT_EQ(code.SetKey(key.data(), nullptr, keyBytes, blockBytes), 1);
        const int rounds = code.Rounds();
        const auto& enc = code.EncryptionRoundKeys();
        const auto& dec = code.DecryptionRoundKeys();
        for (int r = 0; r <= rounds; ++r) {
          for (uint32_t c = 0; c < blockBytes / 4; ++c) {
            const bool inner = r > 0 && r < rounds;
            ASSERT_EQ(inner ? MixColumn(dec[r][c]) : dec[r][c], enc[rounds - r][c])
                << "key " << ToHex(key) << " block bytes " << blockBytes << " round " << r << " column " << c;
          }
        }
      }
    }
  }
}

TEST(CVRCode, ChainBlockAndInPlaceEncryptionLeaveTheCiphertextAlone) {
  const Bytes ones(16, 0xFF);
  for (const uint8_t* chain : {static_cast<const uint8_t*>(nullptr), ones.data()}) {
    CVRCode code;
    ASSERT_EQ(code.SetKey(kFipsKey.data(), chain, 16, 16), 1);
    Bytes block = kFipsPlain;
    ASSERT_EQ(code.EncryptBlock(block.data(), block.data()), 1);
    EXPECT_EQ(ToHex(block), ToHex(kFipsCipher)) << (chain ? "chain of 0xFF" : "null chain");
  }
}

TEST(CVRCode, EncryptBlockBeforeSetKeyFailsAndWritesNothing) {
  CVRCode code;
  EXPECT_FALSE(code.IsInitialized());
  Bytes out(32, 0xA5);
  EXPECT_EQ(code.EncryptBlock(kFipsPlain.data(), out.data()), 0);
  EXPECT_EQ(out, Bytes(32, 0xA5));
}

TEST(CVRCode, SetKeyRejectsANullKeyOrOddSizesAndLeavesTheObjectUninitialized) {
  struct BadKey {
    const char* what;
    bool nullKey;
    uint32_t keyBytes;
    uint32_t blockBytes;
  };
  const BadKey cases[] = {
      {"null key", true, 16, 16},   {"20-byte key", false, 20, 16},   {"empty key", false, 0, 16},
      {"64-byte key", false, 64, 16}, {"20-byte block", false, 16, 20}, {"8-byte block", false, 16, 8},
      {"empty block", false, 16, 0},
  };
  const Bytes key(64, 0x11);
  for (const BadKey& c : cases) {
    for (bool keyedBefore : {false, true}) {
      SCOPED_TRACE(testing::Message() << c.what << (keyedBefore ? ", after a good key" : ", fresh object"));
      CVRCode code;
      if (keyedBefore) {
        ASSERT_EQ(code.SetKey(kFipsKey.data(), nullptr, 16, 16), 1);
      }
      EXPECT_EQ(code.SetKey(c.nullKey ? nullptr : key.data(), nullptr, c.keyBytes, c.blockBytes), 0);
      EXPECT_FALSE(code.IsInitialized());
      Bytes out(32, 0xA5);
      EXPECT_EQ(code.EncryptBlock(kFipsPlain.data(), out.data()), 0);
      EXPECT_EQ(out, Bytes(32, 0xA5));
    }
  }
}

TEST(CVRCode, PadToBlocksFillsUpToTheNextWholeBlockWithThePadByte) {
  struct PadCase {
    std::string text;
    uint32_t expectedLength;
  };
  const PadCase cases[] = {
      {"", 16},
      {"0123456789abcdef", 16},
      {"0123456789abcdefg", 32},
      {std::string("a\0b", 3), 16},
  };
  constexpr uint8_t kPad = 0xA7;
  for (const PadCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.text.size() << "-byte text");
    uint32_t length = 0;
    const std::unique_ptr<uint8_t[]> padded = CVRCode::PadToBlocks(c.text, &length, kPad);
    ASSERT_EQ(length, c.expectedLength);
    Bytes expected(c.text.begin(), c.text.end());
    expected.resize(c.expectedLength, kPad);
    EXPECT_EQ(Bytes(padded.get(), padded.get() + length), expected);
  }
}

}  // namespace
