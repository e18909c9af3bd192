// The adapter table as the program reads it (GetAdaptersInfo behind platform::GetAdapters) read
// back through another of the system's tables (GetAdaptersAddresses, and the IPv4 address table):
// the same adapters in the same order, with their hardware addresses, IPv4 addresses and masks.
// Reading the tables sends nothing on any network.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/adapters.h"

namespace {

struct Seen {
  std::array<uint8_t, 6> mac{};
  std::vector<std::string> addresses;  // "a.b.c.d/m.m.m.m"
};

std::string Dotted(uint32_t networkOrder) {
  const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
  return text;
}

std::string Mask(unsigned prefixLength) {
  uint32_t hostOrder = prefixLength == 0 ? 0 : 0xFFFFFFFFu << (32 - prefixLength);
  return Dotted(htonl(hostOrder));
}

// Every adapter with IPv4 addresses but loopback, in the system's order.
std::vector<Seen> FromAdaptersAddresses() {
  ULONG size = 16 * 1024;
  std::vector<unsigned char> buffer(size);
  ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  ULONG r = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  if (r == ERROR_BUFFER_OVERFLOW) {
    buffer.resize(size);
    r = GetAdaptersAddresses(AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
  }
  std::vector<Seen> seen;
  if (r != NO_ERROR) {
    ADD_FAILURE() << "GetAdaptersAddresses: " << r;
    return seen;
  }
  for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a; a = a->Next) {
    if (a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    Seen adapter;
    for (ULONG i = 0; i < a->PhysicalAddressLength && i < 6; ++i) adapter.mac[i] = a->PhysicalAddress[i];
    for (auto* u = a->FirstUnicastAddress; u; u = u->Next) {
      const auto* sa = reinterpret_cast<const sockaddr_in*>(u->Address.lpSockaddr);
      adapter.addresses.push_back(Dotted(sa->sin_addr.s_addr) + "/" + Mask(u->OnLinkPrefixLength));
    }
    if (!adapter.addresses.empty()) seen.push_back(adapter);
  }
  return seen;
}

TEST(Win32Adapters, TheProgramsAdapterTableIsTheSystemsInItsOrder) {
  std::vector<platform::Adapter> adapters;
  ASSERT_EQ(platform::GetAdapters(&adapters), 0);
  std::vector<Seen> program;
  for (const platform::Adapter& a : adapters) {
    EXPECT_FALSE(a.description.empty());
    Seen adapter{a.hardwareAddress, {}};
    for (const platform::AdapterAddress& address : a.addresses) {
      EXPECT_NE(address.address.rfind("127.", 0), 0u) << "loopback listed: " << address.address;
      // An adapter without an address is listed with 0.0.0.0, which the other table leaves out.
      if (address.address != "0.0.0.0") adapter.addresses.push_back(address.address + "/" + address.mask);
    }
    if (!adapter.addresses.empty()) program.push_back(adapter);
  }
  std::vector<Seen> system = FromAdaptersAddresses();
  ASSERT_EQ(program.size(), system.size());
  for (size_t i = 0; i < program.size(); ++i) {
    EXPECT_EQ(program[i].mac, system[i].mac) << "adapter " << i;
    EXPECT_EQ(program[i].addresses, system[i].addresses) << "adapter " << i;
  }
}

TEST(Win32Adapters, TheAddressCountIsTheIPv4TableLoopbackIncluded) {
  int count = -1;
  ASSERT_EQ(platform::GetAddressCount(&count), 0);
  ULONG size = 0;
  ASSERT_EQ(GetIpAddrTable(nullptr, &size, FALSE), DWORD(ERROR_INSUFFICIENT_BUFFER));
  std::vector<unsigned char> buffer(size);
  auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
  ASSERT_EQ(GetIpAddrTable(table, &size, FALSE), DWORD(NO_ERROR));
  EXPECT_EQ(count, int(table->dwNumEntries));
  bool loopback = false;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) loopback = loopback || Dotted(table->table[i].dwAddr) == "127.0.0.1";
  EXPECT_TRUE(loopback);
  std::vector<platform::Adapter> adapters;
  ASSERT_EQ(platform::GetAdapters(&adapters), 0);
  size_t listed = 0;
  for (const platform::Adapter& a : adapters) {
    for (const platform::AdapterAddress& address : a.addresses) listed += address.address != "0.0.0.0";
  }
  EXPECT_EQ(size_t(count), listed + 1) << "every address but loopback's is on an adapter";
}

}  // namespace
