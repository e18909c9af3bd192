// The plan of a board support package upgrade: which steps the upgrade dialog runs, in what order.
#include <cctype>
#include <memory>
#include <vector>

#include "discovery/device_record.h"
#include "platform/file.h"
#include "support/format.h"
#include "upgrade/copy_file.h"
#include "upgrade/pkglift_operations.h"
#include "upgrade/update_dialog.h"

namespace {

bool StartsWithIgnoringCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool HasDllExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  return dot != std::string::npos && name.size() - dot == 4 && StartsWithIgnoringCase(name.substr(dot + 1), "DLL");
}

// The only DLLs a WinCE controller takes from the payload: its own TLS libraries.
constexpr const char* kWinCeDllPrefixes[] = {"VR_SSL", "LIBEAY32", "SSLEAY32"};

std::unique_ptr<CUpdateProc> MakeOperation(int kind) {
  switch (kind) {
    case kPlanOperation1:
      return std::make_unique<CPkgLiftOperation1>();
    case kPlanOperation1 + 1:
      return std::make_unique<CPkgLiftOperation2>();
    case kPlanOperation1 + 2:
      return std::make_unique<CPkgLiftOperation3>();
    case kPlanOperation1 + 3:
      return std::make_unique<CPkgLiftOperation4>();
    case kPlanOperation1 + 4:
      return std::make_unique<CPkgLiftOperation5>();
    case kPlanOperation1 + 5:
      return std::make_unique<CPkgLiftOperation6>();
    case kPlanOperation1 + 6:
      return std::make_unique<CPkgLiftOperation7>();
    case kPlanWaitForReturn:
      return std::make_unique<CPkgLiftOperation8>();
    default:
      return nullptr;
  }
}

bool TakesPayloadFile(const DeviceRecord& device, const std::string& name) {
  if (!device.IsWinCE() || !HasDllExtension(name)) return true;
  for (const char* prefix : kWinCeDllPrefixes) {
    if (StartsWithIgnoringCase(name, prefix)) return true;
  }
  return false;
}

// The names of the files of `folder` below `root` that `device` takes, in the file system's order;
// dot-names and folders left out.
std::vector<std::string> PayloadFileNames(const DeviceRecord& device, const std::string& root,
                                          const std::string& folder) {
  std::vector<std::string> names;
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(Format("%s/%s", root.c_str(), folder.c_str()), &entries)) return names;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.name.empty() || entry.name[0] == '.' || entry.isDirectory) continue;
    if (TakesPayloadFile(device, entry.name)) names.push_back(entry.name);
  }
  return names;
}

}  // namespace

std::string GetPayloadRoot() { return platform::GetCurrentDirectory(); }

bool TakesBoardSupportPackage(const DeviceRecord& device) { return device.IsFullController(); }

std::vector<std::unique_ptr<CCopyFile>> PlanFileCopies(const DeviceRecord& device) {
  std::vector<std::unique_ptr<CCopyFile>> copies;
  if (!TakesBoardSupportPackage(device)) return copies;
  std::string root = GetPayloadRoot();
  for (const std::string& name : PayloadFileNames(device, root, kPayloadFolder)) {
    copies.push_back(std::make_unique<CCopyFile>(root, kPayloadFolder, name, name));
  }
  return copies;
}

void CUpdateDlg::BuildPlan() {
  if (!TakesBoardSupportPackage(*device)) return;
  for (int kind = kPlanOperation1; kind < kPlanOperation1 + 5; ++kind) AddPlanEntry(kind, "", "");
  AddPlanEntry(kPlanCopyFolder, kPayloadFolder, "");
  for (int kind = kPlanOperation1 + 5; kind <= kPlanOperation7; ++kind) AddPlanEntry(kind, "", "");
  AddPlanEntry(kPlanWaitForReturn, "", "");
}

void CUpdateDlg::AddPlanEntry(int kind, const std::string& name, const std::string&) {
  if (kind == kPlanCopyFolder) {
    AddFolderFiles(name);
    return;
  }
  if (std::unique_ptr<CUpdateProc> step = MakeOperation(kind)) steps.AddTail(step.release());
}

void CUpdateDlg::AddFolderFiles(const std::string& folder) {
  std::string root = GetPayloadRoot();
  for (const std::string& name : PayloadFileNames(*device, root, folder)) {
    steps.AddTail(new CCopyFile(root, folder, name, name));
  }
}

int CUpdateDlg::IsPayloadFileAllowed(const std::string& name) const { return TakesPayloadFile(*device, name) ? 1 : 0; }
