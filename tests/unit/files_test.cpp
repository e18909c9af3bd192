// The file calls of the platform seam on the real file system, inside a temporary drive root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/file.h"
#include "platform/real.h"
#include "platform/services.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace platform;

// The reasons a failed call gives: errno on POSIX, the system's own error codes on Windows.
#ifdef _WIN32
constexpr int kNoFile = 2;    // ERROR_FILE_NOT_FOUND
constexpr int kNoFolder = 3;  // ERROR_PATH_NOT_FOUND
constexpr int kDenied = 5;    // ERROR_ACCESS_DENIED
#else
constexpr int kNoFile = ENOENT;
constexpr int kNoFolder = ENOENT;
constexpr int kDenied = EACCES;
#endif

// The attributes the program acts on; Windows adds others of its own (archive, indexed).
uint32_t Kind(uint32_t attributes) {
  return attributes == kInvalidFileAttributes ? attributes : attributes & (kAttributeReadOnly | kAttributeDirectory);
}

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    root = testing_support::MakeTempFolder("bsplift-files");
    ASSERT_FALSE(root.empty());
    fs::create_directories(root + "/work");
    files = std::make_unique<os::FileSystem>(root, root + "/work");
    previous = Install(Services{nullptr, nullptr, files.get()});
  }

  void TearDown() override {
    Install(previous);
    fs::permissions(root, fs::perms::all, fs::perm_options::add);
    fs::remove_all(root);
  }

  void Put(const std::string& hostPath, const std::string& text) {
    fs::create_directories(fs::path(hostPath).parent_path());
    std::ofstream(hostPath, std::ios::binary) << text;
  }

  std::string Get(const std::string& hostPath) {
    std::ifstream in(hostPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::string root;
  std::unique_ptr<os::FileSystem> files;
  Services previous;
};

TEST_F(Files, PathsTakeEitherSeparatorAndDrivePathsLieBelowTheDriveRoot) {
  const struct {
    std::string path;
    std::string host;
  } cases[] = {
      {"C:\\VELMORANT\\BSP\\UPGRADE\\a.bin", "/VELMORANT/BSP/UPGRADE/a.bin"},
      {"c:/VELMORANT/b.bin", "/VELMORANT/b.bin"},
      {"BSP/UPGRADE\\c.bin", "/work/BSP/UPGRADE/c.bin"},
      {root + "/work\\BSP\\d.bin", "/work/BSP/d.bin"},
  };
  for (const auto& c : cases) {
    Put(root + c.host, c.path);
    File f = OpenFile(c.path, Access::Read, Disposition::OpenExisting);
    ASSERT_NE(f, kInvalidFile) << c.path;
    char buffer[200] = {};
    uint32_t got = 0;
    EXPECT_EQ(ReadFile(f, buffer, sizeof buffer, &got), 1);
    EXPECT_EQ(std::string(buffer, got), c.path);
    EXPECT_EQ(CloseFile(f), 1);
  }
  EXPECT_EQ(GetCurrentDirectory(), root + "/work");
}

TEST_F(Files, DispositionsOpenCreateOrTruncate) {
  std::string path = "C:\\f.txt";
  EXPECT_EQ(OpenFile(path, Access::Read, Disposition::OpenExisting), kInvalidFile);
  EXPECT_EQ(GetLastError(), kNoFile);

  File f = OpenFile(path, Access::Write, Disposition::OpenAlways);
  ASSERT_NE(f, kInvalidFile);
  uint32_t done = 0;
  EXPECT_EQ(WriteFile(f, "hello", 5, &done), 1);
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(GetFileSize(f), 5);
  EXPECT_EQ(SeekFile(f, -2, SeekOrigin::End), 3);
  CloseFile(f);

  f = OpenFile(path, Access::Write, Disposition::OpenAlways);  // keeps what is there
  EXPECT_EQ(GetFileSize(f), 5);
  CloseFile(f);
  f = OpenFile(path, Access::Write, Disposition::CreateAlways);  // truncates
  EXPECT_EQ(GetFileSize(f), 0);
  CloseFile(f);
}

TEST_F(Files, ListingGivesEveryEntryWithItsKindAndFailsForAMissingFolder) {
  Put(root + "/work/BSP/UPGRADE/upgrade.sh", "#!/bin/sh\n");
  Put(root + "/work/BSP/UPGRADE/.hidden", "x");
  fs::create_directories(root + "/work/BSP/UPGRADE/sub");
  std::vector<DirectoryEntry> entries;
  ASSERT_EQ(ListDirectory("BSP\\UPGRADE", &entries), 1);
  std::set<std::pair<std::string, bool>> seen;
  for (const DirectoryEntry& e : entries) seen.insert({e.name, e.isDirectory});
  EXPECT_EQ(seen, (std::set<std::pair<std::string, bool>>{
                      {".", true}, {"..", true}, {".hidden", false}, {"sub", true}, {"upgrade.sh", false}}));
  EXPECT_EQ(ListDirectory("BSP\\MISSING", &entries), 0);
}

TEST_F(Files, ReadOnlyAttributeIsReadClearedAndHonouredLikeWindows) {
  Put(root + "/VELMORANT/t.bin", "old");
  Put(root + "/work/s.bin", "new");
  std::string target = "C:\\VELMORANT\\t.bin";
  EXPECT_EQ(Kind(GetFileAttributes(target)), 0u);
  EXPECT_EQ(Kind(GetFileAttributes("C:\\VELMORANT")), kAttributeDirectory);
  EXPECT_EQ(GetFileAttributes("C:\\nothing"), kInvalidFileAttributes);
  EXPECT_EQ(GetLastError(), kNoFile);

  ASSERT_EQ(SetFileAttributes(target, kAttributeReadOnly), 1);
  EXPECT_EQ(Kind(GetFileAttributes(target)), kAttributeReadOnly);
  // Windows refuses to overwrite a read-only file, administrator or not; so do we, even as root.
  EXPECT_EQ(CopyFile("s.bin", target, false), 0);
  EXPECT_EQ(GetLastError(), kDenied);
  EXPECT_EQ(Get(root + "/VELMORANT/t.bin"), "old");

  ASSERT_EQ(SetFileAttributes(target, GetFileAttributes(target) & ~kAttributeReadOnly), 1);
  EXPECT_EQ(Kind(GetFileAttributes(target)), 0u);
  EXPECT_EQ(CopyFile("s.bin", target, true), 0);  // it exists
  EXPECT_EQ(CopyFile("s.bin", target, false), 1);
  EXPECT_EQ(Get(root + "/VELMORANT/t.bin"), "new");
}

TEST_F(Files, CopyDoesNotCreateTheTargetFolder) {
  Put(root + "/work/s.bin", "data");
  EXPECT_EQ(CopyFile("s.bin", "C:\\VELMORANT\\BSP\\UPGRADE\\s.bin", false), 0);
  EXPECT_EQ(GetLastError(), kNoFolder);
}

}  // namespace
