#include "sim/login_proof.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <memory>

namespace sim {
namespace {

Proof FirstBlock(const std::string& text) {
  Proof block{};
  std::copy_n(text.begin(), std::min(text.size(), block.size()), block.begin());
  return block;
}

}  // namespace

#ifdef _WIN32
// The system's own AES (CNG), so that the simulator checks the client's cipher against another
// implementation on Windows too.
int ExpectedProof(const std::string& challenge, const std::string& passPhrase, Proof* out) {
  Proof key = FirstBlock(passPhrase);
  Proof block = FirstBlock(challenge);
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_AES_ALGORITHM, nullptr, 0))) return 0;
  int ok = 0;
  BCRYPT_KEY_HANDLE handle = nullptr;
  ULONG written = 0;
  if (BCRYPT_SUCCESS(BCryptSetProperty(algorithm, BCRYPT_CHAINING_MODE, (PUCHAR)BCRYPT_CHAIN_MODE_ECB,
                                       sizeof(BCRYPT_CHAIN_MODE_ECB), 0)) &&
      BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(algorithm, &handle, nullptr, 0, key.data(), ULONG(key.size()), 0))) {
    ok = BCRYPT_SUCCESS(BCryptEncrypt(handle, block.data(), ULONG(block.size()), nullptr, nullptr, 0, out->data(),
                                      ULONG(out->size()), &written, 0)) &&
         written == out->size();
    BCryptDestroyKey(handle);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}
#else
int ExpectedProof(const std::string& challenge, const std::string& passPhrase, Proof* out) {
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  if (!context) return 0;
  Proof key = FirstBlock(passPhrase);
  Proof block = FirstBlock(challenge);
  int written = 0;
  if (EVP_EncryptInit_ex(context.get(), EVP_aes_128_ecb(), nullptr, key.data(), nullptr) != 1 ||
      EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
      EVP_EncryptUpdate(context.get(), out->data(), &written, block.data(), int(block.size())) != 1 ||
      written != int(out->size())) {
    return 0;
  }
  return 1;
}
#endif

}  // namespace sim
