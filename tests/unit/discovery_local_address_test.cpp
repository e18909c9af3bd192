#include "discovery/local_address.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "platform/adapters.h"
#include "platform/sim/world.h"
#include "platform/socket.h"
#include "tests/support/test_world.h"

namespace {

using platform::Adapter;
using platform::MakeAddress;

struct Chosen {
  int found = 0;
  uint32_t mask = 0;
  uint32_t address = 0;
};

class LocalAddress : public ::testing::Test {
 protected:
  void SetAdapters(std::vector<Adapter> adapters) { world.SetAdapters(pc, std::move(adapters)); }

  Chosen Choose(int adapterClass) {
    Chosen chosen;
    chosen.found = ChooseLocalAddress(adapterClass, &chosen.mask, &chosen.address);
    return chosen;
  }

  testing_support::TestWorld world;
  platform::sim::HostId pc = world.AddHost("pc", MakeAddress(192, 168, 1, 10));
};

Adapter Make(const char* description, std::array<uint8_t, 6> hardware,
             std::vector<platform::AdapterAddress> addresses) {
  return Adapter{description, hardware, std::move(addresses)};
}

constexpr std::array<uint8_t, 6> kHardware = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};  // derives 85.68.51.34

TEST_F(LocalAddress, CountsEveryAddressOfTheTableLoopbackIncluded) {
  SetAdapters({Make("Intel(R) Ethernet", kHardware, {{"192.168.1.10", "255.255.255.0"}, {"10.0.0.5", "255.0.0.0"}}),
               Make("ASIX AX88179", kHardware, {{"172.16.0.9", "255.255.0.0"}})});
  EXPECT_EQ(CountLocalAddresses(), 4);
}

TEST_F(LocalAddress, TheFirstAdapterOfEachClassDecidesAndOnlyAsixInCapitalsMakesClassOne) {
  struct Case {
    const char* name;
    std::vector<Adapter> adapters;
    Chosen other;  // class 0
    Chosen asix;   // class 1
  };
  const uint32_t c24 = MakeAddress(255, 255, 255, 0);
  const std::vector<Case> cases = {
      {"one of each",
       {Make("Intel(R) Ethernet", kHardware, {{"192.168.1.10", "255.255.255.0"}}),
        Make("ASIX AX88179 USB 3.0 to Gigabit Ethernet Adapter", kHardware, {{"10.1.2.3", "255.255.255.0"}})},
       {1, c24, MakeAddress(192, 168, 1, 10)},
       {1, c24, MakeAddress(10, 1, 2, 3)}},
      {"three of the other kind",
       {Make("Intel(R) Ethernet", kHardware, {{"192.168.1.10", "255.255.255.0"}}),
        Make("Realtek PCIe GbE", kHardware, {{"192.168.2.10", "255.255.255.0"}}),
        Make("asix lower case", kHardware, {{"192.168.3.10", "255.255.255.0"}})},
       {1, c24, MakeAddress(192, 168, 1, 10)},
       {}},
      {"asix first", {Make("ASIX", kHardware, {{"10.1.2.3", "255.255.255.0"}})}, {}, {1, c24, MakeAddress(10, 1, 2, 3)}},
      {"no adapters", {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetAdapters(c.adapters);
    Chosen other = Choose(0);
    Chosen asix = Choose(1);
    EXPECT_EQ(other.found, c.other.found);
    EXPECT_EQ(other.address, c.other.address);
    EXPECT_EQ(other.mask, c.other.mask);
    EXPECT_EQ(asix.found, c.asix.found);
    EXPECT_EQ(asix.address, c.asix.address);
    EXPECT_EQ(Choose(2).found, 0);
  }
}

TEST_F(LocalAddress, SkipsZeroAddressesAndThoseInTheSubnetDerivedFromTheHardwareAddressUnlessLast) {
  struct Case {
    const char* name;
    std::array<uint8_t, 6> hardware;
    std::vector<platform::AdapterAddress> addresses;
    uint32_t chosen;
    uint32_t mask;
  };
  const std::vector<Case> cases = {
      {"zero address skipped", kHardware, {{"0.0.0.0", "0.0.0.0"}, {"192.168.1.10", "255.255.255.0"}},
       MakeAddress(192, 168, 1, 10), MakeAddress(255, 255, 255, 0)},
      {"derived subnet skipped", kHardware, {{"85.68.7.7", "255.255.0.0"}, {"192.168.1.10", "255.255.255.0"}},
       MakeAddress(192, 168, 1, 10), MakeAddress(255, 255, 255, 0)},
      {"outside the derived subnet", kHardware, {{"85.69.7.7", "255.255.0.0"}, {"192.168.1.10", "255.255.255.0"}},
       MakeAddress(85, 69, 7, 7), MakeAddress(255, 255, 0, 0)},
      {"00 and FF bytes derive from their place", {0xAA, 0xBB, 0xFF, 0x00, 0xFF, 0x00},
       {{"1.2.9.9", "255.255.0.0"}, {"192.168.1.10", "255.255.255.0"}}, MakeAddress(192, 168, 1, 10),
       MakeAddress(255, 255, 255, 0)},
      {"last entry taken in any case", kHardware, {{"0.0.0.0", "0.0.0.0"}, {"85.68.1.1", "255.255.0.0"}},
       MakeAddress(85, 68, 1, 1), MakeAddress(255, 255, 0, 0)},
      {"an only address of 0.0.0.0", kHardware, {{"0.0.0.0", "0.0.0.0"}}, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SetAdapters({Make("Intel(R) Ethernet", c.hardware, c.addresses)});
    uint32_t mask = 1;
    uint32_t address = 1;
    uint8_t hardware[6] = {};
    ASSERT_EQ(ChooseLocalAddress(0, &mask, &address, hardware), 1);
    EXPECT_EQ(address, c.chosen);
    EXPECT_EQ(mask, c.mask);
    EXPECT_EQ(std::vector<uint8_t>(hardware, hardware + 6), std::vector<uint8_t>(c.hardware.begin(), c.hardware.end()));
  }
}

TEST_F(LocalAddress, AnAdapterThatListsNoAddressYieldsNone) {
  SetAdapters({Make("Intel(R) Ethernet", kHardware, {}), Make("Realtek", kHardware, {{"192.168.1.10", "255.255.255.0"}})});
  EXPECT_EQ(Choose(0).found, 0);
}

}  // namespace
