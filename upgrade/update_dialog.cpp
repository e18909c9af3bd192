#include "upgrade/update_dialog.h"

#include "discovery/device_record.h"
#include "discovery/device_types.h"
#include "platform/clock.h"
#include "upgrade/update_dialog_template.h"
#include "upgrade/update_proc.h"

namespace {

constexpr int kTotalBarRange = 1000;
constexpr int kItemBarRange = 100;
constexpr uint32_t kWorkUnit = 1000;  // the total bar counts thousands of bytes

CUpdateProc* Step(void* element) { return static_cast<CUpdateProc*>(element); }

}  // namespace

CUpdateDlg::CUpdateDlg(ui::Dialog* parent, DeviceRecord* device)
    : ui::Dialog(UpdateDialogTemplate(), parent),
      device(device),
      logList(GetListBox(kLogListId)),
      itemBar(GetProgressBar(kItemBarId)),
      totalBar(GetProgressBar(kTotalBarId)) {
  BuildPlan();
  uint32_t sum = 0;
  CVRObList::POSITION at = steps.GetHeadPosition();
  while (at) sum += Step(steps.GetNext(at))->GetTotalWork();
  totalWork = sum / kWorkUnit;
}

CUpdateDlg::~CUpdateDlg() {
  while (!steps.IsEmpty()) delete Step(steps.RemoveHead());
}

int CUpdateDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  totalBar->SetRange(0, kTotalBarRange);
  itemBar->SetRange(0, kItemBarRange);
  AddLog("Starting Update Procedure");
  AddLog("System Type: " + GetSystemTypeName(device->type, device->subtype));
  SetTimer(kUpdateTimerId, kFirstStepDelayMs);
  return 1;
}

void CUpdateDlg::OnTimer(int) {
  if (firstTick) {
    KillTimer(kUpdateTimerId);
    SetTimer(kUpdateTimerId, kStepPeriodMs);
    firstTick = 0;
  }
  if (steps.IsEmpty()) {
    KillTimer(kUpdateTimerId);
    ReportEnd("BSP Upgrade completed", "OK");
    return;
  }
  CUpdateProc* step = Step(steps.GetHead());
  if (!step->finished) {
    // A started step is inside Run, and this tick came from its own message pumping.
    if (!step->started) step->Run(this);
    return;
  }
  if (!step->failed) {
    delete step;
    steps.RemoveHead();
    UpdateTotalProgress();
    OnTimer(0);
    return;
  }
  platform::Sleep(kFailureReportDelayMs);
  KillTimer(kUpdateTimerId);
  ReportEnd("ERROR: Upgrade FAILED, GATEWAY did not startup", "Done");
}

void CUpdateDlg::ReportEnd(const std::string& line, const char* caption) {
  AddLog(line);
  GetButton(ui::IDCANCEL)->SetWindowText(caption);
  runOver = 1;
}

void CUpdateDlg::AddLog(const std::string& text) {
  logList->SetCurSel(logList->AddString(text));
  UpdateWindow();
}

void CUpdateDlg::AppendLog(const std::string& text) {
  int last = logList->GetCount() - 1;
  // With nothing logged yet there is no line to put the text behind: it becomes the first.
  std::string line = last < 0 ? text : logList->GetText(last) + text;
  if (last >= 0) logList->DeleteString(last);
  AddLog(line);
}

void CUpdateDlg::UpdateTotalProgress() {
  uint32_t left = 0;
  CVRObList::POSITION at = steps.GetHeadPosition();
  while (at) {
    CUpdateProc* step = Step(steps.GetNext(at));
    left += step->GetTotalWork() - step->GetDoneWork();
  }
  uint32_t remaining = left / kWorkUnit;
  if (totalWork != 0) totalBar->SetPos(int((totalWork - remaining) * uint32_t(kTotalBarRange) / totalWork));
}

void CUpdateDlg::SetItemProgress(uint32_t done, uint32_t total) {
  int position = total < kItemProgressMinimum ? 0 : int(uint64_t{done} * kItemBarRange / total);
  itemBar->SetPos(position);
}
