#pragma once
// The upgrade dialog: builds the plan of one controller's upgrade, runs its steps one at a time from
// a timer, and shows their log and progress until the run completes or a step fails.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/oblist.h"
#include "ui/dialog.h"

class CCopyFile;
class DeviceRecord;

inline constexpr int kUpdateTimerId = 1;
// The first step starts this long after the dialog shows; then the runner looks every kStepPeriodMs.
inline constexpr uint32_t kFirstStepDelayMs = 5000;
inline constexpr uint32_t kStepPeriodMs = 10;
// After a failed step, the failure is reported this much later.
inline constexpr uint32_t kFailureReportDelayMs = 5000;
// The item bar moves only for totals of at least this many bytes.
inline constexpr uint32_t kItemProgressMinimum = 10000;

// Plan entry kinds.
inline constexpr int kPlanCopyFolder = 10001;
inline constexpr int kPlanOperation1 = 10019;  // ... up to kPlanOperation7 = 10025
inline constexpr int kPlanOperation7 = 10025;
inline constexpr int kPlanWaitForReturn = 10026;
// Every file of this folder below the payload root goes to the controller.
inline constexpr const char* kPayloadFolder = "BSP/UPGRADE";

// The payload root: the process's current directory, taken anew at each call.
std::string GetPayloadRoot();

// Edge and partner controllers take no board support package: their plan stays empty.
bool TakesBoardSupportPackage(const DeviceRecord& device);

// The file copies that the plan of an upgrade of `device` holds, in the plan's order, made the way
// the plan makes them (its folder entry for kPayloadFolder; none for a controller that takes no
// board support package): what an upgrade would compare and send, for a look without running one.
std::vector<std::unique_ptr<CCopyFile>> PlanFileCopies(const DeviceRecord& device);

class CUpdateDlg : public ui::Dialog {
 public:
  // Builds the plan for `device` (borrowed: the Start command owns it and outlives this dialog) and
  // sizes the total bar from it. `parent` is borrowed and may be null.
  CUpdateDlg(ui::Dialog* parent, DeviceRecord* device);
  // Deletes the steps still in the list, a failed one included.
  ~CUpdateDlg() override;

  // Sets the bars' ranges, logs the start and the system type, and starts the runner's timer.
  int OnInitDialog() override;
  // The step runner: starts the head step, leaves it alone while it is inside Run, removes it when
  // it succeeded and goes on, and reports completion or, after a pause, failure.
  void OnTimer(int id) override;

  // --- services for the steps ---------------------------------------------------------------
  // Adds a line at the end of the log, selects it and repaints at once.
  void AddLog(const std::string& text);
  // Puts `text` behind the last line of the log (a new line when the log is empty), selects it and
  // repaints at once.
  void AppendLog(const std::string& text);
  // Sets the total bar from the work left in the steps still in the list.
  void UpdateTotalProgress();
  // The item bar at done * 100 / total, or at 0 for a total below kItemProgressMinimum.
  void SetItemProgress(uint32_t done, uint32_t total);

  // --- the plan ------------------------------------------------------------------------------
  // Appends the steps of one plan entry; an unknown kind appends nothing.
  void AddPlanEntry(int kind, const std::string& name, const std::string& extra);
  // One file copy per file of the folder below the payload root, in the order the file system
  // lists them; dot-names, folders and files the target does not take are left out.
  void AddFolderFiles(const std::string& folder);
  // 0 for a DLL that a WinCE target does not take, else 1.
  int IsPayloadFileAllowed(const std::string& name) const;

  // 1 once the run is over: completed ("OK" on the button) or failed ("Done").
  int IsRunOver() const { return runOver; }
  CVRObList& Steps() { return steps; }
  uint32_t GetTotalWork() const { return totalWork; }
  ui::ListBox& LogList() { return *logList; }
  ui::ProgressBar& TotalBar() { return *totalBar; }
  ui::ProgressBar& ItemBar() { return *itemBar; }

  // The target controller; steps read its type (100: this PC), address, port and MAC text.
  DeviceRecord* const device;

 private:
  void BuildPlan();
  void ReportEnd(const std::string& line, const char* caption);

  ui::ListBox* logList;        // control 1009
  ui::ProgressBar* itemBar;    // control 1008, 0..100
  ui::ProgressBar* totalBar;   // control 1007, 0..1000
  CVRObList steps;             // owns its CUpdateProc elements, head first
  uint32_t totalWork = 0;      // thousands of bytes of all steps at construction
  int firstTick = 1;
  int runOver = 0;
};
