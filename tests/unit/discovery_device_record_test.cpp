#include "discovery/device_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/world.h"
#include "platform/socket.h"
#include "tests/support/fake_controllers.h"
#include "tests/support/test_world.h"

namespace {

using platform::MakeAddress;
using testing_support::AnswerBytes;
using testing_support::DiscoveryAnswer;

DiscoveryAnswer Pd10() {
  DiscoveryAnswer answer;
  answer.address = MakeAddress(192, 168, 1, 20);
  answer.port = 0x1F92;
  answer.type = 8;
  answer.subtype = 10;
  answer.name = "Kitchen";
  answer.mac = "0050C2A1B2C3";
  return answer;
}

TEST(DeviceRecord, TakesEveryFieldFromTheAnswer) {
  testing_support::TestWorld world(5000);
  world.AddHost("pc", MakeAddress(192, 168, 1, 10));
  DiscoveryAnswer fields = Pd10();
  fields.extra = "";
  std::vector<uint8_t> bytes = AnswerBytes(fields);
  bytes[52] = 0;  // the MAC text ends after its twelve characters
  DeviceRecord record(bytes.data(), fields.address);
  EXPECT_EQ(record.name, "Kitchen");
  EXPECT_EQ(record.macText, "0050C2A1B2C3");
  EXPECT_EQ(record.extraText, "");
  EXPECT_EQ(record.address, MakeAddress(192, 168, 1, 20));
  EXPECT_EQ(record.port, 0x1F92);
  EXPECT_EQ(record.type, 8);
  EXPECT_EQ(record.subtype, 10);
  EXPECT_EQ(record.lastHeard, 5000u);
}

TEST(DeviceRecord, AMacTextWithoutItsZeroByteRunsOnIntoTheSecondText) {
  DiscoveryAnswer fields = Pd10();
  fields.extra = "rev-b";
  std::vector<uint8_t> bytes = AnswerBytes(fields);
  DeviceRecord record(bytes.data(), fields.address);
  EXPECT_EQ(record.macText, "0050C2A1B2C3rev-b");
  EXPECT_EQ(record.extraText, "rev-b");
}

TEST(DeviceRecord, TextsThatAreNeverTerminatedStopAtTheEndOfTheAnswer) {
  std::vector<uint8_t> bytes(180, 'x');
  DeviceRecord record(bytes.data(), 0);
  EXPECT_EQ(record.name, std::string(168, 'x'));
  EXPECT_EQ(record.macText, std::string(140, 'x'));
  EXPECT_EQ(record.extraText, std::string(128, 'x'));
}

TEST(DeviceRecord, ACopyKeepsEverythingButIsHeardAtTheTimeOfTheCopy) {
  testing_support::TestWorld world(100);
  world.AddHost("pc", MakeAddress(192, 168, 1, 10));
  DiscoveryAnswer fields = Pd10();
  fields.extra = "rev-b";
  std::vector<uint8_t> bytes = AnswerBytes(fields);
  DeviceRecord original(bytes.data(), fields.address);
  world.RunFor(2500);
  DeviceRecord copy(original);
  EXPECT_EQ(copy.name, original.name);
  EXPECT_EQ(copy.macText, original.macText);
  EXPECT_EQ(copy.extraText, original.extraText);
  EXPECT_EQ(copy.address, original.address);
  EXPECT_EQ(copy.port, original.port);
  EXPECT_EQ(copy.type, original.type);
  EXPECT_EQ(copy.subtype, original.subtype);
  EXPECT_EQ(original.lastHeard, 100u);
  EXPECT_EQ(copy.lastHeard, 2600u);
}

TEST(DeviceRecord, KnowsWhichTypesAreFullWinCeAndLinuxControllers) {
  std::vector<int> full, winCe, linux;
  std::vector<uint8_t> bytes(180, 0);
  for (int type = 0; type < 256; ++type) {
    bytes[10] = uint8_t(type);
    DeviceRecord record(bytes.data(), 0);
    EXPECT_EQ(record.GetType(), type);
    if (record.IsFullController()) full.push_back(type);
    if (record.IsWinCE()) winCe.push_back(type);
    if (record.IsLinux()) linux.push_back(type);
  }
  EXPECT_EQ(full, (std::vector<int>{1, 6, 7, 8, 9, 100}));
  EXPECT_EQ(winCe, (std::vector<int>{6, 7}));
  EXPECT_EQ(linux, (std::vector<int>{8, 9}));
}

}  // namespace
