#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>

#include "platform/clock.h"
#include "platform/posix/real.h"

namespace platform::posix {
namespace {

sockaddr_in ToSockaddr(Endpoint e) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = e.address;
  sa.sin_port = htons(e.port);
  return sa;
}

Endpoint FromSockaddr(const sockaddr_in& sa) { return Endpoint{sa.sin_addr.s_addr, ntohs(sa.sin_port)}; }

std::string ReadLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string Basename(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string LinkTarget(const std::string& path) {
  char buffer[PATH_MAX];
  ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
  if (n <= 0) return "";
  buffer[n] = 0;
  return buffer;
}

// The driver as the kernel names it to ethtool; virtual devices (veth, bridges) have no device
// link in sysfs but still answer this.
std::string EthtoolDriver(const std::string& ifname) {
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  ethtool_drvinfo info{};
  info.cmd = ETHTOOL_GDRVINFO;
  ifreq request{};
  std::strncpy(request.ifr_name, ifname.c_str(), IFNAMSIZ - 1);
  request.ifr_data = reinterpret_cast<char*>(&info);
  std::string driver = ioctl(fd, SIOCETHTOOL, &request) == 0 ? std::string(info.driver) : "";
  close(fd);
  return driver;
}

// The name a Windows user would see for the adapter: the USB manufacturer and product where the
// device has them (a USB adapter's net device sits on a USB interface whose parent holds them),
// otherwise the driver's name, otherwise the interface name.
std::string Description(const std::string& ifname) {
  std::string device = "/sys/class/net/" + ifname + "/device";
  std::string product = ReadLine(device + "/../product");
  if (!product.empty()) {
    std::string manufacturer = ReadLine(device + "/../manufacturer");
    return manufacturer.empty() ? product : manufacturer + " " + product;
  }
  std::string driver = Basename(LinkTarget(device + "/driver"));
  if (driver.empty()) driver = EthtoolDriver(ifname);
  return driver.empty() ? ifname : driver;
}

std::array<uint8_t, 6> HardwareAddress(const std::string& ifname) {
  std::array<uint8_t, 6> mac{};
  std::string text = ReadLine("/sys/class/net/" + ifname + "/address");
  unsigned b[6];
  if (sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) == 6) {
    for (int i = 0; i < 6; ++i) mac[i] = uint8_t(b[i]);
  }
  return mac;
}

std::string Dotted(const sockaddr* sa) {
  if (!sa) return "0.0.0.0";
  char text[INET_ADDRSTRLEN] = "0.0.0.0";
  inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
  return text;
}

class PosixNetwork : public NetworkService {
 public:
  Socket OpenUdp() override { return Keep(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)); }
  Socket OpenTcp() override { return Keep(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

  int Bind(Socket s, Endpoint local) override {
    sockaddr_in sa = ToSockaddr(local);
    int r = bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (r != 0 && errno == EADDRINUSE && TypeOf(s) == SOCK_STREAM) r = BindBesideClosedConnections(s, sa);
    if (r == 0 && TypeOf(s) == SOCK_DGRAM) AddCompanions(s);
    return Result(r);
  }

  int SetBroadcast(Socket s, bool allow) override {
    int on = allow ? 1 : 0;
    return Result(setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on));
  }

  int SetReceiveBuffer(Socket s, uint32_t bytes) override {
    int r = SetReceiveBufferOf(s, bytes);
    if (const Companions* c = CompanionsOf(s)) {
      for (int fd : c->fds) SetReceiveBufferOf(fd, bytes);
    }
    return r;
  }

  int SendTo(Socket s, const void* data, int size, Endpoint to) override {
    sockaddr_in sa = ToSockaddr(to);
    ssize_t n = sendto(s, data, size_t(size), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    if (n < 0 && errno == ENETUNREACH && to.address == kBroadcastAddress) {
      n = SendLimitedBroadcast(s, data, size, sa);
    }
    return Count(n);
  }

  int PendingBytes(Socket s, uint32_t* count) override {
    int fd = s;
    if (const Companions* c = CompanionsOf(s)) {
      fd = NextSource(s, *c);
      if (fd < 0) fd = s;
    }
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0) return Result(-1);
    *count = uint32_t(n);
    return 0;
  }

  int RecvFrom(Socket s, void* buffer, int size, Endpoint* from) override {
    int fd = s;
    if (const Companions* c = CompanionsOf(s)) {
      // Blocks, as a read with nothing queued does, until a datagram comes by either way.
      Watch watch{s, POLLIN, 0};
      while ((fd = NextSource(s, *c)) < 0) {
        if (PollSockets(&watch, 1, kForeverMs) < 0 && errno != EINTR) return Result(-1);
      }
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t n = recvfrom(fd, buffer, size_t(size), 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n >= 0 && from) *from = FromSockaddr(sa);
    return Count(n);
  }

  int Connect(Socket s, Endpoint to) override {
    sockaddr_in sa = ToSockaddr(to);
    if (CurrentWaitHook()) return ConnectInSlices(s, sa);
    int r;
    do {
      r = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    } while (r != 0 && errno == EINTR);
    return Result(r);
  }

  // Winsock's send knows no signals; on Linux a signal (the Ctrl-C that only asks a run to stop)
  // cuts a blocked send short, even under SA_RESTART once a send time-out is set. So a send cut
  // short goes on with the rest until every byte is handed over, an error comes, or the time-out,
  // counted from the first call, runs out. With a wait hook installed, a send that blocks does so
  // in slices, with the hook between them, as the other waits do.
  int Send(Socket s, const void* data, int size) override {
    const char* bytes = static_cast<const char*>(data);
    const uint64_t start = MonotonicMs();
    const bool sliced = CurrentWaitHook() != nullptr;
    uint32_t limitMs = 0;
    bool limitKnown = false;
    bool narrowed = false;
    bool sliceOver = false;
    int sent = 0;
    ssize_t n;
    if (sliced) {
      limitMs = SendTimeoutMs(s);
      limitKnown = true;
      SetSendTimeoutMs(s, limitMs == 0 ? kWaitHookSliceMs : std::min(limitMs, kWaitHookSliceMs));
      narrowed = true;
    }
    for (;;) {
      n = send(s, bytes + sent, size_t(size - sent), MSG_NOSIGNAL);
      if (n > 0) sent += int(n);
      if (sent == size) break;
      // A slice that ran out is not the time-out: the hook runs, and the send goes on.
      sliceOver = n < 0 && narrowed && sliced && (errno == EAGAIN || errno == EWOULDBLOCK);
      if (n < 0 && errno != EINTR && !sliceOver) break;
      if (!limitKnown) {
        limitMs = SendTimeoutMs(s);
        limitKnown = true;
      }
      uint64_t elapsed = MonotonicMs() - start;
      if (limitMs != 0 && elapsed >= limitMs) {
        n = -1;
        errno = ETIMEDOUT;
        break;
      }
      // A slice that ran out, with or without bytes handed over: the send is waiting on the peer.
      if (sliced && (sliceOver || n > 0)) WaitHookIfDue();
      uint64_t left = limitMs == 0 ? UINT64_MAX : limitMs - elapsed;
      if (sliced) left = std::min<uint64_t>(left, kWaitHookSliceMs);
      if (left == UINT64_MAX) continue;
      SetSendTimeoutMs(s, uint32_t(left));
      narrowed = true;
    }
    int saved = errno;
    if (narrowed) SetSendTimeoutMs(s, limitMs);
    errno = saved;
    if (sent > 0 || size == 0) return sent;
    // Our sockets block, so EAGAIN here is the send time-out running out; Winsock calls that a
    // time-out, and so do we.
    if (errno == EAGAIN || errno == EWOULDBLOCK) errno = ETIMEDOUT;
    return Count(n < 0 ? n : -1);
  }

  int Recv(Socket s, void* buffer, int size) override {
    ssize_t n;
    do {
      n = recv(s, buffer, size_t(size), 0);
    } while (n < 0 && errno == EINTR);
    return Count(n);
  }

  int LocalEndpoint(Socket s, Endpoint* local) override {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Result(-1);
    *local = FromSockaddr(sa);
    return 0;
  }

  // The listener's connections inherit address reuse, so that their TIME_WAIT does not keep the
  // next listener off the port (see BindBesideClosedConnections). A second live listener is still
  // refused: Linux never lets two sockets listen on one address and port, reuse or not.
  int Listen(Socket s, int backlog) override {
    int on = 1;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return Result(-1);
    return Result(listen(s, backlog));
  }

  Socket Accept(Socket s, Endpoint* from) override {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    int fd = accept4(s, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
    if (fd >= 0 && from) *from = FromSockaddr(sa);
    return Keep(fd);
  }

  int WaitReadable(Socket s, uint32_t ms) override { return Wait(s, POLLIN, ms); }
  int WaitWritable(Socket s, uint32_t ms) override { return Wait(s, POLLOUT, ms); }

  int WaitReady(Socket s, int wanted, uint32_t ms) override {
    short events = short(((wanted & kReadReady) ? POLLIN : 0) | ((wanted & kWriteReady) ? POLLOUT : 0));
    short revents = 0;
    int r = Poll(s, events, ms, &revents);
    if (r <= 0) return r;
    // A hang-up or an error makes both a read and a write return at once, as the single waits count it.
    if (revents & (POLLHUP | POLLERR)) return wanted & (kReadReady | kWriteReady);
    return ((revents & POLLIN) ? wanted & kReadReady : 0) | ((revents & POLLOUT) ? wanted & kWriteReady : 0);
  }

  int SetSendTimeout(Socket s, uint32_t ms) override { return Result(SetSendTimeoutMs(s, ms)); }

  int WaitAny(WaitEntry* entries, int count, uint32_t ms) override {
    std::vector<Watch> watches(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) watches[size_t(i)] = Watch{entries[i].socket, POLLIN, 0};
    int r = PollSockets(watches.data(), count, ms);
    if (r < 0) return Result(-1);
    for (int i = 0; i < count; ++i) entries[i].readable = watches[size_t(i)].revents != 0;
    return r;
  }

  int ShutdownReceive(Socket s) override { return Result(shutdown(s, SHUT_RD)); }
  int ShutdownBoth(Socket s) override { return Result(shutdown(s, SHUT_RDWR)); }
  int Close(Socket s) override {
    if (const Companions* c = CompanionsOf(s)) {
      for (int fd : c->fds) close(fd);
      companions.erase(s);
    }
    return Result(close(s));
  }
  int LastSocketError() override { return lastError; }

  int GetAddressCount(int* count) override {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return Result(-1);
    int n = 0;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
      if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET) ++n;
    }
    freeifaddrs(list);
    *count = n;
    return 0;
  }

  int GetAdapters(std::vector<Adapter>* adapters) override {
    adapters->clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return Result(-1);
    // getifaddrs lists every interface (AF_PACKET entries) in index order before their addresses.
    std::vector<std::string> names;
    for (ifaddrs* a = list; a; a = a->ifa_next) {
      if ((a->ifa_flags & IFF_LOOPBACK) || !a->ifa_name) continue;
      bool seen = false;
      for (const std::string& n : names) seen = seen || n == a->ifa_name;
      if (!seen) names.push_back(a->ifa_name);
    }
    for (const std::string& name : names) {
      Adapter adapter;
      adapter.description = Description(name);
      adapter.hardwareAddress = HardwareAddress(name);
      for (ifaddrs* a = list; a; a = a->ifa_next) {
        if (name != a->ifa_name || !a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
        adapter.addresses.push_back({Dotted(a->ifa_addr), Dotted(a->ifa_netmask)});
      }
      // Windows lists an adapter without an address with the address 0.0.0.0.
      if (adapter.addresses.empty()) adapter.addresses.push_back({"0.0.0.0", "0.0.0.0"});
      adapters->push_back(std::move(adapter));
    }
    freeifaddrs(list);
    return 0;
  }

 private:
  static constexpr uint32_t kForeverMs = UINT32_MAX;

  // Windows hands a UDP socket bound to an adapter's address the broadcasts to its port that
  // arrive on that adapter (to 255.255.255.255 and to the adapter's subnet); Linux hands them only
  // to sockets bound to the wildcard or to the broadcast address itself. So such a socket gets
  // hidden companions bound to those broadcast addresses at its port, and its reads and waits take
  // from them too what came in on its adapter, in arrival order with its own datagrams. The
  // companions reuse their address, so that those of two adapters coexist; the UDP socket itself
  // never does, so its own bind keeps failing on a held address and port.
  struct Companions {
    unsigned ifindex = 0;  // the adapter whose broadcasts count
    std::vector<int> fds;
  };

  // One socket in PollSockets: the events wanted and, on return, the events that came.
  struct Watch {
    Socket socket;
    short events;
    short revents;
  };

  const Companions* CompanionsOf(Socket s) const {
    auto it = companions.find(s);
    return it == companions.end() ? nullptr : &it->second;
  }

  static int TypeOf(Socket s) {
    int type = 0;
    socklen_t len = sizeof type;
    return getsockopt(s, SOL_SOCKET, SO_TYPE, &type, &len) == 0 ? type : 0;
  }

  // A blocking connect, made of a non-blocking one and waits in slices with the wait hook between
  // them, so that a window stays painted while a controller that does not answer is tried. The
  // result and the error are those of the blocking call.
  int ConnectInSlices(Socket s, const sockaddr_in& sa) {
    int flags = fcntl(s, F_GETFL);
    if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) != 0) return Result(-1);
    int r = connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
    int error = r == 0 ? 0 : errno;
    int pollFailed = 0;
    if (r != 0 && (errno == EINPROGRESS || errno == EINTR)) {
      for (;;) {
        pollfd watch{s, POLLOUT, 0};
        int ready = poll(&watch, 1, int(kWaitHookSliceMs));
        if (ready > 0) break;
        if (ready < 0 && errno != EINTR) {
          pollFailed = errno;
          break;
        }
        WaitHookIfDue();
      }
      socklen_t len = sizeof error;
      if (pollFailed != 0) {
        error = pollFailed;  // the connect may still be under way: not a result to read
      } else if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
        error = errno;
      }
    }
    fcntl(s, F_SETFL, flags);
    if (error == 0) return 0;
    errno = error;
    return Result(-1);
  }

  static int SetSendTimeoutMs(Socket s, uint32_t ms) {
    timeval limit{};
    limit.tv_sec = time_t(ms / 1000);
    limit.tv_usec = suseconds_t(ms % 1000 * 1000);
    return setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }

  // The send time-out in force (0: none).
  static uint32_t SendTimeoutMs(Socket s) {
    timeval limit{};
    socklen_t len = sizeof limit;
    if (getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, &len) != 0) return 0;
    return uint32_t(limit.tv_sec) * 1000u + uint32_t(limit.tv_usec / 1000);
  }

  static uint64_t MonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
  }

  // Windows binds a listening port again while connections of an earlier listener on it wait out
  // their TIME_WAIT; Linux refuses that unless both sides reuse the address, which every listener
  // does here (Listen). Address reuse still refuses a port that another socket listens on, so only
  // a bind that failed is tried again, with reuse; when that fails too the socket is left as it was.
  int BindBesideClosedConnections(Socket s, const sockaddr_in& sa) {
    int on = 1;
    if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
      errno = EADDRINUSE;
      return -1;
    }
    if (bind(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return 0;
    int saved = errno;
    int off = 0;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &off, sizeof off);
    errno = saved;
    return -1;
  }

  // Gives a UDP socket bound to an adapter's address its broadcast companions (see Companions).
  // Loopback, the wildcard and the broadcast addresses get none; a companion that cannot be bound
  // is left out, and the socket hears what it can.
  void AddCompanions(Socket s) {
    sockaddr_in local{};
    socklen_t len = sizeof local;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &len) != 0) return;
    uint32_t address = local.sin_addr.s_addr;
    if (address == kAnyAddress || address == kBroadcastAddress) return;
    Companions found;
    uint32_t subnetBroadcast = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return;
    for (ifaddrs* a = list; a && !found.ifindex; a = a->ifa_next) {
      if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_netmask) continue;
      if ((a->ifa_flags & IFF_LOOPBACK) || !(a->ifa_flags & IFF_BROADCAST)) continue;
      if (reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr != address) continue;
      found.ifindex = if_nametoindex(a->ifa_name);
      uint32_t mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr.s_addr;
      // A /31 or /32 has no subnet broadcast of its own.
      if (ntohl(~mask) > 1) subnetBroadcast = (address & mask) | ~mask;
    }
    freeifaddrs(list);
    if (!found.ifindex) return;
    for (uint32_t target : {kBroadcastAddress, subnetBroadcast}) {
      if (target == 0) continue;
      int fd = OpenCompanion(Endpoint{target, ntohs(local.sin_port)});
      if (fd >= 0) found.fds.push_back(fd);
    }
    if (found.fds.empty()) return;
    // Arrival times put the socket's own datagrams and the companions' in one order.
    int on = 1;
    setsockopt(s, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    companions[s] = std::move(found);
  }

  // Linux caps SO_RCVBUF at net.core.rmem_max for the unprivileged; a process with CAP_NET_ADMIN
  // (root) may go beyond it, as Windows lets anyone.
  int SetReceiveBufferOf(int fd, uint32_t bytes) {
    int value = int(std::min<uint32_t>(bytes, uint32_t(INT32_MAX / 2)));
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &value, sizeof value) == 0) return 0;
    return Result(setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &value, sizeof value));
  }

  // A companion bound to `at`, telling each datagram's arrival interface and time; -1 when it
  // cannot be had.
  static int OpenCompanion(Endpoint at) {
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    int on = 1;
    sockaddr_in sa = ToSockaddr(at);
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  // 1 when fd has a datagram queued, with its arrival time in *arrivalNs; 0 when it has none. With
  // an ifindex, datagrams at the head that came in on another interface are dropped first.
  static int PeekHead(int fd, unsigned ifindex, int64_t* arrivalNs) {
    for (;;) {
      alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timespec))];
      char byte;
      iovec iov{&byte, 1};
      msghdr msg{};
      msg.msg_iov = &iov;
      msg.msg_iovlen = 1;
      msg.msg_control = control;
      msg.msg_controllen = sizeof control;
      if (recvmsg(fd, &msg, MSG_PEEK | MSG_DONTWAIT) < 0) {
        if (errno == EINTR) continue;
        return 0;
      }
      unsigned arrivedOn = 0;
      *arrivalNs = 0;
      for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
          in_pktinfo info;
          memcpy(&info, CMSG_DATA(c), sizeof info);
          arrivedOn = unsigned(info.ipi_ifindex);
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
          timespec at;
          memcpy(&at, CMSG_DATA(c), sizeof at);
          *arrivalNs = int64_t(at.tv_sec) * 1000000000 + at.tv_nsec;
        }
      }
      if (!ifindex || arrivedOn == ifindex) return 1;
      recv(fd, &byte, 0, MSG_DONTWAIT);  // another adapter's LAN: not for this socket
    }
  }

  // Of the socket and its companions, the one whose next datagram arrived first; -1 when none has
  // one. A socket with an error pending comes first, so that the read reports it.
  static int NextSource(Socket s, const Companions& c) {
    int best = -1;
    int64_t bestNs = 0;
    pollfd own{s, POLLIN, 0};
    if (poll(&own, 1, 0) > 0) {
      if (own.revents & ~POLLIN) return s;
      if (PeekHead(s, 0, &bestNs)) best = s;
    }
    for (int fd : c.fds) {
      int64_t ns = 0;
      if (PeekHead(fd, c.ifindex, &ns) && (best < 0 || ns < bestNs)) {
        best = fd;
        bestNs = ns;
      }
    }
    return best;
  }

  // poll() over the sockets and, where reading is wanted, their companions; a companion wakes its
  // socket only with a datagram from the socket's adapter at its head, so broadcasts of other LANs
  // never count. Returns the number of sockets with events (in their revents), 0 when ms ran out,
  // -1 with errno when poll fails (EINTR included).
  int PollSockets(Watch* watches, int count, uint32_t ms) {
    const bool forever = ms > INT_MAX;
    const uint64_t deadline = MonotonicMs() + ms;
    std::vector<pollfd> fds;
    std::vector<int> owners;
    for (;;) {
      fds.clear();
      owners.clear();
      for (int i = 0; i < count; ++i) {
        watches[i].revents = 0;
        fds.push_back(pollfd{watches[i].socket, watches[i].events, 0});
        owners.push_back(i);
        const Companions* c = CompanionsOf(watches[i].socket);
        if (!c || !(watches[i].events & POLLIN)) continue;
        for (int fd : c->fds) {
          fds.push_back(pollfd{fd, POLLIN, 0});
          owners.push_back(i);
        }
      }
      uint64_t now = MonotonicMs();
      int r = poll(fds.data(), nfds_t(fds.size()), forever ? -1 : int(deadline > now ? deadline - now : 0));
      if (r <= 0) return r;
      int ready = 0;
      for (size_t j = 0; j < fds.size(); ++j) {
        if (!fds[j].revents) continue;
        Watch& w = watches[owners[j]];
        bool companion = fds[j].fd != w.socket;
        int64_t ignored;
        if (companion && !PeekHead(fds[j].fd, companions.at(w.socket).ifindex, &ignored)) continue;
        if (!w.revents) ++ready;
        w.revents = short(w.revents | (companion ? POLLIN : fds[j].revents));
      }
      if (ready > 0 || (!forever && MonotonicMs() >= deadline)) return ready;
    }
  }

  Socket Keep(int fd) {
    if (fd < 0) lastError = errno;
    return fd < 0 ? kInvalidSocket : fd;
  }

  int Result(int r) {
    if (r != 0) lastError = errno;
    return r == 0 ? 0 : -1;
  }

  int Count(ssize_t n) {
    if (n < 0) lastError = errno;
    return n < 0 ? -1 : int(n);
  }

  // Any event on the socket (a hang-up or an error included) counts as ready.
  int Wait(Socket s, short events, uint32_t ms) {
    short revents = 0;
    return Poll(s, events, ms, &revents);
  }

  // 1 and the events that came in *revents, 0 on time-out, -1 for a bad socket or a failed poll.
  int Poll(Socket s, short events, uint32_t ms, short* revents) {
    if (s == kInvalidSocket) return -1;
    Watch watch{s, events, 0};
    // A signal ends poll early; the wait goes on for what is left of it.
    const uint64_t deadline = MonotonicMs() + ms;
    uint32_t left = ms;
    int r;
    for (;;) {
      r = PollSockets(&watch, 1, left);
      if (r >= 0 || errno != EINTR) break;
      if (ms <= INT_MAX) {
        uint64_t now = MonotonicMs();
        left = now >= deadline ? 0 : uint32_t(deadline - now);
      }
    }
    if (r < 0) return Result(-1);
    if (r > 0 && (watch.revents & POLLNVAL)) return -1;
    *revents = watch.revents;
    return r > 0 ? 1 : 0;
  }

  // Windows keeps an on-link route for 255.255.255.255 on every interface, so a limited broadcast
  // leaves even where no route covers it; Linux refuses it. Send it out of the first interface that
  // is up and not loopback, as Windows would.
  ssize_t SendLimitedBroadcast(Socket s, const void* data, int size, sockaddr_in& to) {
    int saved = errno;
    unsigned ifindex = 0;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) == 0) {
      for (ifaddrs* a = list; a && !ifindex; a = a->ifa_next) {
        if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && (a->ifa_flags & IFF_UP) &&
            !(a->ifa_flags & IFF_LOOPBACK)) {
          ifindex = if_nametoindex(a->ifa_name);
        }
      }
      freeifaddrs(list);
    }
    if (!ifindex) {
      errno = saved;
      return -1;
    }
    iovec iov{const_cast<void*>(data), size_t(size)};
    char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = int(ifindex);
    memcpy(CMSG_DATA(c), &info, sizeof info);
    return sendmsg(s, &msg, MSG_NOSIGNAL);
  }

  int lastError = 0;
  std::map<Socket, Companions> companions;  // by the socket they serve
};

}  // namespace

NetworkService& RealNetwork() {
  static PosixNetwork network;
  return network;
}

}  // namespace platform::posix

namespace platform {

// POSIX sockets need no start-up.
int StartSockets() { return 1; }

}  // namespace platform
