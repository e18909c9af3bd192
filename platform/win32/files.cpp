#include "platform/win32/windows_api.h"

#include <cctype>

#include "platform/win32/real.h"

namespace platform::win32 {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsDrivePath(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string Join(std::string base, const std::string& rest) {
  if (base.empty() || !IsSeparator(base.back())) base += '\\';
  size_t skip = 0;
  while (skip < rest.size() && IsSeparator(rest[skip])) ++skip;
  return base + rest.substr(skip);
}

// A File holds a HANDLE's value: kernel handles have 32 significant bits and sign-extend, so that
// INVALID_HANDLE_VALUE and kInvalidFile are both -1.
HANDLE Native(File f) { return reinterpret_cast<HANDLE>(intptr_t(f)); }
File FromNative(HANDLE h) { return File(intptr_t(h)); }

// Whether `path` lies in `folder` (the folder itself or below it), letters compared without case.
bool IsBelow(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.size() < folder.size()) return false;
  for (size_t i = 0; i < folder.size(); ++i) {
    char a = path[i], b = folder[i];
    if (IsSeparator(a) && IsSeparator(b)) continue;
    if (std::tolower(static_cast<unsigned char>(a)) != std::tolower(static_cast<unsigned char>(b))) return false;
  }
  return path.size() == folder.size() || IsSeparator(path[folder.size()]) || IsSeparator(folder.back());
}

}  // namespace

FileSystem::FileSystem(std::string driveRoot, std::string currentDirectory)
    : driveRoot(std::move(driveRoot)), currentDirectory(std::move(currentDirectory)) {}

std::string FileSystem::HostPath(const std::string& path) const {
  if (driveRoot.empty() && currentDirectory.empty()) return path;
  // A path inside the folder that stands for the drive, or inside the simulated current
  // directory, is a host path already (tests hand over both kinds), not one to map a second time.
  if (IsBelow(path, driveRoot) || IsBelow(path, currentDirectory)) return path;
  if (IsDrivePath(path)) return driveRoot.empty() ? path : Join(driveRoot, path.substr(2));
  // A rooted path ("\x") is on the current drive, which is the drive root; a network path
  // ("\\server\share") stays as it is.
  if (!path.empty() && IsSeparator(path[0])) {
    bool network = path.size() > 1 && IsSeparator(path[1]);
    return network || driveRoot.empty() ? path : Join(driveRoot, path);
  }
  return currentDirectory.empty() ? path : Join(currentDirectory, path);
}

int FileSystem::Fail() {
  lastError = int(::GetLastError());
  return 0;
}

File FileSystem::OpenFile(const std::string& path, Access access, Disposition disposition) {
  DWORD desired = access == Access::Read ? GENERIC_READ : GENERIC_WRITE;
  DWORD creation = disposition == Disposition::OpenExisting ? OPEN_EXISTING
                   : disposition == Disposition::CreateAlways ? CREATE_ALWAYS
                                                               : OPEN_ALWAYS;
  HANDLE h = ::CreateFileA(HostPath(path).c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, creation,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail();
    return kInvalidFile;
  }
  return FromNative(h);
}

int FileSystem::ReadFile(File f, void* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  while (*done < size) {
    DWORD got = 0;
    if (!::ReadFile(Native(f), static_cast<char*>(buffer) + *done, DWORD(size - *done), &got, nullptr)) return Fail();
    if (got == 0) break;
    *done += uint32_t(got);
  }
  return 1;
}

int FileSystem::WriteFile(File f, const void* data, uint32_t size, uint32_t* done) {
  *done = 0;
  while (*done < size) {
    DWORD put = 0;
    if (!::WriteFile(Native(f), static_cast<const char*>(data) + *done, DWORD(size - *done), &put, nullptr)) {
      return Fail();
    }
    *done += uint32_t(put);
  }
  return 1;
}

int64_t FileSystem::SeekFile(File f, int64_t distance, SeekOrigin origin) {
  DWORD method = origin == SeekOrigin::Begin ? FILE_BEGIN : origin == SeekOrigin::Current ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER move, position;
  move.QuadPart = distance;
  if (!::SetFilePointerEx(Native(f), move, &position, method)) {
    Fail();
    return -1;
  }
  return position.QuadPart;
}

int64_t FileSystem::GetFileSize(File f) {
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(Native(f), &size)) {
    Fail();
    return -1;
  }
  return size.QuadPart;
}

int FileSystem::CloseFile(File f) { return ::CloseHandle(Native(f)) ? 1 : Fail(); }

int FileSystem::ListDirectory(const std::string& folder, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  WIN32_FIND_DATAA found;
  // The current folder is "", whose entries are "*", not "\*" (the drive's root).
  std::string host = HostPath(folder);
  HANDLE search = ::FindFirstFileA((host.empty() ? std::string("*") : Join(host, "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    // An empty drive root has no entry at all, not even "." and "..": still a folder that was read.
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return 1;
    return Fail();
  }
  do {
    entries->push_back({found.cFileName, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (::FindNextFileA(search, &found));
  DWORD error = ::GetLastError();
  ::FindClose(search);
  if (error != ERROR_NO_MORE_FILES) {
    ::SetLastError(error);
    return Fail();
  }
  return 1;
}

int FileSystem::CopyFile(const std::string& from, const std::string& to, bool failIfExists) {
  // Windows refuses to overwrite a read-only file; wine overwrites it. Refused here first, so that
  // the program meets the same answer under both.
  DWORD existing = ::GetFileAttributesA(HostPath(to).c_str());
  if (!failIfExists && existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_READONLY)) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return Fail();
  }
  return ::CopyFileA(HostPath(from).c_str(), HostPath(to).c_str(), failIfExists ? TRUE : FALSE) ? 1 : Fail();
}

uint32_t FileSystem::GetFileAttributes(const std::string& path) {
  DWORD attributes = ::GetFileAttributesA(HostPath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) Fail();
  return uint32_t(attributes);
}

int FileSystem::SetFileAttributes(const std::string& path, uint32_t attributes) {
  return ::SetFileAttributesA(HostPath(path).c_str(), DWORD(attributes)) ? 1 : Fail();
}

std::string FileSystem::GetCurrentDirectory() {
  if (!currentDirectory.empty()) return currentDirectory;
  DWORD size = ::GetCurrentDirectoryA(0, nullptr);
  if (size == 0) {
    Fail();
    return "";
  }
  std::string text(size, '\0');
  DWORD length = ::GetCurrentDirectoryA(size, text.data());
  if (length == 0 || length >= size) {
    Fail();
    return "";
  }
  text.resize(length);
  return text;
}

int FileSystem::SetCurrentDirectory(const std::string& path) {
  std::string host = HostPath(path);
  if (currentDirectory.empty()) return ::SetCurrentDirectoryA(host.c_str()) ? 1 : Fail();
  DWORD attributes = ::GetFileAttributesA(host.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Fail();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetLastError(ERROR_DIRECTORY);
    return Fail();
  }
  currentDirectory = host;
  return 1;
}

int FileSystem::GetLastError() { return lastError; }

FileService& RealFiles() {
  static FileSystem files;
  return files;
}

}  // namespace platform::win32
