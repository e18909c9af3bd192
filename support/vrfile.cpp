#include "support/vrfile.h"

#include <algorithm>

namespace {

// Bytes go into sixteen 16-bit lanes (one SSE2 register) and the lanes into the 32-bit sum every
// 256 rows, before 256 * 255 could overflow a lane. The fixed lane count is what lets -O2's cheap
// vectoriser take the loop; a plain byte loop stays scalar there.
constexpr size_t kSumLanes = 16;
constexpr size_t kSumRows = 256;

}  // namespace

uint32_t SumBytes(const uint8_t* bytes, size_t count) {
  uint32_t sum = 0;
  size_t i = 0;
  while (count - i >= kSumLanes) {
    size_t rows = std::min((count - i) / kSumLanes, kSumRows);
    uint16_t lanes[kSumLanes] = {};
    for (size_t row = 0; row < rows; ++row, i += kSumLanes) {
      for (size_t j = 0; j < kSumLanes; ++j) lanes[j] += bytes[i + j];
    }
    for (uint16_t lane : lanes) sum += lane;
  }
  for (; i < count; ++i) sum += bytes[i];
  return sum;
}

CVRFile::CVRFile(std::string path) : path(std::move(path)), buffer(new uint8_t[kBufferSize]) {}

CVRFile::~CVRFile() { Close(); }

uint32_t CVRFile::GetLength() {
  if (IsOpen()) return HandleLength();
  if (!Open(kModeRead, 0, 0, 0)) return 0;
  uint32_t length = HandleLength();
  Close();
  return length;
}

int CVRFile::Open(uint32_t newMode, uint32_t /*reserved*/, uint32_t /*shareMode*/, uint32_t /*reservedFlags*/) {
  Close();
  if (!OpenHandle(newMode)) return 0;
  mode = newMode;
  return 1;
}

void CVRFile::Close() {
  if (!IsOpen()) return;
  Flush();
  platform::CloseFile(handle);
  handle = platform::kInvalidFile;
  filled = 0;
  readPos = 0;
  mode = kModeClosed;
}

int CVRFile::ReadExact(void* data, uint32_t n) {
  if (mode != kModeRead) return 0;
  auto* out = static_cast<uint8_t*>(data);
  uint32_t take = std::min(n, Loaded());
  std::copy_n(buffer.get() + readPos, take, out);
  readPos += take;
  return take == n || ReadAll(out + take, n - take);
}

int CVRFile::Read(void* data, uint32_t n) {
  if (mode != kModeRead) return 0;
  auto* out = static_cast<uint8_t*>(data);
  while (n > 0) {
    if (readPos >= filled) {
      filled = 0;
      readPos = 0;
      if (n > bufferSize) return ReadAll(out, n);
      uint32_t got = 0;
      if (!platform::ReadFile(handle, buffer.get(), bufferSize, &got) || got == 0) return 0;
      filled = got;
    }
    uint32_t take = std::min(n, Loaded());
    std::copy_n(buffer.get() + readPos, take, out);
    readPos += take;
    out += take;
    n -= take;
  }
  return 1;
}

int CVRFile::IsOpen() const { return handle != platform::kInvalidFile; }

int CVRFile::Write(const void* data, uint32_t n) {
  if (mode != kModeWrite && mode != kModeAppend) return 0;
  if (uint64_t(filled) + n >= bufferSize) {
    if (!Flush()) return 0;
    if (n > bufferSize) return WriteAll(data, n);
  }
  std::copy_n(static_cast<const uint8_t*>(data), n, buffer.get() + filled);
  filled += n;
  return 1;
}

uint32_t CVRFile::CheckSum() {
  if (!IsOpen() && !Open(kModeRead, 0, 0, 0)) return 0;
  if (Seek(0, platform::SeekOrigin::Begin) < 0) return 0;
  uint8_t block[kCheckSumBlock];
  uint32_t sum = 0;
  for (uint32_t remaining = GetLength(); remaining > 0;) {
    uint32_t n = std::min(remaining, kCheckSumBlock);
    if (!ReadExact(block, n)) return 0;
    sum += SumBytes(block, n);
    remaining -= n;
  }
  Seek(0, platform::SeekOrigin::Begin);
  return sum;
}

int64_t CVRFile::Seek(int64_t distance, platform::SeekOrigin origin) {
  if (!IsOpen()) return -1;
  if (mode != kModeRead && !Flush()) return -1;
  int64_t position = GetPosition();
  if (position < 0) return -1;
  if (mode == kModeRead && origin != platform::SeekOrigin::End) {
    int64_t ahead = origin == platform::SeekOrigin::Current ? distance : distance - position;
    if (ahead == 0 || (ahead > 0 && ahead < Loaded())) {
      readPos += uint32_t(ahead);
      return position + ahead;
    }
  }
  // The handle runs ahead of the caller's position by the unread loaded bytes.
  if (origin == platform::SeekOrigin::Current) {
    distance += position;
    origin = platform::SeekOrigin::Begin;
  }
  filled = 0;
  readPos = 0;
  return platform::SeekFile(handle, distance, origin);
}

int64_t CVRFile::GetPosition() {
  if (!IsOpen()) return -1;
  int64_t at = platform::SeekFile(handle, 0, platform::SeekOrigin::Current);
  if (at < 0) return -1;
  return mode == kModeRead ? at - Loaded() : at + filled;
}

int CVRFile::Flush() {
  if (filled == 0) return 1;
  uint32_t unread = Loaded();
  uint32_t pending = filled;
  filled = 0;
  readPos = 0;
  if (mode == kModeWrite || mode == kModeAppend) return WriteAll(buffer.get(), pending);
  // Give the unread bytes back to the file, so that the next read starts where the caller is.
  return platform::SeekFile(handle, -int64_t(unread), platform::SeekOrigin::Current) >= 0;
}

int CVRFile::OpenHandle(uint32_t newMode) {
  platform::Disposition disposition;
  switch (newMode) {
    case kModeRead: disposition = platform::Disposition::OpenExisting; break;
    case kModeWrite: disposition = platform::Disposition::CreateAlways; break;
    case kModeAppend: disposition = platform::Disposition::OpenAlways; break;
    default: return 0;
  }
  platform::Access access = newMode == kModeRead ? platform::Access::Read : platform::Access::Write;
  handle = platform::OpenFile(path, access, disposition);
  if (handle == platform::kInvalidFile) return 0;
  if (newMode == kModeAppend && platform::SeekFile(handle, 0, platform::SeekOrigin::End) < 0) {
    platform::CloseFile(handle);
    handle = platform::kInvalidFile;
    return 0;
  }
  return 1;
}

uint32_t CVRFile::HandleLength() {
  int64_t size = platform::GetFileSize(handle);
  return size < 0 ? 0 : uint32_t(size);
}

int CVRFile::ReadAll(void* data, uint32_t n) {
  uint32_t done = 0;
  return platform::ReadFile(handle, data, n, &done) && done == n;
}

int CVRFile::WriteAll(const void* data, uint32_t n) {
  uint32_t done = 0;
  return platform::WriteFile(handle, data, n, &done) && done == n;
}
