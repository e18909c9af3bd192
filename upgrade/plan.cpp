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

}  // namespace

std::string GetPayloadRoot() { return platform::GetCurrentDirectory(); }

void CUpdateDlg::BuildPlan() {
  // Edge and partner controllers take no board support package: their plan stays empty.
  if (!device->IsFullController()) return;
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
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(Format("%s/%s", root.c_str(), folder.c_str()), &entries)) return;
  for (const platform::DirectoryEntry& entry : entries) {
    if (entry.name.empty() || entry.name[0] == '.' || entry.isDirectory) continue;
    if (!IsPayloadFileAllowed(entry.name)) continue;
    steps.AddTail(new CCopyFile(root, folder, entry.name, entry.name));
  }
}

int CUpdateDlg::IsPayloadFileAllowed(const std::string& name) const {
  if (!device->IsWinCE() || !HasDllExtension(name)) return 1;
  for (const char* prefix : kWinCeDllPrefixes) {
    if (StartsWithIgnoringCase(name, prefix)) return 1;
  }
  return 0;
}
