#pragma once
// The real operating system behind the platform seam (Win32). OS headers stay in the .cpp files.
#include <string>

#include "platform/services.h"

namespace platform::win32 {

ClockService& RealClock();
NetworkService& RealNetwork();
FileService& RealFiles();

// The file system as the program sees it. The real program's paths go to Windows as they are
// (drive paths, relative paths against the process's current directory). Tests give a drive root,
// a folder that stands for the drive (a drive path "C:\x" is then `driveRoot`\x), and a simulated
// current directory for relative paths.
class FileSystem : public FileService {
 public:
  explicit FileSystem(std::string driveRoot = "", std::string currentDirectory = "");
  // The path handed to Windows for a program path.
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
  // A simulated current directory moves; otherwise the process's own does.
  int SetCurrentDirectory(const std::string& path) override;
  int GetLastError() override;

 private:
  int Fail();  // keeps the thread's last error and returns 0
  std::string driveRoot;
  std::string currentDirectory;
  int lastError = 0;
};

}  // namespace platform::win32
