#pragma once
// The real operating system behind the platform seam (POSIX). OS headers stay in the .cpp files.
#include <string>

#include "platform/services.h"

namespace platform::posix {

ClockService& RealClock();
NetworkService& RealNetwork();
FileService& RealFiles();

// The file system as the program sees it: drive paths "C:\..." below `driveRoot`, relative paths
// below `currentDirectory` (the process's own when empty).
class FileSystem : public FileService {
 public:
  explicit FileSystem(std::string driveRoot = "/", std::string currentDirectory = "");

  // The host path for a program path: separators made "/", drive letter mapped, relative made absolute.
  std::string HostPath(const std::string& path) const;

  File OpenFile(const std::string& path, Access access, Disposition disposition) override;
  int ReadFile(File f, void* buffer, uint32_t size, uint32_t* done) override;
  int WriteFile(File f, const void* data, uint32_t size, uint32_t* done) override;
  int64_t SeekFile(File f, int64_t distance, SeekOrigin origin) override;
  int64_t GetFileSize(File f) override;
  int CloseFile(File f) override;
  int ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) override;
  int CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
  uint32_t GetFileAttributes(const std::string& path) override;
  int SetFileAttributes(const std::string& path, uint32_t attributes) override;
  std::string GetCurrentDirectory() override;
  // A simulated current directory moves; otherwise the process's own does (chdir).
  int SetCurrentDirectory(const std::string& path) override;
  int GetLastError() override;

 private:
  int Fail();  // keeps errno as the last error and returns 0

  std::string driveRoot;
  std::string currentDirectory;
  int lastError = 0;
};

}  // namespace platform::posix
