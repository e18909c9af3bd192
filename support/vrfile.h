#pragma once
// A local file read and written through a 5,000-byte buffer, with the byte-sum checksum that the
// controller computes over its own copy of a file.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"

// The checksum's arithmetic: every byte as 0..255, added into a 32-bit sum that wraps.
uint32_t SumBytes(const uint8_t* bytes, size_t count);

class CVRFile {
 public:
  static constexpr uint32_t kBufferSize = 5000;
  static constexpr uint32_t kCheckSumBlock = 10000;

  static constexpr uint32_t kModeClosed = 0;
  static constexpr uint32_t kModeRead = 1;    // existing file only
  static constexpr uint32_t kModeWrite = 2;   // created, or truncated
  static constexpr uint32_t kModeAppend = 3;  // created, or opened at its end

  explicit CVRFile(std::string path);
  CVRFile(const CVRFile&) = delete;
  CVRFile& operator=(const CVRFile&) = delete;

  // Writes out pending bytes and closes; a failure on the way is not reported.
  virtual ~CVRFile();
  // Size of the file (low 32 bits) without the bytes still waiting in the buffer. A closed file is
  // opened for reading to ask and closed again. 0 when the size cannot be had.
  virtual uint32_t GetLength();
  // Closes what is open, then opens in `mode` (kModeRead, kModeWrite or kModeAppend). The share
  // mode is taken for the caller's sake; the platform does not lock files. 1 on success; on
  // failure, and for any other mode, 0 and the file stays closed.
  virtual int Open(uint32_t mode, uint32_t reserved, uint32_t shareMode, uint32_t reservedFlags);
  // Writes out pending bytes and closes; a failed write is not reported.
  virtual void Close();
  // Loaded bytes first, then the rest straight from the file. 1 only when all n bytes came; 0 also
  // when not open for reading (both reads).
  virtual int ReadExact(void* data, uint32_t n);
  // Through the buffer; a request larger than the buffer that finds it empty bypasses it. 1 only
  // when all n bytes came: at the end of the file the bytes that were there are delivered and 0
  // is returned.
  virtual int Read(void* data, uint32_t n);
  virtual int IsOpen() const;
  // Buffered in the write modes; a request that still does not fit after the buffer was written
  // out goes straight to the file. 0 on a failed write or when not open for writing.
  virtual int Write(const void* data, uint32_t n);

  // Sum of all bytes (see SumBytes), read in kCheckSumBlock blocks from the start. Opens a closed
  // file for reading and leaves it open; the position is at the start afterwards. 0 when the file
  // cannot be opened or read.
  uint32_t CheckSum();
  // Pending bytes are written out first. In read mode a short move forward inside the loaded
  // bytes stays in the buffer. The new position, or -1 on failure (also when closed).
  int64_t Seek(int64_t distance, platform::SeekOrigin origin);
  // The position the caller sees: loaded-but-unread and pending bytes accounted. -1 when closed.
  int64_t GetPosition();
  // Writes pending bytes in the write modes; in read mode drops the loaded bytes but keeps the
  // position. 1 on success.
  int Flush();

 private:
  int OpenHandle(uint32_t newMode);
  uint32_t HandleLength();
  int ReadAll(void* data, uint32_t n);
  int WriteAll(const void* data, uint32_t n);
  uint32_t Loaded() const { return filled - readPos; }

  std::string path;
  platform::File handle = platform::kInvalidFile;
  std::unique_ptr<uint8_t[]> buffer;
  uint32_t bufferSize = kBufferSize;
  uint32_t filled = 0;   // bytes loaded by reading, or waiting to be written
  uint32_t readPos = 0;  // next loaded byte to hand out
  uint32_t mode = kModeClosed;
};
