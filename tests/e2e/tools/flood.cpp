// A flood of discovery answers for end-to-end tests on the private LAN of scripts/lan: datagrams
// to one host's discovery port at a steady rate, most of them 180-byte answers as a controller
// would send them (random MACs, listed models, addresses on the private LAN), the rest malformed
// (other lengths, an empty datagram, a probe, 180 bytes of noise). It runs until its time is up or
// SIGTERM/SIGINT, then prints what it sent.
//
//   bsplift-flood --to ADDRESS [--port N] [--rate PER_SECOND] [--seconds N] [--malformed-every K] [--seed N]
//
// Prints "flooding ADDRESS:PORT at RATE a second" once it sends, and at the end
// "sent N datagrams (M malformed, F failed) in S s: R a second". Refuses any destination outside
// 10.231.0.0/24, the private LAN, so that a slip cannot flood a real network.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kAnswerBytes = 180;
// The private LAN of scripts/lan: 10.231.0.0/24.
constexpr uint32_t kLanNetwork = (10u << 24) | (231u << 16);
constexpr uint32_t kLanMask = 0xFFFFFF00u;
// At most this many datagrams go out in one go after the flooder was held up, so that a stall
// turns into a short burst, not a storm.
constexpr uint64_t kMaxBurst = 200;
// The codes of listed models, so that the flood's lines pass the filter entries.
constexpr uint8_t kListedCodes[][2] = {{1, 2}, {8, 10}, {9, 16}, {8, 32}, {1, 64}, {9, 0}, {7, 0}};

std::atomic<bool> stopping{false};

void Stop(int) { stopping = true; }

double Now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

struct Options {
  std::string to;
  uint16_t port = 444;
  double rate = 10000;
  double seconds = 3600;
  int malformedEvery = 5;
  uint64_t seed = 1;
};

int Usage() {
  std::fprintf(stderr,
               "usage: bsplift-flood --to ADDRESS [--port N] [--rate PER_SECOND] [--seconds N] "
               "[--malformed-every K] [--seed N]\n");
  return 2;
}

bool Parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) return false;
    std::string value = argv[++i];
    if (name == "--to") {
      o->to = value;
    } else if (name == "--port") {
      o->port = uint16_t(std::strtoul(value.c_str(), nullptr, 10));
    } else if (name == "--rate") {
      o->rate = std::strtod(value.c_str(), nullptr);
    } else if (name == "--seconds") {
      o->seconds = std::strtod(value.c_str(), nullptr);
    } else if (name == "--malformed-every") {
      o->malformedEvery = std::atoi(value.c_str());
    } else if (name == "--seed") {
      o->seed = std::strtoull(value.c_str(), nullptr, 10);
    } else {
      return false;
    }
  }
  return !o->to.empty() && o->rate > 0 && o->seconds > 0 && o->malformedEvery > 0;
}

class Datagrams {
 public:
  explicit Datagrams(uint64_t seed) : random(seed) {}

  // A controller's answer as it would look, from a controller that is not there.
  std::vector<uint8_t> Answer() {
    std::vector<uint8_t> d(kAnswerBytes, 0);
    const uint8_t address[4] = {10, 231, 0, uint8_t(100 + random() % 150)};
    std::memcpy(d.data() + 4, address, 4);
    uint16_t port = uint16_t(7000 + random() % 1000);
    d[8] = uint8_t(port);
    d[9] = uint8_t(port >> 8);
    const auto& codes = kListedCodes[random() % std::size(kListedCodes)];
    d[10] = codes[0];
    d[11] = codes[1];
    std::memcpy(d.data() + 12, "FLOOD", 5);
    const char* hex = "0123456789ABCDEF";
    for (int i = 0; i < 12; ++i) d[size_t(40 + i)] = uint8_t(hex[random() % 16]);
    return d;
  }

  // The malformed kinds in turn: wrong lengths on both sides of an answer's, nothing at all, a
  // probe, and an answer's length of noise (no zero bytes where texts end, any codes).
  std::vector<uint8_t> Malformed() {
    static const size_t kSizes[] = {0, 1, 8, 179, 181, 300, 1472, kAnswerBytes};
    size_t size = kSizes[next++ % std::size(kSizes)];
    std::vector<uint8_t> d(size);
    for (uint8_t& b : d) b = uint8_t(random());
    if (size == 8) d = {0x47, 0x48, 0, 0, 0, 0, 0, 0};
    return d;
  }

 private:
  std::mt19937_64 random;
  size_t next = 0;
};

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) return Usage();
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(options.port);
  if (inet_pton(AF_INET, options.to.c_str(), &to.sin_addr) != 1) return Usage();
  if ((ntohl(to.sin_addr.s_addr) & kLanMask) != kLanNetwork) {
    std::fprintf(stderr, "bsplift-flood: %s is not on the private LAN 10.231.0.0/24; refused\n", options.to.c_str());
    return 2;
  }
  int s = socket(AF_INET, SOCK_DGRAM, 0);
  if (s < 0) {
    std::perror("bsplift-flood: socket");
    return 1;
  }
  std::signal(SIGTERM, Stop);
  std::signal(SIGINT, Stop);

  Datagrams make(options.seed);
  uint64_t sent = 0;
  uint64_t malformed = 0;
  uint64_t failed = 0;
  std::printf("flooding %s:%u at %.0f a second\n", options.to.c_str(), unsigned(options.port), options.rate);
  std::fflush(stdout);
  const double start = Now();
  timespec wake{};
  clock_gettime(CLOCK_MONOTONIC, &wake);
  while (!stopping) {
    double elapsed = Now() - start;
    if (elapsed >= options.seconds) break;
    uint64_t due = uint64_t(elapsed * options.rate);
    for (uint64_t burst = 0; sent < due && burst < kMaxBurst && !stopping; ++burst) {
      bool bad = (sent + 1) % uint64_t(options.malformedEvery) == 0;
      std::vector<uint8_t> d = bad ? make.Malformed() : make.Answer();
      if (sendto(s, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) != ssize_t(d.size())) {
        ++failed;
      }
      ++sent;
      if (bad) ++malformed;
    }
    // One send round a millisecond: 10 datagrams a round at 10,000 a second.
    wake.tv_nsec += 1000000;
    if (wake.tv_nsec >= 1000000000) {
      wake.tv_nsec -= 1000000000;
      ++wake.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &wake, nullptr) == EINTR && !stopping) {
    }
  }
  double seconds = Now() - start;
  close(s);
  std::printf("sent %llu datagrams (%llu malformed, %llu failed) in %.3f s: %.0f a second\n",
              static_cast<unsigned long long>(sent), static_cast<unsigned long long>(malformed),
              static_cast<unsigned long long>(failed), seconds, double(sent) / seconds);
  return 0;
}
