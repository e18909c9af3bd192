#include "discovery/local_address.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/adapters.h"

namespace {

int AdapterClass(const platform::Adapter& adapter) {
  return adapter.description.compare(0, 4, "ASIX") == 0 ? kAsixAdapterClass : kOtherAdapterClass;
}

// Dotted text to a value with part k in byte k (byte 0 least significant): network order.
// Each part is read as a decimal number; missing parts count as 0.
uint32_t ParseDotted(const std::string& text) {
  uint32_t value = 0;
  size_t start = 0;
  for (int k = 0; k < 4 && start <= text.size(); ++k) {
    size_t dot = text.find('.', start);
    std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    value |= uint32_t(uint8_t(std::atoi(part.c_str()))) << (8 * k);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return value;
}

// Byte k is hardware byte 5 - k, with 0x00 and 0xFF replaced by k + 1.
uint32_t MacDerivedValue(const std::array<uint8_t, 6>& hardware) {
  uint32_t value = 0;
  for (int k = 0; k < 4; ++k) {
    uint8_t byte = hardware[size_t(5 - k)];
    if (byte == 0x00 || byte == 0xFF) byte = uint8_t(k + 1);
    value |= uint32_t(byte) << (8 * k);
  }
  return value;
}

}  // namespace

int CountLocalAddresses() {
  int count = 0;
  return platform::GetAddressCount(&count) == 0 ? count : 0;
}

int ChooseLocalAddress(int adapterClass, uint32_t* mask, uint32_t* address, uint8_t* hardwareAddress) {
  std::vector<platform::Adapter> adapters;
  if (platform::GetAdapters(&adapters) != 0) return 0;
  for (const platform::Adapter& adapter : adapters) {
    if (AdapterClass(adapter) != adapterClass) continue;
    uint32_t derived = MacDerivedValue(adapter.hardwareAddress);
    for (size_t i = 0; i < adapter.addresses.size(); ++i) {
      uint32_t entryAddress = ParseDotted(adapter.addresses[i].address);
      uint32_t entryMask = ParseDotted(adapter.addresses[i].mask);
      if (hardwareAddress) std::memcpy(hardwareAddress, adapter.hardwareAddress.data(), 6);
      bool last = i + 1 == adapter.addresses.size();
      if (last || (entryAddress != 0 && (entryAddress & entryMask) != (derived & entryMask))) {
        *mask = entryMask;
        *address = entryAddress;
        return 1;
      }
    }
    return 0;
  }
  return 0;
}
