#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/posix/real.h"

namespace platform::posix {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDrivePath(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string JoinHost(std::string base, const std::string& rest) {
  if (base.empty() || base.back() != '/') base += '/';
  size_t skip = 0;
  while (skip < rest.size() && rest[skip] == '/') ++skip;
  return base + rest.substr(skip);
}

bool IsReadOnly(const struct stat& st) { return (st.st_mode & S_IWUSR) == 0; }

}  // namespace

FileSystem::FileSystem(std::string driveRoot, std::string currentDirectory)
    : driveRoot(std::move(driveRoot)), currentDirectory(std::move(currentDirectory)) {}

std::string FileSystem::HostPath(const std::string& path) const {
  std::string p = path;
  for (char& c : p) {
    if (IsSeparator(c)) c = '/';
  }
  if (IsDrivePath(p)) return JoinHost(driveRoot, p.substr(2));
  if (!p.empty() && p[0] == '/') return p;
  return JoinHost(const_cast<FileSystem*>(this)->GetCurrentDirectory(), p);
}

int FileSystem::Fail() {
  lastError = errno;
  return 0;
}

File FileSystem::OpenFile(const std::string& path, Access access, Disposition disposition) {
  int flags = access == Access::Read ? O_RDONLY : O_WRONLY;
  if (disposition == Disposition::CreateAlways) flags |= O_CREAT | O_TRUNC;
  if (disposition == Disposition::OpenAlways) flags |= O_CREAT;
  std::string host = HostPath(path);
  struct stat st;
  // Windows refuses to write a read-only file even to an administrator; root here would not be refused.
  if (access == Access::Write && stat(host.c_str(), &st) == 0 && IsReadOnly(st)) {
    errno = EACCES;
    Fail();
    return kInvalidFile;
  }
  int fd = open(host.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    Fail();
    return kInvalidFile;
  }
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    errno = EISDIR;
    Fail();
    return kInvalidFile;
  }
  return fd;
}

int FileSystem::ReadFile(File f, void* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  while (*done < size) {
    ssize_t n = read(f, static_cast<char*>(buffer) + *done, size - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    if (n == 0) break;
    *done += uint32_t(n);
  }
  return 1;
}

int FileSystem::WriteFile(File f, const void* data, uint32_t size, uint32_t* done) {
  *done = 0;
  while (*done < size) {
    ssize_t n = write(f, static_cast<const char*>(data) + *done, size - *done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    *done += uint32_t(n);
  }
  return 1;
}

int64_t FileSystem::SeekFile(File f, int64_t distance, SeekOrigin origin) {
  int whence = origin == SeekOrigin::Begin ? SEEK_SET : origin == SeekOrigin::Current ? SEEK_CUR : SEEK_END;
  off_t pos = lseek(f, off_t(distance), whence);
  if (pos < 0) {
    Fail();
    return -1;
  }
  return pos;
}

int64_t FileSystem::GetFileSize(File f) {
  struct stat st;
  if (fstat(f, &st) != 0) {
    Fail();
    return -1;
  }
  return st.st_size;
}

int FileSystem::CloseFile(File f) { return close(f) == 0 ? 1 : Fail(); }

int FileSystem::ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  std::string host = HostPath(folder);
  DIR* dir = opendir(host.c_str());
  if (!dir) return Fail();
  while (struct dirent* e = readdir(dir)) {
    DirectoryEntry entry{e->d_name, false};
    if (e->d_type == DT_DIR) {
      entry.isDirectory = true;
    } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      struct stat st;
      entry.isDirectory = stat(JoinHost(host, e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entries->push_back(std::move(entry));
  }
  closedir(dir);
  return 1;
}

int FileSystem::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  File in = OpenFile(from, Access::Read, Disposition::OpenExisting);
  if (in == kInvalidFile) return 0;
  if (failIfExists && GetFileAttributes(to) != kInvalidFileAttributes) {
    CloseFile(in);
    errno = EEXIST;
    return Fail();
  }
  File out = OpenFile(to, Access::Write, Disposition::CreateAlways);
  if (out == kInvalidFile) {
    CloseFile(in);
    return 0;
  }
  char buffer[64 * 1024];
  int ok = 1;
  for (;;) {
    uint32_t got = 0, put = 0;
    if (!ReadFile(in, buffer, sizeof buffer, &got)) { ok = 0; break; }
    if (got == 0) break;
    if (!WriteFile(out, buffer, got, &put)) { ok = 0; break; }
  }
  CloseFile(in);
  if (!CloseFile(out)) ok = 0;
  return ok;
}

uint32_t FileSystem::GetFileAttributes(const std::string& path) {
  struct stat st;
  if (stat(HostPath(path).c_str(), &st) != 0) {
    Fail();
    return kInvalidFileAttributes;
  }
  uint32_t attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= kAttributeDirectory;
  if (IsReadOnly(st)) attributes |= kAttributeReadOnly;
  return attributes ? attributes : kAttributeNormal;
}

int FileSystem::SetFileAttributes(const std::string& path, uint32_t attributes) {
  std::string host = HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Fail();
  mode_t mode = st.st_mode & 07777;
  if (attributes & kAttributeReadOnly) {
    mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
  } else {
    mode |= S_IWUSR;
  }
  return chmod(host.c_str(), mode) == 0 ? 1 : Fail();
}

std::string FileSystem::GetCurrentDirectory() {
  if (!currentDirectory.empty()) return currentDirectory;
  char buffer[PATH_MAX];
  if (!getcwd(buffer, sizeof buffer)) {
    Fail();
    return "";
  }
  return buffer;
}

int FileSystem::SetCurrentDirectory(const std::string& path) {
  std::string host = HostPath(path);
  struct stat st;
  if (stat(host.c_str(), &st) != 0) return Fail();
  if (!S_ISDIR(st.st_mode)) {
    errno = ENOTDIR;
    return Fail();
  }
  if (!currentDirectory.empty()) {
    currentDirectory = host;
    return 1;
  }
  return chdir(host.c_str()) == 0 ? 1 : Fail();
}

int FileSystem::GetLastError() { return lastError; }

FileService& RealFiles() {
  static FileSystem files;
  return files;
}

}  // namespace platform::posix
