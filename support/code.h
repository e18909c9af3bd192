#pragma once
// Rijndael block cipher with 16, 24 or 32-byte keys and blocks (with 16-byte blocks, AES). The login
// encrypts one 16-byte block with it; nothing else in the program encrypts.
#include <cstdint>
#include <memory>
#include <string_view>

class CVRCode {
 public:
  static constexpr int kMaxRounds = 14;
  static constexpr int kMaxBlockWords = 8;
  static constexpr uint32_t kMaxBlockBytes = 4 * kMaxBlockWords;
  static constexpr uint32_t kPadBlockBytes = 16;

  // Round r, column c, as a big-endian word (row 0 in the top byte).
  using RoundKeys = uint32_t[kMaxRounds + 1][kMaxBlockWords];

  CVRCode() = default;
  virtual ~CVRCode() = default;

  // Expands `key` (keyBytes long) for blocks of blockBytes and keeps blockBytes of `chainBlock`
  // (a null chain counts as zeros; single-block encryption does not use it). 1 on success; 0 when
  // key is null or a size is not 16, 24 or 32, which leaves the object uninitialized even if it
  // held a key before.
  int SetKey(const uint8_t* key, const uint8_t* chainBlock, uint32_t keyBytes, uint32_t blockBytes);

  // Encrypts one block of the size given to SetKey from `in` into `out` (which may be `in`).
  // 0, with `out` untouched, when no key is set or a pointer is null.
  int EncryptBlock(const uint8_t* in, uint8_t* out);

  // `text` followed by `pad` bytes up to the next multiple of 16 bytes, at least 16; the caller owns
  // the buffer. *outLength receives its size when outLength is not null.
  static std::unique_ptr<uint8_t[]> PadToBlocks(std::string_view text, uint32_t* outLength, uint8_t pad);

  bool IsInitialized() const { return initialized != 0; }
  int Rounds() const { return rounds; }
  const RoundKeys& EncryptionRoundKeys() const { return encryptKeys; }
  // The encryption round keys in reverse round order, with InvMixColumns applied to the inner rounds
  // (the keys of the equivalent inverse cipher).
  const RoundKeys& DecryptionRoundKeys() const { return decryptKeys; }

 private:
  void ExpandKey(const uint8_t* key);
  void StoreRoundKeyWords(int fromWord, int totalWords);
  void BuildDecryptionKeys();

  uint8_t initialized = 0;
  RoundKeys encryptKeys = {};
  RoundKeys decryptKeys = {};
  uint32_t keyLength = 0;
  uint32_t blockSize = 0;
  int32_t rounds = 0;
  uint8_t chain0[kMaxBlockBytes] = {};
  uint8_t chain[kMaxBlockBytes] = {};
  uint32_t keyWork[kMaxBlockWords] = {};
  uint32_t blockWork[kMaxBlockWords] = {};
};
