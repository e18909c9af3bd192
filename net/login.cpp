// Connect and login of the server session: the challenge, its encryption, and request 27.
#include <cstring>

#include "net/query.h"
#include "net/server.h"
#include "support/code.h"

namespace {

// Handed to the cipher as its chaining block; single-block encryption does not use it.
constexpr uint8_t kChainBlock[16] = {0x56, 0x52, 0x43, 0x4F, 0x44, 0x45, 0x00, 0x01,
                                     0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
constexpr uint32_t kProofBytes = 16;
constexpr int32_t kLoginMagic = 813;
constexpr int32_t kLoginVersion = 2;
constexpr int32_t kLoginHintBytes = 256;

int32_t ClientKind(int32_t systemType) { return systemType == 9 ? 19 : 3; }

}  // namespace

int CVRServer::Connect(platform::Endpoint address) {
  rx.Restart();
  connectFailure = ConnectFailure::Connection;
  if (connection->ConnectDirect(address) != 0) return 0;
  if (!Login()) {
    connectFailure = ConnectFailure::Login;
    connection->Close();
    return 0;
  }
  connectFailure = ConnectFailure::None;
  return 1;
}

int CVRServer::Login() {
  CVRQuery challengeQuery;
  CVRMSG challengeRequest(0, kCodeGetChallenge, 0);
  CVRMSG* answer = nullptr;
  if (!challengeQuery.Ask(&answer, &challengeRequest)) return 0;
  std::string challenge = answer->ReadString();  // empty when unreadable: the login goes on

  // The key lives only for this call: made from the pass phrase, never stored.
  std::unique_ptr<uint8_t[]> key = CVRCode::PadToBlocks(passPhrase, nullptr, 0);
  std::unique_ptr<uint8_t[]> block = CVRCode::PadToBlocks(challenge, nullptr, 0);
  CVRCode cipher;
  uint8_t proof[kProofBytes] = {};
  if (!cipher.SetKey(key.get(), kChainBlock, 16, 16) || !cipher.EncryptBlock(block.get(), proof)) return 0;

  CVRMSG login(0, kCodeLogin, kLoginHintBytes);
  int built = login.AppendInt(kLoginMagic) && login.AppendInt(ClientKind(systemType)) &&
              login.AppendString("VRSTART") && login.AppendInt(int32_t(kProofBytes)) &&
              login.AppendBytes(proof, kProofBytes) && login.AppendInt(kLoginVersion);
  for (int i = 0; built && i < 4; ++i) built = login.AppendString("");
  if (!built) return 0;

  CVRQuery loginQuery;
  loginQuery.SetTimeout(kLoginTimeoutMs);
  return loginQuery.Ask(nullptr, &login);
}
