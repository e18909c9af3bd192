#include "upgrade/copy_file.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <utility>

#include "discovery/device_record.h"
#include "net/codes.h"
#include "net/query.h"
#include "net/server.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "support/format.h"
#include "support/vrfile.h"
#include "upgrade/update_dialog.h"

namespace {

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
         });
}

uint32_t SizeOf(const std::string& path) {
  CVRFile file(path);
  if (!file.Open(CVRFile::kModeRead, 0, 0, 0)) return 0;
  return file.GetLength();
}

int ConnectionCanWrite() {
  CVRServer* server = GetServer();
  return server && server->GetConnection()->CanWrite();
}

}  // namespace

CCopyFile::CCopyFile(std::string localRoot, std::string localSubfolder, std::string localName, std::string remoteName)
    : localRoot(std::move(localRoot)),
      localSubfolder(std::move(localSubfolder)),
      localName(std::move(localName)),
      remoteName(std::move(remoteName)),
      fileSize(SizeOf(LocalPath())) {}

std::string CCopyFile::LocalPath() const {
  if (localSubfolder.empty()) return Format("%s\\%s", localRoot.c_str(), localName.c_str());
  return Format("%s\\%s\\%s", localRoot.c_str(), localSubfolder.c_str(), localName.c_str());
}

std::string CCopyFile::RemotePath() const { return localSubfolder + "\\" + remoteName; }

std::string CCopyFile::TargetPath() const {
  std::string target = std::string(kLocalMachineFolder) + "\\";
  return localSubfolder.empty() ? target + remoteName : target + localSubfolder + "\\" + remoteName;
}

uint32_t CCopyFile::GetTotalWork() { return fileSize; }

// Never more than the total: a file that grew after the plan was made must not make the work left
// negative (it would wrap, and the total bar would jump back).
uint32_t CCopyFile::GetDoneWork() { return std::min(bytesDone, fileSize); }

int CCopyFile::Run(CUpdateDlg* dialog) {
  started = 1;
  for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
    if (TransferOnce(dialog)) {
      failed = 0;
      finished = 1;
      return 1;
    }
    if (EqualsIgnoringCase(localName, kPlayerFileName)) {
      dialog->AddLog(std::string("WARNING: Failed to update ") + kPlayerFileName);
      finished = 1;
      failed = 0;
      return 1;
    }
    bytesDone = 0;
    platform::Sleep(kCopyRetryDelayMs);
  }
  finished = 1;
  failed = 1;
  return 0;
}

int CCopyFile::TransferOnce(CUpdateDlg* dialog) {
  return dialog->device->type == kLocalMachineType ? CopyLocally(dialog) : SendOverNetwork(dialog);
}

int CCopyFile::CopyLocally(CUpdateDlg* dialog) {
  dialog->AddLog("Transfer File: " + RemotePath());
  dialog->SetItemProgress(0, 100);
  std::string target = TargetPath();
  uint32_t attributes = platform::GetFileAttributes(target);
  if (attributes != platform::kInvalidFileAttributes && (attributes & platform::kAttributeReadOnly)) {
    dialog->AddLog("Changing READ-ONLY bit on FILE: " + target);
    if (!platform::SetFileAttributes(target, attributes & ~platform::kAttributeReadOnly)) {
      dialog->AddLog(Format("ERROR (%ld) TARGET: ", long(platform::GetLastError())) + target);
      return 0;
    }
  }
  int copied = platform::CopyFile(LocalPath(), target, false);
  failed = copied ? 0 : 1;
  dialog->SetItemProgress(100, 100);
  return copied ? 1 : 0;
}

int CCopyFile::ReadChunk(CUpdateDlg* dialog, CVRFile& file, uint8_t* chunk, int32_t n, uint32_t size) {
  for (int tries = 0; tries < kChunkReadTries; ++tries) {
    if (file.ReadExact(chunk, uint32_t(n))) return 1;
    dialog->AddLog(Format("Error Reading %d bytes at %d of %d ERROR = %ld", n, int(bytesDone), int(size),
                          long(platform::GetLastError())));
    platform::Sleep(kChunkReadRetryDelayMs);
    // A failed read may have moved on part of the way: try again from where the chunk starts, or
    // the bytes sent would not be the file's.
    file.Seek(bytesDone, platform::SeekOrigin::Begin);
  }
  return 0;
}

FileComparison CCopyFile::CompareWithController(CVRFile& file, uint32_t size) const {
  FileComparison comparison;
  comparison.localSize = size;
  CVRMSG compare(0, kCodeFileCompare, 0);
  compare.AppendString(RemotePath());
  CVRQuery query;
  query.SetTimeout(kCompareTimeoutMs);
  CVRMSG* answer = nullptr;
  comparison.answered = query.Ask(&answer, &compare) && answer->ReadInt(&comparison.remoteSize) &&
                        answer->ReadInt(&comparison.remoteSum);
  if (comparison.answered && uint32_t(comparison.remoteSize) == size) {
    comparison.localSum = file.CheckSum();
    comparison.localSumRead = true;
  }
  return comparison;
}

int CCopyFile::SendOverNetwork(CUpdateDlg* dialog) {
  CVRFile file(LocalPath());
  if (!file.Open(CVRFile::kModeRead, 0, 0, 0)) {
    dialog->AddLog("ERROR: Cannot Open File");
    dialog->AddLog("PATH: " + LocalPath());
    bytesDone = fileSize;
    return 0;
  }
  const uint32_t size = file.GetLength();

  dialog->AddLog("Checking File: " + RemotePath());
  if (CompareWithController(file, size).Unchanged()) {
    dialog->AppendLog("  CheckSum OK");
    bytesDone = fileSize;
    return 1;
  }

  dialog->AppendLog("  Changes Detected ");
  dialog->AddLog("Transfer File: " + RemotePath());
  CVRMSG announce(0, kCodeFileAnnounce, 0);
  announce.AppendString(RemotePath());
  announce.AppendInt(int32_t(size));
  announce.AppendInt(int32_t(size));
  dialog->SetItemProgress(0, 100);
  WaitUntilSent();
  CVRQuery announceQuery;
  announceQuery.SetTimeout(kAnnounceTimeoutMs);
  if (!announceQuery.Ask(nullptr, &announce)) {
    dialog->AddLog("Cannot Send File, refused by gateway");
    return 0;
  }

  std::unique_ptr<uint8_t[]> chunk = std::make_unique<uint8_t[]>(kChunkBytes);
  for (;;) {
    if (bytesDone >= size) {
      dialog->SetItemProgress(100, 100);
      dialog->AppendLog(" OK");
      WaitUntilSent();
      return 1;
    }
    while (ConnectionCanWrite()) {
      int32_t n = std::min(int32_t(size - bytesDone), kChunkBytes);
      if (n < 1) {
        WaitUntilSent();
        dialog->SetItemProgress(100, 100);
        return 1;
      }
      if (!ReadChunk(dialog, file, chunk.get(), n, size)) return 0;

      CVRMSG message(0, kCodeFileChunk, 0);
      message.AppendInt(n);
      message.AppendBytes(chunk.get(), uint32_t(n));
      CVRServer* server = GetServer();
      if (!server || !server->SendMsg(&message)) {
        dialog->AppendLog(" Error Sending Chunk");
        return 0;
      }
      dialog->UpdateTotalProgress();
      dialog->SetItemProgress(bytesDone, size);
      bytesDone += uint32_t(n);
      if (bytesDone >= size) {
        WaitUntilSent();
        dialog->AppendLog(" OK");
        dialog->SetItemProgress(100, 100);
        return 1;
      }
      if (CVRServer* current = GetServer()) current->ServiceUntilWritable(kServiceSliceMs);
    }
    if (!WaitUntilSent()) return 0;
  }
}
