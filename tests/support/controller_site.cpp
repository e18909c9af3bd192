#include "tests/support/controller_site.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/file.h"
#include "tests/support/temp_folder.h"

#include "platform/clock.h"

namespace testing_support {
namespace {

namespace fs = std::filesystem;

std::string MakeSiteFolder() {
  std::string folder = MakeTempFolder("bsplift-site");
  if (folder.empty()) ADD_FAILURE() << "cannot make a temporary folder";
  return folder;
}

}  // namespace

ControllerSite::ControllerSite(platform::sim::World& world) : world(world), base(MakeSiteFolder()) {
  fs::create_directories(fs::path(base) / "pc");
  fs::create_directories(fs::path(base) / "drive");
  world.SetFiles(DriveRoot(), base + "/pc");
  world.AddHost("pc", kPcAddress);
  host = world.AddHost("controller", kControllerAddress);
  config.address = kControllerAddress;
  config.port = kServicePort;
  config.root = base + "/controller";
  config.log = [this](const std::string& line) {
    log.push_back(line);
    logTicks.push_back(platform::GetTickCount());
    if (stallAfterChunks >= 0 && line.find(" request 14032 ") != std::string::npos) StallAtAnnouncement(line);
    if (watcher) watcher(line);
  };
}

ControllerSite::~ControllerSite() {
  controller.reset();
  reactor.reset();
  std::error_code ignored;
  fs::remove_all(base, ignored);
}

void ControllerSite::StallWhenChunksFillTheWindow(int chunks, uint32_t stallMs) {
  stallAfterChunks = chunks;
  config.faults.stallMs = stallMs;
}

void ControllerSite::StallAtAnnouncement(const std::string& line) {
  // Nothing follows an announcement before its answer, so what the connection ("#N ...") has read
  // by now is all that precedes the chunks.
  constexpr int64_t kChunkFrameBytes = 8 + 4 + 100000;  // header, length item, the bytes
  int64_t beforeChunks = controller->BytesRead(std::atoi(line.c_str() + 1));
  controller->Faults().stallAfterBytes =
      beforeChunks + stallAfterChunks * kChunkFrameBytes - int64_t(platform::sim::kStreamWindowBytes);
  stallAfterChunks = -1;
}

int ControllerSite::Start() {
  reactor = std::make_unique<sim::WorldReactor>(world, host);
  controller = std::make_unique<sim::Controller>(config);
  return controller->Start(*reactor);
}

std::vector<int> ControllerSite::RequestCodes() const {
  static constexpr char kRequest[] = " request ";
  std::vector<int> codes;
  for (const std::string& line : log) {
    size_t at = line.find(kRequest);
    if (line.rfind("#", 0) != 0 || at == std::string::npos) continue;
    codes.push_back(std::atoi(line.c_str() + at + sizeof kRequest - 1));
  }
  return codes;
}

std::vector<std::string> ControllerSite::LogLinesWith(const std::string& text) const {
  std::vector<std::string> lines;
  for (const std::string& line : log) {
    if (line.find(text) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

std::vector<uint32_t> ControllerSite::TicksOf(const std::string& text) const {
  std::vector<uint32_t> ticks;
  for (size_t i = 0; i < log.size(); ++i) {
    if (log[i].find(text) != std::string::npos) ticks.push_back(logTicks[i]);
  }
  return ticks;
}

std::vector<std::string> ControllerSite::CommandsReceived() const {
  std::ifstream in(config.root + "/commands.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ControllerSite::PayloadFolder() const {
  fs::path folder = fs::path(base) / "pc" / "BSP" / "UPGRADE";
  fs::create_directories(folder);
  return folder.string();
}

void ControllerSite::WritePayload(const std::string& name, const std::vector<uint8_t>& bytes) const {
  WriteHostFile(PayloadFolder() + "/" + name, bytes);
}

std::vector<std::string> ControllerSite::PayloadOrder() const {
  std::vector<platform::DirectoryEntry> entries;
  EXPECT_TRUE(platform::ListDirectory(PayloadFolder(), &entries));
  std::vector<std::string> names;
  for (const platform::DirectoryEntry& entry : entries) {
    if (!entry.isDirectory && entry.name[0] != '.') names.push_back(entry.name);
  }
  return names;
}

std::string ControllerSite::ControllerUpgradeFolder() const { return config.root + "/mmcblk0p4/UPGRADE"; }

void ControllerSite::WriteOnController(const std::string& name, const std::vector<uint8_t>& bytes) const {
  fs::create_directories(ControllerUpgradeFolder());
  WriteHostFile(ControllerUpgradeFolder() + "/" + name, bytes);
}

std::vector<uint8_t> ControllerSite::StoredOnController(const std::string& name) const {
  return ReadHostFile(ControllerUpgradeFolder() + "/" + name);
}

bool ControllerSite::OnController(const std::string& name) const {
  return fs::is_regular_file(ControllerUpgradeFolder() + "/" + name);
}

std::vector<uint8_t> ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteHostFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::vector<uint8_t> PatternBytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 7 + (i >> 9));
  return bytes;
}

}  // namespace testing_support
