#include "platform/win32/windows_api.h"

#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/win32/real.h"

namespace platform::win32 {
namespace {

sockaddr_in ToSockaddr(Endpoint e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = e.address;
  sa.sin_port = htons(e.port);
  return sa;
}

Endpoint FromSockaddr(const sockaddr_in& sa) { return Endpoint{sa.sin_addr.s_addr, ntohs(sa.sin_port)}; }

// The program tells errors apart by their errno names (address in use, permission, refused, time-out),
// as the simulated LAN reports them; Winsock's codes are mapped onto those. A code without a twin
// stays as Winsock gave it (10000 and up), so that nothing is lost in a log.
int ErrnoOf(int wsa) {
  switch (wsa) {
    case WSAEINTR: return EINTR;
    case WSAEBADF: return EBADF;
    case WSAEACCES: return EACCES;
    case WSAEFAULT: return EFAULT;
    case WSAEINVAL: return EINVAL;
    case WSAEMFILE: return EMFILE;
    case WSAEWOULDBLOCK: return EWOULDBLOCK;
    case WSAEINPROGRESS: return EINPROGRESS;
    case WSAEALREADY: return EALREADY;
    case WSAENOTSOCK: return ENOTSOCK;
    case WSAEDESTADDRREQ: return EDESTADDRREQ;
    case WSAEMSGSIZE: return EMSGSIZE;
    case WSAEPROTOTYPE: return EPROTOTYPE;
    case WSAENOPROTOOPT: return ENOPROTOOPT;
    case WSAEPROTONOSUPPORT: return EPROTONOSUPPORT;
    case WSAEOPNOTSUPP: return EOPNOTSUPP;
    case WSAEAFNOSUPPORT: return EAFNOSUPPORT;
    case WSAEADDRINUSE: return EADDRINUSE;
    case WSAEADDRNOTAVAIL: return EADDRNOTAVAIL;
    case WSAENETDOWN: return ENETDOWN;
    case WSAENETUNREACH: return ENETUNREACH;
    case WSAENETRESET: return ENETRESET;
    case WSAECONNABORTED: return ECONNABORTED;
    case WSAECONNRESET: return ECONNRESET;
    case WSAENOBUFS: return ENOBUFS;
    case WSAEISCONN: return EISCONN;
    case WSAENOTCONN: return ENOTCONN;
    case WSAETIMEDOUT: return ETIMEDOUT;
    case WSAECONNREFUSED: return ECONNREFUSED;
    case WSAEHOSTUNREACH: return EHOSTUNREACH;
    default: return wsa;
  }
}

SOCKET Native(Socket s) { return s == kInvalidSocket ? INVALID_SOCKET : SOCKET(unsigned(s)); }

timeval Timeval(uint32_t ms) {
  timeval tv{};
  tv.tv_sec = long(ms / 1000);
  tv.tv_usec = long(ms % 1000 * 1000);
  return tv;
}

// Waits longer than INT32_MAX are endless, as the other layers take them.
bool Endless(uint32_t ms) { return ms > 0x7FFFFFFFu; }

class WinsockNetwork : public NetworkService {
 public:
  WinsockNetwork() {
    WSADATA data;
    started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockNetwork() override {
    if (started) WSACleanup();
  }

  // Windows turns an ICMP port-unreachable that answers an earlier datagram into a failed read
  // (WSAECONNRESET) on an unconnected UDP socket, and into readiness for select; Linux and the
  // program know no such thing. Switched off.
  bool Started() const { return started; }

  Socket OpenUdp() override {
    Socket s = Keep(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (s != kInvalidSocket) {
      BOOL report = FALSE;
      DWORD returned = 0;
      WSAIoctl(Native(s), kUdpConnReset, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
    }
    return s;
  }
  Socket OpenTcp() override { return Keep(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

  // Neither SO_REUSEADDR (on Windows it lets a bind take a port a live socket holds) nor
  // SO_EXCLUSIVEADDRUSE (it keeps a listener off a port its closed connections still hold).
  int Bind(Socket s, Endpoint local) override {
    sockaddr_in sa = ToSockaddr(local);
    return Result(bind(Native(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  }

  int SetBroadcast(Socket s, bool allow) override {
    BOOL on = allow ? TRUE : FALSE;
    return Result(setsockopt(Native(s), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on));
  }

  int SetReceiveBuffer(Socket s, uint32_t bytes) override {
    int size = bytes > 0x7FFFFFFFu ? 0x7FFFFFFF : int(bytes);
    return Result(setsockopt(Native(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size));
  }

  int SendTo(Socket s, const void* data, int size, Endpoint to) override {
    sockaddr_in sa = ToSockaddr(to);
    return Count(sendto(Native(s), static_cast<const char*>(data), size, 0, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  }

  // FIONREAD on a datagram socket counts every queued datagram on Windows; the next one's size
  // comes from a look at it that leaves it queued.
  int PendingBytes(Socket s, uint32_t* count) override {
    u_long n = 0;
    if (ioctlsocket(Native(s), FIONREAD, &n) != 0) return Result(-1);
    if (n > 0 && TypeOf(s) == SOCK_DGRAM) {
      std::vector<char>& scratch = PeekBuffer();
      sockaddr_in sa{};
      int len = sizeof sa;
      int size = recvfrom(Native(s), scratch.data(), int(scratch.size()), MSG_PEEK, reinterpret_cast<sockaddr*>(&sa), &len);
      if (size == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) size = int(scratch.size());
      if (size >= 0) n = u_long(size);
    }
    *count = uint32_t(n);
    return 0;
  }

  // A datagram longer than the buffer fills it and the rest is lost; Winsock reports that as an
  // error (WSAEMSGSIZE), the program as the bytes it got.
  int RecvFrom(Socket s, void* buffer, int size, Endpoint* from) override {
    sockaddr_in sa{};
    int len = sizeof sa;
    int n = recvfrom(Native(s), static_cast<char*>(buffer), size, 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) n = size;
    if (n >= 0 && from) *from = FromSockaddr(sa);
    return Count(n);
  }

  int Connect(Socket s, Endpoint to) override {
    sockaddr_in sa = ToSockaddr(to);
    if (CurrentWaitHook()) return ConnectInSlices(s, sa);
    return Result(connect(Native(s), reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  }

  // Winsock's own send time-out (SO_SNDTIMEO) leaves the socket in an undefined state when it runs
  // out and does not say how much was handed over, so the limit is kept here: a send with a limit,
  // or with a wait hook, hands over what fits while the socket is writable, and waits in slices.
  int Send(Socket s, const void* data, int size) override {
    uint32_t limitMs = SendTimeoutOf(s);
    const bool sliced = CurrentWaitHook() != nullptr;
    if (limitMs == 0 && !sliced) {
      return Count(send(Native(s), static_cast<const char*>(data), size, 0));
    }
    const char* bytes = static_cast<const char*>(data);
    const uint32_t start = ::GetTickCount();
    if (!SetBlocking(s, false)) return Result(-1);
    int sent = 0;
    int error = 0;
    while (sent < size) {
      int n = send(Native(s), bytes + sent, size - sent, 0);
      if (n > 0) {
        sent += n;
        continue;
      }
      if (n == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
        error = WSAGetLastError();
        break;
      }
      uint32_t elapsed = ElapsedMs(::GetTickCount(), start);
      if (limitMs != 0 && elapsed >= limitMs) {
        error = WSAETIMEDOUT;
        break;
      }
      uint32_t wait = limitMs == 0 ? kWaitHookSliceMs : limitMs - elapsed;
      if (sliced && wait > kWaitHookSliceMs) wait = kWaitHookSliceMs;
      int ready = WaitReady(s, kWriteReady, wait);
      if (ready < 0) {
        error = WSAGetLastError();
        break;
      }
      if (ready == 0 && sliced) WaitHookIfDue();
    }
    SetBlocking(s, true);
    if (sent > 0 || size == 0) return sent;
    lastError = ErrnoOf(error);
    return -1;
  }

  int Recv(Socket s, void* buffer, int size) override {
    return Count(recv(Native(s), static_cast<char*>(buffer), size, 0));
  }

  int LocalEndpoint(Socket s, Endpoint* local) override {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (getsockname(Native(s), reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Result(-1);
    *local = FromSockaddr(sa);
    return 0;
  }

  int Listen(Socket s, int backlog) override { return Result(listen(Native(s), backlog)); }

  Socket Accept(Socket s, Endpoint* from) override {
    sockaddr_in sa{};
    int len = sizeof sa;
    SOCKET accepted = accept(Native(s), reinterpret_cast<sockaddr*>(&sa), &len);
    if (accepted != INVALID_SOCKET && from) *from = FromSockaddr(sa);
    return Keep(accepted);
  }

  int WaitReadable(Socket s, uint32_t ms) override { return Single(WaitReady(s, kReadReady, ms)); }
  int WaitWritable(Socket s, uint32_t ms) override { return Single(WaitReady(s, kWriteReady, ms)); }

  int WaitReady(Socket s, int wanted, uint32_t ms) override {
    fd_set readers, writers, failures;
    FD_ZERO(&readers);
    FD_ZERO(&writers);
    FD_ZERO(&failures);
    if (wanted & kReadReady) FD_SET(Native(s), &readers);
    if (wanted & kWriteReady) FD_SET(Native(s), &writers);
    FD_SET(Native(s), &failures);
    timeval tv = Timeval(ms);
    int r = select(0, &readers, &writers, &failures, Endless(ms) ? nullptr : &tv);
    if (r == SOCKET_ERROR) {
      Result(-1);
      return -1;
    }
    if (r == 0) return 0;
    // A failed connect shows only in the failure set; it makes a read and a write return at once,
    // as the single waits count it.
    if (FD_ISSET(Native(s), &failures)) return wanted & (kReadReady | kWriteReady);
    return (FD_ISSET(Native(s), &readers) ? wanted & kReadReady : 0) |
           (FD_ISSET(Native(s), &writers) ? wanted & kWriteReady : 0);
  }

  int SetSendTimeout(Socket s, uint32_t ms) override {
    std::lock_guard<std::mutex> lock(mutex);
    if (ms == 0) {
      sendTimeouts.erase(s);
    } else {
      sendTimeouts[s] = ms;
    }
    return 0;
  }

  int WaitAny(WaitEntry* entries, int count, uint32_t ms) override {
    if (count <= 0) {
      // select refuses empty sets; nothing to watch is a plain wait.
      ::Sleep(Endless(ms) ? INFINITE : DWORD(ms));
      return 0;
    }
    if (count > FD_SETSIZE) {
      lastError = EINVAL;
      return -1;
    }
    auto readers = std::make_unique<fd_set>();
    FD_ZERO(readers.get());
    for (int i = 0; i < count; ++i) FD_SET(Native(entries[i].socket), readers.get());
    timeval tv = Timeval(ms);
    int r = select(0, readers.get(), nullptr, nullptr, Endless(ms) ? nullptr : &tv);
    if (r == SOCKET_ERROR) return Result(-1);
    for (int i = 0; i < count; ++i) entries[i].readable = FD_ISSET(Native(entries[i].socket), readers.get()) != 0;
    return r;
  }

  int ShutdownReceive(Socket s) override { return Result(shutdown(Native(s), SD_RECEIVE)); }
  int ShutdownBoth(Socket s) override { return Result(shutdown(Native(s), SD_BOTH)); }
  int Close(Socket s) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      sendTimeouts.erase(s);
    }
    return Result(closesocket(Native(s)));
  }
  int LastSocketError() override { return lastError; }

  int GetAddressCount(int* count) override {
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER) return Fail(EINVAL);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR) return Fail(EINVAL);
    *count = int(table->dwNumEntries);
    return 0;
  }

  int GetAdapters(std::vector<Adapter>* adapters) override {
    adapters->clear();
    // An adapter that comes up between the size query and the read makes the table longer: asked
    // again with the new size.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    DWORD r = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 5 && r == ERROR_BUFFER_OVERFLOW; ++attempt) {
      buffer.resize(size);
      r = GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
    }
    if (r == ERROR_NO_DATA) return 0;
    if (r != NO_ERROR) return Fail(EINVAL);
    auto* first = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    for (IP_ADAPTER_INFO* info = first; info; info = info->Next) {
      if (info->Type == MIB_IF_TYPE_LOOPBACK) continue;
      Adapter adapter;
      adapter.description = info->Description;
      for (UINT i = 0; i < info->AddressLength && i < adapter.hardwareAddress.size(); ++i) {
        adapter.hardwareAddress[i] = info->Address[i];
      }
      for (IP_ADDR_STRING* a = &info->IpAddressList; a; a = a->Next) {
        adapter.addresses.push_back({a->IpAddress.String, a->IpMask.String});
      }
      adapters->push_back(std::move(adapter));
    }
    return 0;
  }

 private:
  // SIO_UDP_CONNRESET, which MinGW's headers do not all carry.
  static constexpr DWORD kUdpConnReset = IOC_IN | IOC_VENDOR | 12;

  static int TypeOf(Socket s) {
    int type = 0;
    int len = sizeof type;
    return getsockopt(Native(s), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0 ? type : 0;
  }

  // Room for the largest datagram IPv4 carries.
  static std::vector<char>& PeekBuffer() {
    static thread_local std::vector<char> buffer(65536);
    return buffer;
  }

  // A blocking connect, made of a non-blocking one and waits in slices with the wait hook between
  // them, so that a window stays painted while a controller that does not answer is tried. A
  // refused or failed connect shows in select's failure set, its reason in SO_ERROR.
  int ConnectInSlices(Socket s, const sockaddr_in& sa) {
    if (!SetBlocking(s, false)) return Result(-1);
    int error = 0;
    if (connect(Native(s), reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
      error = WSAGetLastError();
      if (error == WSAEWOULDBLOCK) {
        error = 0;
        for (;;) {
          fd_set writers, failures;
          FD_ZERO(&writers);
          FD_ZERO(&failures);
          FD_SET(Native(s), &writers);
          FD_SET(Native(s), &failures);
          timeval tv = Timeval(kWaitHookSliceMs);
          int ready = select(0, nullptr, &writers, &failures, &tv);
          if (ready == SOCKET_ERROR) {
            error = WSAGetLastError();
            break;
          }
          if (ready > 0) {
            if (FD_ISSET(Native(s), &failures)) {
              int len = sizeof error;
              if (getsockopt(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0) {
                error = WSAGetLastError();
              }
              if (error == 0) error = WSAECONNREFUSED;
            }
            break;
          }
          WaitHookIfDue();
        }
      }
    }
    SetBlocking(s, true);
    if (error == 0) return 0;
    lastError = ErrnoOf(error);
    return -1;
  }

  bool SetBlocking(Socket s, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    return ioctlsocket(Native(s), FIONBIO, &nonBlocking) == 0;
  }

  static int Single(int ready) { return ready < 0 ? -1 : ready > 0 ? 1 : 0; }

  uint32_t SendTimeoutOf(Socket s) {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = sendTimeouts.find(s);
    return it == sendTimeouts.end() ? 0 : it->second;
  }

  Socket Keep(SOCKET s) {
    if (s == INVALID_SOCKET) {
      Result(-1);
      return kInvalidSocket;
    }
    // A socket handle is a kernel handle: its value fits in 32 bits, as Windows documents for
    // handles shared across 32- and 64-bit processes.
    return Socket(unsigned(s));
  }

  int Result(int r) {
    if (r != 0) lastError = ErrnoOf(WSAGetLastError());
    return r == 0 ? 0 : -1;
  }

  int Count(int n) {
    if (n == SOCKET_ERROR) {
      lastError = ErrnoOf(WSAGetLastError());
      return -1;
    }
    return n;
  }

  int Fail(int error) {
    lastError = error;
    return -1;
  }

  bool started = false;
  int lastError = 0;
  std::mutex mutex;
  std::map<Socket, uint32_t> sendTimeouts;
};

WinsockNetwork& Winsock() {
  static WinsockNetwork network;
  return network;
}

}  // namespace

NetworkService& RealNetwork() { return Winsock(); }

}  // namespace platform::win32

namespace platform {

int StartSockets() { return win32::Winsock().Started() ? 1 : 0; }

}  // namespace platform
