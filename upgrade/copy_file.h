#pragma once
// The step that brings one payload file onto the controller: compared first by size and byte sum and
// skipped when unchanged, otherwise announced and streamed in chunks paced by the connection. For
// the local machine (system type 100) the file is copied through the file system instead.
#include <cstdint>
#include <string>

#include "upgrade/update_proc.h"

class CVRFile;

inline constexpr int32_t kChunkBytes = 100000;
inline constexpr int kCopyAttempts = 5;
inline constexpr uint32_t kCopyRetryDelayMs = 1500;
inline constexpr int kChunkReadTries = 5;
inline constexpr uint32_t kChunkReadRetryDelayMs = 500;
inline constexpr uint32_t kCompareTimeoutMs = 30000;
inline constexpr uint32_t kAnnounceTimeoutMs = 60000;
// The system type of a target that is this PC itself.
inline constexpr uint8_t kLocalMachineType = 100;
// Where the local machine keeps what the upgrade sends it.
inline constexpr const char* kLocalMachineFolder = "C:\\VELMORANT";
// The player may be in use on the controller: one failed attempt gives it up with a warning.
inline constexpr const char* kPlayerFileName = "VRPLAYER.EXE";

// What the controller said of its copy of a file, beside the local file.
struct FileComparison {
  // An answer with both integers came; without one the controller is taken to hold no copy.
  bool answered = false;
  int32_t remoteSize = 0;
  int32_t remoteSum = 0;
  uint32_t localSize = 0;
  // Read only when the sizes agree: a byte sum reads the whole file.
  bool localSumRead = false;
  uint32_t localSum = 0;

  // What lets a copy skip the transfer: the same size and the same byte sum.
  bool Unchanged() const {
    return answered && uint32_t(remoteSize) == localSize && localSumRead && uint32_t(remoteSum) == localSum;
  }
};

class CCopyFile : public CUpdateProc {
 public:
  // Opens the local file once to learn its size (0 when it cannot be opened).
  CCopyFile(std::string localRoot, std::string localSubfolder, std::string localName, std::string remoteName);

  // Up to kCopyAttempts attempts, kCopyRetryDelayMs apart; a failed player file is given up after
  // one attempt without failing the step.
  int Run(CUpdateDlg* dialog) override;
  // The file's size, and the bytes sent or confirmed so far.
  uint32_t GetTotalWork() override;
  uint32_t GetDoneWork() override;
  // One whole attempt: 1 when the file is on the target (sent, copied or found unchanged).
  virtual int TransferOnce(CUpdateDlg* dialog);

  // Asks the controller over the session (request 14030, up to kCompareTimeoutMs) for the size and
  // byte sum of its copy, and sets them beside those of `file`, open for reading and `size` bytes.
  FileComparison CompareWithController(CVRFile& file, uint32_t size) const;

  // "root\sub\name" (or "root\name" without a subfolder), as the file is read here.
  std::string LocalPath() const;
  // "sub\name", as the controller is told the file and as the log shows it.
  std::string RemotePath() const;
  // "C:\VELMORANT\sub\name", where the local machine keeps it.
  std::string TargetPath() const;

  const std::string localRoot;
  const std::string localSubfolder;
  const std::string localName;
  const std::string remoteName;
  const uint32_t fileSize;
  uint32_t bytesDone = 0;

 private:
  int CopyLocally(CUpdateDlg* dialog);
  int SendOverNetwork(CUpdateDlg* dialog);
  // The next n bytes of the file into chunk, in up to kChunkReadTries tries, each failure logged.
  int ReadChunk(CUpdateDlg* dialog, CVRFile& file, uint8_t* chunk, int32_t n, uint32_t size);
};
