#include "discovery/ping_socket.h"

#include <cstring>

#include "discovery/discovery_answer.h"
#include "discovery/local_address.h"

CPingSocket::CPingSocket(uint32_t localAddress) : socket(platform::OpenUdp()), localAddress(localAddress) {
  if (!IsValid()) return;
  if (platform::Bind(socket, platform::Endpoint{localAddress, kDiscoveryPort}) != 0) {
    bindError = platform::LastSocketError();
  }
  if (platform::SetBroadcast(socket, true) != 0) {
    platform::Close(socket);
    socket = platform::kInvalidSocket;
    return;
  }
  // What the system will not grant only costs answers at very large sites.
  platform::SetReceiveBuffer(socket, kDiscoveryReceiveBufferBytes);
}

CPingSocket::~CPingSocket() {
  if (IsValid()) platform::Close(socket);
}

int CPingSocket::SendProbe() {
  if (!IsValid()) return 0;
  platform::Endpoint everyone{platform::kBroadcastAddress, kDiscoveryPort};
  return platform::SendTo(socket, kSystemProbe, kProbeBytes, everyone) == kProbeBytes ? 1 : 0;
}

int CPingSocket::ReceiveAnswer(uint8_t* answer, platform::Endpoint* sender) {
  if (!IsValid()) return 0;
  uint32_t pending = 0;
  if (platform::PendingBytes(socket, &pending) != 0) return 0;
  // An empty datagram also reports 0 pending bytes; left unread it would hold back every answer
  // queued behind it, so a socket that is readable with nothing pending is read all the same.
  if (pending == 0 && platform::WaitReadable(socket, 0) != 1) return 0;
  uint8_t datagram[kMaxDatagramReadBytes];
  platform::Endpoint from;
  int size = platform::RecvFrom(socket, datagram, kMaxDatagramReadBytes, &from);
  if (size < 0) return 0;
  if (size != kAnswerBytes) return 1;
  std::memcpy(answer, datagram, kAnswerBytes);
  *sender = from;
  return 2;
}

std::vector<std::unique_ptr<CPingSocket>> OpenDiscoverySockets() {
  std::vector<std::unique_ptr<CPingSocket>> sockets;
  int count = CountLocalAddresses();
  for (int adapterClass = 0; adapterClass < count; ++adapterClass) {
    uint32_t mask = 0;
    uint32_t address = 0;
    if (ChooseLocalAddress(adapterClass, &mask, &address)) sockets.push_back(std::make_unique<CPingSocket>(address));
  }
  return sockets;
}
