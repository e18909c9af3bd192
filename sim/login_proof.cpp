#include "sim/login_proof.h"

#include <openssl/evp.h>

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

}  // namespace sim
