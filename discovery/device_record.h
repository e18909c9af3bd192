#pragma once
// One controller as the program keeps it: what its discovery answer said and when it was last heard.
#include <cstdint>
#include <string>

class DeviceRecord {
 public:
  // From a 180-byte discovery answer. `address` (network order) is the controller's address the
  // answer was judged by: the one at offset 4 of the same answer. lastHeard is now.
  DeviceRecord(const uint8_t* answer, uint32_t address);
  // Every field copied, except that lastHeard is the time of the copy.
  DeviceRecord(const DeviceRecord& other);
  DeviceRecord& operator=(const DeviceRecord&) = delete;

  int GetType() const { return type; }
  // Types 1, 6, 7, 8, 9 and 100: controllers that take a BSP upgrade.
  int IsFullController() const;
  int IsWinCE() const;  // types 6 and 7
  int IsLinux() const;  // types 8 and 9

  std::string name;
  std::string macText;    // the controller's identity in the device list
  std::string extraText;  // kept, never shown
  uint32_t address;       // network order
  uint16_t port;          // host order
  uint8_t type;
  uint8_t subtype;
  uint32_t lastHeard;     // tick count (ms)
};
