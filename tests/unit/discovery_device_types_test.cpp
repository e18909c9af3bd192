#include "discovery/device_types.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/socket.h"
#include "tests/support/fake_controllers.h"

namespace {

using platform::MakeAddress;
using testing_support::AnswerBytes;
using testing_support::DiscoveryAnswer;

struct Naming {
  int type;
  int subtype;
  const char* model;   // GetModelName
  const char* system;  // GetSystemTypeName
};

TEST(DeviceTypes, NamesEveryTypeAndSubtypeForTheListAndForTheUpgradeLog) {
  const std::vector<Naming> rows = {
      {1, 2, "PD2", "Full Gateway (Corvane)"},
      {1, 10, "PD10", "Full Gateway (Corvane)"},
      {1, 18, "PD2 (Extender)", "Full Gateway (Corvane)"},
      {1, 26, "PD10 (Extender)", "Full Gateway (Corvane)"},
      {1, 32, "Vardo ZRT", "Full Gateway (Corvane)"},
      {1, 48, "Vardo ZRT (Extender)", "Full Gateway (Corvane)"},
      {1, 64, "Sonmark ZRT", "Full Gateway (Corvane)"},
      {1, 80, "Sonmark ZRT (Extender)", "Full Gateway (Corvane)"},
      {1, 3, "Unknown", "Full Gateway (Corvane)"},
      {8, 2, "PD2", "PD2 (Linux i.MX53)"},
      {8, 10, "PD10", "PD10 (Linux i.MX53)"},
      {8, 18, "PD2 (Extender)", "PDx (Linux i.MX53)"},
      {8, 26, "PD10 (Extender)", "PDx (Linux i.MX53)"},
      {8, 32, "Vardo ZRT", "ZRT (Linux i.MX53)"},
      {8, 48, "Vardo ZRT (Extender)", "PDx (Linux i.MX53)"},
      {8, 64, "Sonmark ZRT", "ZRT (Linux i.MX53)"},
      {8, 80, "Sonmark ZRT (Extender)", "PDx (Linux i.MX53)"},
      {8, 0, "Unknown", "PDx (Linux i.MX53)"},
      {9, 16, "R5 (Extender)", "r5 i.MX6"},
      {9, 0, "R5", "r5 i.MX6"},
      {9, 2, "R5", "r5 i.MX6"},
      {2, 1, "Unknown", "Limbet - LIGHTING"},
      {3, 4, "Unknown", "Limbet - HVAC"},
      {2, 7, "Unknown", "Limbet - IRRIGATION"},
      {3, 12, "Unknown", "Limbet - POOL"},
      {2, 2, "Unknown", "Unknown"},
      {4, 9, "Unknown", "Thermora System Controller"},
      {5, 0, "Unknown", "Limbet - PASSTHROUGH"},
      {6, 4, "Unknown", "KX4 (WinCE X86C)"},
      {6, 6, "Unknown", "KX6 (WinCE X86C)"},
      {6, 8, "Unknown", "KX8 (WinCE X86C)"},
      {6, 12, "Unknown", "KX12 (WinCE X86C)"},
      {6, 5, "Unknown", "Unknown"},
      {7, 2, "Unknown", "Plurock (WinCE ARMV4IA)"},
      {100, 2, "Unknown", "LOCALMACHINE"},
      {0, 2, "Unknown", "Unknown"},
      {10, 10, "Unknown", "Unknown"},
      {255, 64, "Unknown", "Unknown"},
  };
  for (const Naming& row : rows) {
    SCOPED_TRACE("type " + std::to_string(row.type) + " subtype " + std::to_string(row.subtype));
    EXPECT_EQ(GetModelName(uint8_t(row.type), uint8_t(row.subtype)), row.model);
    EXPECT_EQ(GetSystemTypeName(uint8_t(row.type), uint8_t(row.subtype)), row.system);
  }
}

TEST(DeviceTypes, HidesTheWinCeModelSubtypesAndThoseSixteenAboveWhateverTheRest) {
  std::vector<int> hidden;
  for (int subtype = 0; subtype < 256; ++subtype) {
    if (IsHiddenSubtype(uint8_t(subtype))) hidden.push_back(subtype);
  }
  EXPECT_EQ(hidden, (std::vector<int>{4, 6, 8, 12, 20, 22, 24, 28}));
}

TEST(DeviceTypes, EachFilterEntryLetsThroughWhatItNames) {
  struct Case {
    int type;
    int subtype;
    std::vector<int> passes;  // filter indexes, -1 for nothing selected
  };
  const std::vector<Case> cases = {
      {1, 2, {-1, 0, 4}},        {8, 18, {-1, 0, 4}},  {9, 2, {-1, 0, 1, 4}},  {9, 16, {-1, 0, 1}},
      {1, 10, {-1, 0, 3}},       {1, 26, {-1, 0, 3}},  {8, 32, {-1, 0, 2}},    {1, 48, {-1, 0, 2}},
      {1, 64, {-1, 0, 5}},       {8, 80, {-1, 0, 5}},  {7, 0, {-1, 0}},        {100, 3, {-1, 0}},
      {2, 64, {-1, 0, 5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("type " + std::to_string(c.type) + " subtype " + std::to_string(c.subtype));
    std::vector<int> passes;
    for (int index = -1; index <= 5; ++index) {
      if (PassesFilter(index, uint8_t(c.type), uint8_t(c.subtype))) passes.push_back(index);
    }
    EXPECT_EQ(passes, c.passes);
  }
}

DiscoveryAnswer Answer(uint32_t address, int type, int subtype, const char* mac) {
  DiscoveryAnswer answer;
  answer.address = address;
  answer.type = uint8_t(type);
  answer.subtype = uint8_t(subtype);
  answer.mac = mac;
  return answer;
}

TEST(DeviceTypes, DeviceLinesRightAlignMacAndAddressInTheirWidths) {
  struct Case {
    DiscoveryAnswer answer;
    const char* normal;
    const char* diagnostic;
  };
  const std::vector<Case> cases = {
      {Answer(MakeAddress(192, 168, 1, 20), 1, 2, "0050C2A1B2C3"), "00:50:C2:A1:B2:C3\t   192.168.1.20\tPD2",
       "Type: 0x01 SubType: 0x02\t00:50:C2:A1:B2:C3\t   192.168.1.20\tPD2"},
      {Answer(MakeAddress(10, 0, 0, 7), 9, 16, "0050c2a1b2c4"), "00:50:c2:a1:b2:c4\t       10.0.0.7\tR5 (Extender)",
       "Type: 0x09 SubType: 0x10\t00:50:c2:a1:b2:c4\t       10.0.0.7\tR5 (Extender)"},
      {Answer(MakeAddress(255, 255, 255, 255), 100, 200, "FFFFFFFFFFFF"),
       "FF:FF:FF:FF:FF:FF\t255.255.255.255\tUnknown",
       "Type: 0x64 SubType: 0xC8\tFF:FF:FF:FF:FF:FF\t255.255.255.255\tUnknown"},
      // A MAC text that ends early ends the display at its zero byte, after the colon that follows it.
      {Answer(MakeAddress(0, 0, 0, 0), 8, 80, "AB"), "              AB:\t        0.0.0.0\tSonmark ZRT (Extender)",
       "Type: 0x08 SubType: 0x50\t              AB:\t        0.0.0.0\tSonmark ZRT (Extender)"},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = AnswerBytes(c.answer);
    EXPECT_EQ(FormatDeviceLine(bytes.data(), 0), c.normal);
    EXPECT_EQ(FormatDeviceLine(bytes.data(), 1), c.diagnostic);
  }
}

TEST(DeviceTypes, ADeviceLineShowsOnlyTheFirstTwelveCharactersOfAMacTextThatRunsOn) {
  DiscoveryAnswer answer = Answer(MakeAddress(192, 168, 1, 21), 8, 10, "0050C2A1B2C5");
  answer.extra = "rev-b";
  std::vector<uint8_t> bytes = AnswerBytes(answer);
  EXPECT_EQ(FormatDeviceLine(bytes.data(), 0), "00:50:C2:A1:B2:C5\t   192.168.1.21\tPD10");
}

}  // namespace
