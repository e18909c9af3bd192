#pragma once
// File calls shaped like the Win32 ones the application makes. Paths take "\" and "/" alike as
// separators; a drive path "C:\..." lies below the drive root that the file system holds ("/" for
// the real program, a temporary folder in tests). Failures return 0, -1 or kInvalidFile, and
// GetLastError() tells why (errno on POSIX).
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using File = int;
constexpr File kInvalidFile = -1;

enum class Access { Read, Write };
enum class Disposition {
  OpenExisting,  // fail when missing
  CreateAlways,  // create, or truncate what is there
  OpenAlways,    // open, or create when missing
};
enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

File OpenFile(const std::string& path, Access access, Disposition disposition);
// 1 when the call worked; *done tells how many bytes moved (fewer at end of file).
int ReadFile(File f, void* buffer, uint32_t size, uint32_t* done);
int WriteFile(File f, const void* data, uint32_t size, uint32_t* done);
int64_t SeekFile(File f, int64_t distance, SeekOrigin origin);  // new position, or -1
int64_t GetFileSize(File f);                                    // or -1
int CloseFile(File f);

struct DirectoryEntry {
  std::string name;
  bool isDirectory = false;
};
// Every entry of the folder ("." and ".." included, as Windows lists them), in the order the file
// system returns them: no sorting. 0 when the folder cannot be read.
int ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries);

int CopyFile(const std::string& from, const std::string& to, bool failIfExists);

constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kAttributeReadOnly = 0x1;
constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeNormal = 0x80;
uint32_t GetFileAttributes(const std::string& path);
int SetFileAttributes(const std::string& path, uint32_t attributes);

std::string GetCurrentDirectory();
// Makes `path` (relative to the current directory, or a drive path) the current directory. 1 on
// success; 0 when it is no folder or cannot be entered, with the reason in GetLastError().
int SetCurrentDirectory(const std::string& path);
int GetLastError();

}  // namespace platform
