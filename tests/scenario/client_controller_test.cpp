// The client's session against the simulated controller: login under either system type and every
// request an upgrade makes, end to end inside a simulated LAN.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "net/codes.h"
#include "net/query.h"
#include "net/server.h"
#include "platform/sim/world.h"
#include "sim/controller.h"
#include "sim/world_reactor.h"
#include "support/vrfile.h"
#include "tests/support/test_world.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::Endpoint;
using platform::MakeAddress;

const uint32_t kPc = MakeAddress(192, 168, 1, 10);
const uint32_t kCtl = MakeAddress(192, 168, 1, 20);

class ClientAndController : public ::testing::Test {
 protected:
  void Start(uint8_t type) {
    root = testing_support::MakeTempFolder("bsplift-client-ctl");
    ASSERT_FALSE(root.empty());
    world.AddHost("pc", kPc);
    host = world.AddHost("controller", kCtl);
    reactor = std::make_unique<sim::WorldReactor>(world, host);
    sim::ControllerConfig config;
    config.address = kCtl;
    config.port = 7000;
    config.type = type;
    config.root = root;
    controller = std::make_unique<sim::Controller>(config);
    ASSERT_EQ(controller->Start(*reactor), 1);
  }

  ~ClientAndController() override {
    CloseServer();
    controller.reset();
    reactor.reset();
    if (!root.empty()) fs::remove_all(root);
  }

  int ConnectAs(int32_t systemType) {
    SetServer(std::make_unique<CVRServer>());
    GetServer()->SetTarget(systemType, "");
    return GetServer()->Connect(Endpoint{kCtl, 7000});
  }

  int Ask(CVRMSG& request, CVRMSG** answer = nullptr, uint32_t timeoutMs = 60000) {
    CVRQuery query;
    query.SetTimeout(timeoutMs);
    CVRMSG* got = nullptr;
    int ok = query.Ask(&got, &request);
    if (answer && ok) {
      keep = got->Clone();
      *answer = keep.get();
    }
    return ok;
  }

  int Shell(const std::string& line) {
    CVRMSG request(0, kCodeShellCommand, 0);
    request.AppendString(line);
    return Ask(request);
  }

  // Size and checksum the controller reports for a remote path.
  std::pair<int32_t, int32_t> Compare(const std::string& remote) {
    CVRMSG request(0, kCodeFileCompare, 0);
    request.AppendString(remote);
    CVRMSG* answer = nullptr;
    if (!Ask(request, &answer, 30000)) return {-2, 0};
    int32_t size = 0, sum = 0;
    answer->ReadInt(&size);
    answer->ReadInt(&sum);
    return {size, sum};
  }

  testing_support::TestWorld world{0, 99};
  platform::sim::HostId host = 0;
  std::string root;
  std::unique_ptr<sim::WorldReactor> reactor;
  std::unique_ptr<sim::Controller> controller;
  std::unique_ptr<CVRMSG> keep;
};

TEST_F(ClientAndController, AnR5RefusesTheTypeOneLoginAndAcceptsTypeNine) {
  Start(9);
  EXPECT_EQ(ConnectAs(1), 0);
  EXPECT_EQ(ConnectAs(9), 1);
}

TEST_F(ClientAndController, AnOlderControllerAcceptsTheTypeOneLogin) {
  Start(8);
  EXPECT_EQ(ConnectAs(1), 1);
}

TEST_F(ClientAndController, EveryRequestOfAnUpgradeIsAnsweredAndTheFilesLand) {
  Start(9);
  ASSERT_EQ(ConnectAs(9), 1);

  CVRMSG info(0, kCodeSystemInfo, 0);
  CVRMSG* answer = nullptr;
  ASSERT_EQ(Ask(info, &answer), 1);
  answer->ReadString();
  int32_t first = 0, last = 0, ignored = 0;
  answer->ReadInt(&first);
  for (int i = 0; i < 4; ++i) answer->ReadInt(&ignored);
  answer->ReadInt(&last);
  EXPECT_EQ(first, 9);  // type
  EXPECT_EQ(last, 0);   // subtype

  for (const char* line : {"umount /MIRU/BSP", "mkdir /MIRU/BSP", "mount /dev/mmcblk0p4 /MIRU/BSP",
                           "rm -Rf /MIRU/BSP/UPGRADE", "mkdir /MIRU/BSP/UPGRADE"}) {
    EXPECT_EQ(Shell(line), 1) << line;
  }
  EXPECT_EQ(Compare("BSP/UPGRADE\\rootfs.img").first, -1);

  // A file of two and a half chunks, sent the way the copy step sends it.
  std::vector<uint8_t> file(250000);
  for (size_t i = 0; i < file.size(); ++i) file[i] = uint8_t(i * 7 + i / 3);
  uint32_t sum = SumBytes(file.data(), file.size());
  CVRMSG announce(0, kCodeFileAnnounce, 0);
  announce.AppendString("BSP/UPGRADE\\rootfs.img");
  announce.AppendInt(int32_t(file.size()));
  announce.AppendInt(int32_t(file.size()));
  ASSERT_EQ(Ask(announce), 1);
  for (size_t at = 0; at < file.size(); at += 100000) {
    uint32_t n = uint32_t(std::min<size_t>(100000, file.size() - at));
    CVRMSG chunk(0, kCodeFileChunk, 0);
    chunk.AppendInt(int32_t(n));
    chunk.AppendBytes(file.data() + at, n);
    ASSERT_EQ(GetServer()->SendMsg(&chunk), 1);
    while (!GetServer()->GetConnection()->CanWrite()) ASSERT_NE(GetServer()->Service(50), 2);
  }
  std::pair<int32_t, int32_t> stored = Compare("BSP/UPGRADE\\rootfs.img");
  EXPECT_EQ(stored.first, 250000);
  EXPECT_EQ(uint32_t(stored.second), sum);
  std::ifstream landed(root + "/mmcblk0p4/UPGRADE/rootfs.img", std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(landed), {}), file);

  std::ofstream(root + "/mmcblk0p4/UPGRADE/upgrade.sh") << "#!/bin/sh\n";
  EXPECT_EQ(Shell("chmod -R 755 /MIRU/BSP"), 1);
  EXPECT_EQ(Shell("sh /MIRU/BSP/UPGRADE/upgrade.sh &"), 1);
  EXPECT_EQ(controller->UpgradeRuns(), 1);
  EXPECT_EQ(world.RunUntil([] { return GetServer()->Service(50) == 2; }, 1000), 1);  // it went away
}

}  // namespace
