#include "support/vrfile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "platform/file.h"
#include "tests/support/temp_folder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using platform::SeekOrigin;

constexpr uint32_t kBuffer = CVRFile::kBufferSize;

// Not periodic within a buffer or a checksum block, so a byte from the wrong offset shows.
Bytes Pattern(size_t n) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = uint8_t(i * 7 + (i >> 8));
  return bytes;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t n) {
  return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + n));
}

uint32_t ReferenceSum(const Bytes& bytes) { return std::accumulate(bytes.begin(), bytes.end(), uint32_t{0}); }

// Real files in a fresh folder; the fixture's own reads and writes go around CVRFile.
class VRFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = testing_support::MakeTempFolder("vrfile");
    ASSERT_FALSE(folder.empty());
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  std::string PathOf(const std::string& name) const { return folder + "/" + name; }

  void Put(const std::string& path, const Bytes& bytes) {
    platform::File f = platform::OpenFile(path, platform::Access::Write, platform::Disposition::CreateAlways);
    ASSERT_NE(f, platform::kInvalidFile);
    uint32_t done = 0;
    ASSERT_TRUE(platform::WriteFile(f, bytes.data(), uint32_t(bytes.size()), &done));
    ASSERT_EQ(done, bytes.size());
    platform::CloseFile(f);
  }

  // What the file system holds now, whatever a CVRFile still has in its buffer.
  Bytes Contents(const std::string& path) {
    platform::File f = platform::OpenFile(path, platform::Access::Read, platform::Disposition::OpenExisting);
    if (f == platform::kInvalidFile) return {};
    Bytes bytes(size_t(platform::GetFileSize(f)));
    uint32_t done = 0;
    platform::ReadFile(f, bytes.data(), uint32_t(bytes.size()), &done);
    platform::CloseFile(f);
    bytes.resize(done);
    return bytes;
  }

  bool Exists(const std::string& path) {
    return platform::GetFileAttributes(path) != platform::kInvalidFileAttributes;
  }

  std::string folder;
};

// --- CheckSum ---

TEST(SumBytes, AgreesWithAPlainSumWhateverTheLengthAndBytes) {
  // Lengths around its 16-byte rows and 4096-byte rounds; all-0xFF bytes fill its 16-bit lanes.
  const size_t lengths[] = {0, 1, 15, 16, 17, 4095, 4096, 4097, 8192, 10000};
  for (const Bytes& bytes : {Pattern(10000), Bytes(10000, 0xFF)}) {
    for (size_t n : lengths) {
      EXPECT_EQ(SumBytes(bytes.data(), n), ReferenceSum(Slice(bytes, 0, n))) << n << " bytes from " << int(bytes[1]);
    }
  }
}

TEST_F(VRFileTest, CheckSumAddsEveryByteAsAnUnsignedValue) {
  struct Case {
    const char* what;
    Bytes bytes;
    uint32_t expected;
  };
  const Case cases[] = {
      {"empty", {}, 0},
      {"FF FF 01", {0xFF, 0xFF, 0x01}, 511},
      {"two whole blocks", Pattern(2 * CVRFile::kCheckSumBlock), ReferenceSum(Pattern(2 * CVRFile::kCheckSumBlock))},
      {"blocks and a tail", Pattern(34567), ReferenceSum(Pattern(34567))},
  };
  for (const Case& c : cases) {
    Put(PathOf("sum"), c.bytes);
    CVRFile file(PathOf("sum"));
    EXPECT_EQ(file.CheckSum(), c.expected) << c.what;
  }
}

TEST_F(VRFileTest, CheckSumWrapsAtThirtyTwoBits) {
  // 255 * 16843009 = 0xFFFFFFFF, so one more 0xFF byte wraps the sum round to 254.
  const uint32_t count = 16843010;
  Put(PathOf("big"), Bytes(count, 0xFF));
  CVRFile file(PathOf("big"));
  EXPECT_EQ(file.CheckSum(), 254u);
}

TEST_F(VRFileTest, CheckSumOpensAClosedFileAndLeavesItOpenAtTheStart) {
  const Bytes bytes = Pattern(12000);
  Put(PathOf("f"), bytes);
  CVRFile file(PathOf("f"));
  EXPECT_EQ(file.CheckSum(), ReferenceSum(bytes));
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetPosition(), 0);
  Bytes head(4);
  ASSERT_TRUE(file.Read(head.data(), 4));
  EXPECT_EQ(head, Slice(bytes, 0, 4));
}

TEST_F(VRFileTest, CheckSumCountsFromTheStartWhateverWasReadBefore) {
  const Bytes bytes = Pattern(12000);
  Put(PathOf("f"), bytes);
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeRead, 0, 0, 0));
  Bytes some(700);
  ASSERT_TRUE(file.Read(some.data(), 700));
  EXPECT_EQ(file.CheckSum(), ReferenceSum(bytes));
  EXPECT_EQ(file.GetPosition(), 0);
}

TEST_F(VRFileTest, CheckSumOfAMissingFileIsZeroAndLeavesItClosed) {
  CVRFile file(PathOf("missing"));
  EXPECT_EQ(file.CheckSum(), 0u);
  EXPECT_FALSE(file.IsOpen());
}

// --- Open ---

TEST_F(VRFileTest, OpenModesCreateTruncateAppendOrRefuse) {
  const Bytes before = {'a', 'b', 'c'};
  const Bytes added = {'x', 'y'};
  struct Case {
    uint32_t mode;
    bool exists;
    bool opens;
    Bytes after;  // file contents once "xy" was written (when writable) and the file closed
    bool existsAfter;
  };
  const Case cases[] = {
      {1, true, true, {'a', 'b', 'c'}, true},
      {1, false, false, {}, false},
      {2, true, true, {'x', 'y'}, true},
      {2, false, true, {'x', 'y'}, true},
      {3, true, true, {'a', 'b', 'c', 'x', 'y'}, true},
      {3, false, true, {'x', 'y'}, true},
      {0, true, false, {'a', 'b', 'c'}, true},
      {4, true, false, {'a', 'b', 'c'}, true},
      {0, false, false, {}, false},
      {4, false, false, {}, false},
  };
  for (const Case& c : cases) {
    const std::string path = PathOf("mode" + std::to_string(c.mode) + (c.exists ? "-there" : "-missing"));
    if (c.exists) Put(path, before);
    {
      CVRFile file(path);
      EXPECT_EQ(file.Open(c.mode, 0, 0, 0), c.opens ? 1 : 0) << path;
      EXPECT_EQ(file.IsOpen(), c.opens ? 1 : 0) << path;
      EXPECT_EQ(file.Write(added.data(), 2), c.opens && c.mode != 1 ? 1 : 0) << path;
    }
    EXPECT_EQ(Exists(path), c.existsAfter) << path;
    EXPECT_EQ(Contents(path), c.after) << path;
  }
}

TEST_F(VRFileTest, OpenClosesWhatWasOpenWritingItsPendingBytes) {
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeWrite, 0, 0, 0));
  ASSERT_TRUE(file.Write("abc", 3));
  EXPECT_EQ(file.Open(4, 0, 0, 0), 0);
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(Contents(PathOf("f")), (Bytes{'a', 'b', 'c'}));
}

// --- Write ---

TEST_F(VRFileTest, WriteBuffersUntilTheBufferWouldFillAndSendsLargeRequestsStraightThrough) {
  struct Case {
    const char* what;
    std::vector<uint32_t> writes;
    std::vector<uint32_t> onDisk;  // file size after each write
  };
  const Case cases[] = {
      {"4999 then 1 flushes before buffering the 1", {4999, 1}, {0, 4999}},
      {"exactly a buffer waits", {5000}, {0}},
      {"a full buffer goes out on the next write", {5000, 1}, {0, 5000}},
      {"6000 into an empty buffer goes straight out", {6000}, {6000}},
      {"pending bytes go out ahead of a large write", {10, 6000}, {0, 6010}},
      {"an overflowing small write is buffered after the flush", {4990, 20}, {0, 4990}},
  };
  for (const Case& c : cases) {
    const std::string path = PathOf("w");
    const uint32_t total = std::accumulate(c.writes.begin(), c.writes.end(), 0u);
    const Bytes bytes = Pattern(total);
    CVRFile file(path);
    ASSERT_TRUE(file.Open(CVRFile::kModeWrite, 0, 0, 0));
    uint32_t at = 0;
    for (size_t i = 0; i < c.writes.size(); ++i) {
      EXPECT_TRUE(file.Write(bytes.data() + at, c.writes[i])) << c.what;
      at += c.writes[i];
      EXPECT_EQ(Contents(path).size(), c.onDisk[i]) << c.what << ", write " << i;
      EXPECT_EQ(file.GetLength(), c.onDisk[i]) << c.what << ", write " << i;
      EXPECT_EQ(file.GetPosition(), at) << c.what << ", write " << i;
    }
    file.Close();
    EXPECT_EQ(Contents(path), bytes) << c.what;
  }
}

TEST_F(VRFileTest, DestructionWritesPendingBytes) {
  {
    CVRFile file(PathOf("f"));
    ASSERT_TRUE(file.Open(CVRFile::kModeAppend, 0, 0, 0));
    ASSERT_TRUE(file.Write("abc", 3));
    EXPECT_TRUE(Contents(PathOf("f")).empty());
  }
  EXPECT_EQ(Contents(PathOf("f")), (Bytes{'a', 'b', 'c'}));
}

TEST_F(VRFileTest, AppendPositionsCountFromTheOldEnd) {
  Put(PathOf("f"), {'a', 'b', 'c'});
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeAppend, 0, 0, 0));
  EXPECT_EQ(file.GetPosition(), 3);
  ASSERT_TRUE(file.Write("de", 2));
  EXPECT_EQ(file.GetPosition(), 5);
  EXPECT_EQ(file.GetLength(), 3u);  // pending bytes are not in the file yet
}

// --- Read ---

TEST_F(VRFileTest, ReadDeliversTheFileInOrderAcrossRefillsAndDirectReads) {
  const Bytes bytes = Pattern(23456);
  Put(PathOf("f"), bytes);
  // 4900 finishes the first load exactly, so 6000 finds the buffer empty and bypasses it; 7000
  // starts inside a load and takes the rest through refills.
  const uint32_t pieces[] = {1, 99, 4900, 6000, 3, 7000, 5453};
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeRead, 0, 0, 0));
  uint32_t at = 0;
  for (uint32_t n : pieces) {
    Bytes got(n);
    ASSERT_TRUE(file.Read(got.data(), n)) << "at " << at;
    EXPECT_EQ(got, Slice(bytes, at, n)) << "at " << at;
    at += n;
    EXPECT_EQ(file.GetPosition(), at);
  }
  ASSERT_EQ(at, bytes.size());
  uint8_t one = 0;
  EXPECT_EQ(file.Read(&one, 1), 0);
}

TEST_F(VRFileTest, ReadFailsWhenTheFileEndsBeforeTheRequestIsMet) {
  struct Case {
    const char* what;
    uint32_t fileSize;
    uint32_t skip;  // read first, successfully
    uint32_t ask;
  };
  const Case cases[] = {
      {"buffered, short file", 100, 0, 200},
      {"buffered, across a refill", 7000, 3000, 4500},
      {"direct, short file", 6000, 0, 7000},
      {"direct, after a whole load", 12000, 5000, 7001},
      {"at the end", 100, 100, 1},
  };
  for (const Case& c : cases) {
    const Bytes bytes = Pattern(c.fileSize);
    Put(PathOf("f"), bytes);
    CVRFile file(PathOf("f"));
    ASSERT_TRUE(file.Open(CVRFile::kModeRead, 0, 0, 0));
    Bytes got(std::max(c.skip, c.ask));
    ASSERT_TRUE(file.Read(got.data(), c.skip)) << c.what;
    EXPECT_EQ(file.Read(got.data(), c.ask), 0) << c.what;
    EXPECT_EQ(Slice(got, 0, c.fileSize - c.skip), Slice(bytes, c.skip, c.fileSize - c.skip)) << c.what;
  }
}

TEST_F(VRFileTest, ReadThatEndsExactlyAtTheEndSucceedsOnBothPaths) {
  for (uint32_t size : {100u, kBuffer, 6000u}) {
    const Bytes bytes = Pattern(size);
    Put(PathOf("f"), bytes);
    CVRFile file(PathOf("f"));
    ASSERT_TRUE(file.Open(CVRFile::kModeRead, 0, 0, 0));
    Bytes got(size);
    EXPECT_TRUE(file.Read(got.data(), size)) << size;
    EXPECT_EQ(got, bytes) << size;
  }
}

TEST_F(VRFileTest, ReadExactHandsOutLoadedBytesBeforeReadingTheFile) {
  const Bytes bytes = Pattern(20000);
  Put(PathOf("f"), bytes);
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeRead, 0, 0, 0));
  Bytes got(13000);
  ASSERT_TRUE(file.Read(got.data(), 10));
  ASSERT_TRUE(file.ReadExact(got.data(), 7000));
  EXPECT_EQ(Slice(got, 0, 7000), Slice(bytes, 10, 7000));
  ASSERT_TRUE(file.ReadExact(got.data(), 3));
  EXPECT_EQ(Slice(got, 0, 3), Slice(bytes, 7010, 3));
  EXPECT_EQ(file.GetPosition(), 7013);
  EXPECT_EQ(file.ReadExact(got.data(), 13000), 0);  // 12987 remain
}

TEST_F(VRFileTest, ReadingNeedsAFileOpenForReading) {
  Put(PathOf("f"), Pattern(10));
  CVRFile file(PathOf("f"));
  Bytes got(10);
  EXPECT_EQ(file.ReadExact(got.data(), 10), 0);
  EXPECT_EQ(file.Read(got.data(), 10), 0);
  ASSERT_TRUE(file.Open(CVRFile::kModeAppend, 0, 0, 0));
  ASSERT_TRUE(file.Write("abc", 3));
  EXPECT_EQ(file.Read(got.data(), 3), 0);  // the pending bytes are not handed out as read
  EXPECT_EQ(file.ReadExact(got.data(), 3), 0);
}

// --- Seek and positions ---

TEST_F(VRFileTest, SeekInReadModeLandsOnTheRightByteInsideAndOutsideTheLoadedBytes) {
  const Bytes bytes = Pattern(20000);
  Put(PathOf("f"), bytes);
  struct Step {
    int64_t distance;
    SeekOrigin origin;
    int64_t expected;
  };
  // Each step follows the previous one, after which one byte is read.
  const Step steps[] = {
      {100, SeekOrigin::Current, 112},    // inside the load that the first read made
      {0, SeekOrigin::Current, 113},
      {2000, SeekOrigin::Begin, 2000},    // forward, still inside
      {1000, SeekOrigin::Begin, 1000},    // backward: the handle moves
      {5000, SeekOrigin::Current, 6001},  // past the loaded bytes
      {-2, SeekOrigin::Current, 6000},
      {-10, SeekOrigin::End, 19990},
      {0, SeekOrigin::Begin, 0},
      {4999, SeekOrigin::Current, 5000},  // just past the load: from the file
  };
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeRead, 0, 0, 0));
  uint8_t byte = 0;
  ASSERT_TRUE(file.Read(&byte, 1));
  ASSERT_EQ(file.Seek(10, SeekOrigin::Current), 11);
  ASSERT_TRUE(file.Read(&byte, 1));
  for (const Step& s : steps) {
    EXPECT_EQ(file.Seek(s.distance, s.origin), s.expected) << s.distance;
    EXPECT_EQ(file.GetPosition(), s.expected) << s.distance;
    ASSERT_TRUE(file.Read(&byte, 1)) << s.distance;
    EXPECT_EQ(byte, bytes[size_t(s.expected)]) << s.distance;
  }
}

TEST_F(VRFileTest, SeekInWriteModeWritesPendingBytesFirst) {
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeWrite, 0, 0, 0));
  ASSERT_TRUE(file.Write("abcdef", 6));
  EXPECT_EQ(file.GetPosition(), 6);
  EXPECT_EQ(file.Seek(-4, SeekOrigin::Current), 2);
  EXPECT_EQ(Contents(PathOf("f")).size(), 6u);
  ASSERT_TRUE(file.Write("X", 1));
  file.Close();
  EXPECT_EQ(Contents(PathOf("f")), (Bytes{'a', 'b', 'X', 'd', 'e', 'f'}));
}

TEST_F(VRFileTest, FlushInReadModeKeepsThePosition) {
  const Bytes bytes = Pattern(8000);
  Put(PathOf("f"), bytes);
  CVRFile file(PathOf("f"));
  ASSERT_TRUE(file.Open(CVRFile::kModeRead, 0, 0, 0));
  Bytes got(10);
  ASSERT_TRUE(file.Read(got.data(), 10));
  EXPECT_TRUE(file.Flush());
  EXPECT_EQ(file.GetPosition(), 10);
  ASSERT_TRUE(file.Read(got.data(), 10));
  EXPECT_EQ(got, Slice(bytes, 10, 10));
}

TEST_F(VRFileTest, AClosedFileHasNoPosition) {
  CVRFile file(PathOf("f"));
  EXPECT_EQ(file.Seek(0, SeekOrigin::Begin), -1);
  EXPECT_EQ(file.GetPosition(), -1);
}

// --- GetLength ---

TEST_F(VRFileTest, GetLengthOfAClosedFileOpensToAskAndClosesAgain) {
  Put(PathOf("f"), Pattern(12345));
  CVRFile file(PathOf("f"));
  EXPECT_EQ(file.GetLength(), 12345u);
  EXPECT_FALSE(file.IsOpen());

  CVRFile missing(PathOf("missing"));
  EXPECT_EQ(missing.GetLength(), 0u);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_FALSE(Exists(PathOf("missing")));
}

}  // namespace
