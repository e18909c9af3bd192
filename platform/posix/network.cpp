#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>

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
    return Result(bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  }

  int SetBroadcast(Socket s, bool allow) override {
    int on = allow ? 1 : 0;
    return Result(setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on));
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
    int n = 0;
    if (ioctl(s, FIONREAD, &n) != 0) return Result(-1);
    *count = uint32_t(n);
    return 0;
  }

  int RecvFrom(Socket s, void* buffer, int size, Endpoint* from) override {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    ssize_t n = recvfrom(s, buffer, size_t(size), 0, reinterpret_cast<sockaddr*>(&sa), &len);
    if (n >= 0 && from) *from = FromSockaddr(sa);
    return Count(n);
  }

  int Connect(Socket s, Endpoint to) override {
    sockaddr_in sa = ToSockaddr(to);
    int r;
    do {
      r = connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    } while (r != 0 && errno == EINTR);
    return Result(r);
  }

  int Send(Socket s, const void* data, int size) override {
    ssize_t n = send(s, data, size_t(size), MSG_NOSIGNAL);
    // Our sockets block, so EAGAIN here is the send time-out running out; Winsock calls that a
    // time-out, and so do we.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) errno = ETIMEDOUT;
    return Count(n);
  }

  int Recv(Socket s, void* buffer, int size) override { return Count(recv(s, buffer, size_t(size), 0)); }

  int LocalEndpoint(Socket s, Endpoint* local) override {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return Result(-1);
    *local = FromSockaddr(sa);
    return 0;
  }

  int Listen(Socket s, int backlog) override { return Result(listen(s, backlog)); }

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

  int SetSendTimeout(Socket s, uint32_t ms) override {
    timeval limit{};
    limit.tv_sec = time_t(ms / 1000);
    limit.tv_usec = suseconds_t(ms % 1000 * 1000);
    return Result(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit));
  }

  int WaitAny(WaitEntry* entries, int count, uint32_t ms) override {
    std::vector<pollfd> fds(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) fds[size_t(i)] = pollfd{entries[i].socket, POLLIN, 0};
    int r = poll(fds.data(), nfds_t(count), ms > INT_MAX ? -1 : int(ms));
    if (r < 0) return Result(-1);
    for (int i = 0; i < count; ++i) entries[i].readable = fds[size_t(i)].revents != 0;
    return r;
  }

  int ShutdownReceive(Socket s) override { return Result(shutdown(s, SHUT_RD)); }
  int ShutdownBoth(Socket s) override { return Result(shutdown(s, SHUT_RDWR)); }
  int Close(Socket s) override { return Result(close(s)); }
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
    pollfd p{s, events, 0};
    int r;
    do {
      r = poll(&p, 1, ms > INT_MAX ? -1 : int(ms));
    } while (r < 0 && errno == EINTR);
    if (r < 0) return Result(-1);
    if (r > 0 && (p.revents & POLLNVAL)) return -1;
    *revents = p.revents;
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
};

}  // namespace

NetworkService& RealNetwork() {
  static PosixNetwork network;
  return network;
}

}  // namespace platform::posix
