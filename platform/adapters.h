#pragma once
// The local IPv4 address table and the adapter list, as the Windows helper tables give them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct AdapterAddress {
  std::string address;  // dotted text, "192.168.1.20"
  std::string mask;     // dotted text, "255.255.255.0"
};

struct Adapter {
  std::string description;  // what a Windows user would see, "ASIX AX88179 USB 3.0 to Gigabit Ethernet"
  std::array<uint8_t, 6> hardwareAddress{};
  std::vector<AdapterAddress> addresses;  // in the order the system lists them
};

// Number of entries of the local IPv4 address table (loopback included) in *count; 0 or -1.
int GetAddressCount(int* count);
// The adapters, loopback left out, in interface order; 0 or -1.
int GetAdapters(std::vector<Adapter>* adapters);

}  // namespace platform
