#pragma once
// The near side of an upgrade scenario: a person at the PC who acts on what the dialogs show, as an
// installer would. Selects the controller's line once it is listed and presses Start, answers the
// warning box, closes the upgrade dialog once its button says the run is over, and closes the main
// dialog once the controller is listed again (or at once, for a controller not expected back).
// Tests add their own moves on top.
#include <functional>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/main_dialog_template.h"
#include "discovery/device_record.h"
#include "platform/clock.h"
#include "ui/headless/headless_backend.h"
#include "upgrade/copy_file.h"
#include "upgrade/update_dialog.h"

namespace testing_support {

struct UpgradeSnapshot {
  std::vector<std::string> log;
  std::string button;
  int totalBar = -1;
  int itemBar = -1;
};

inline UpgradeSnapshot Snapshot(CUpdateDlg& dialog) {
  UpgradeSnapshot shot;
  for (int i = 0; i < dialog.LogList().GetCount(); ++i) shot.log.push_back(dialog.LogList().GetText(i));
  shot.button = dialog.GetButton(ui::IDCANCEL)->GetWindowText();
  shot.totalBar = dialog.TotalBar().GetPos();
  shot.itemBar = dialog.ItemBar().GetPos();
  return shot;
}

// A headless backend that also notes, at each repaint of the upgrade dialog (every log line and
// verdict repaints at once), the virtual time and the log's last line; and every new position of
// the upgrade dialog's two bars, as it is set.
class TimedBackend : public ui::headless::HeadlessBackend {
 public:
  struct Entry {
    uint32_t tick;
    std::string line;
  };
  struct BarMove {
    int barId;  // kTotalBarId or kItemBarId
    int position;
  };
  using HeadlessBackend::HeadlessBackend;

  void ControlChanged(ui::Dialog& dialog, ui::Control& control) override {
    HeadlessBackend::ControlChanged(dialog, control);
    auto* upgrade = dynamic_cast<CUpdateDlg*>(&dialog);
    if (!upgrade) return;
    for (ui::ProgressBar* bar : {&upgrade->TotalBar(), &upgrade->ItemBar()}) {
      if (&control != bar) continue;
      int id = bar->GetDlgCtrlID();
      if (LastPosition(id) != bar->GetPos()) barMoves.push_back({id, bar->GetPos()});
    }
  }

  // The positions one bar went through, in order, each change once (from its first setting on).
  std::vector<int> Positions(int barId) const {
    std::vector<int> positions;
    for (const BarMove& move : barMoves) {
      if (move.barId == barId) positions.push_back(move.position);
    }
    return positions;
  }

  void Repaint(ui::Dialog& dialog) override {
    HeadlessBackend::Repaint(dialog);
    auto* upgrade = dynamic_cast<CUpdateDlg*>(&dialog);
    if (!upgrade || upgrade->LogList().GetCount() == 0) return;
    std::string last = upgrade->LogList().GetText(upgrade->LogList().GetCount() - 1);
    if (timeline.empty() || timeline.back().line != last) timeline.push_back({platform::GetTickCount(), last});
  }

  // The tick of the first entry whose line is `line`, or of the first that contains it; 0 if none.
  uint32_t TickOf(const std::string& line) const {
    for (const Entry& e : timeline) {
      if (e.line == line) return e.tick;
    }
    for (const Entry& e : timeline) {
      if (e.line.find(line) != std::string::npos) return e.tick;
    }
    return 0;
  }

  // When the copy of `remotePath` gave up its first attempt: its second attempt logs "Checking
  // File: " kCopyRetryDelayMs after that. 0 when there was no second attempt.
  uint32_t FirstAttemptGivenUp(const std::string& remotePath) const {
    int checks = 0;
    for (const Entry& e : timeline) {
      if (e.line == "Checking File: " + remotePath && ++checks == 2) return e.tick - kCopyRetryDelayMs;
    }
    return 0;
  }

  std::vector<Entry> timeline;
  std::vector<BarMove> barMoves;

 private:
  int LastPosition(int barId) const {
    for (auto move = barMoves.rbegin(); move != barMoves.rend(); ++move) {
      if (move->barId == barId) return move->position;
    }
    return -1;
  }
};

class Installer : public ui::headless::Driver {
 public:
  using HeadlessBackend = ui::headless::HeadlessBackend;

  // `macText` is the controller's 12-character MAC as its discovery answer carries it.
  explicit Installer(std::string macText) : mac(std::move(macText)) {}

  // --- what the person does --------------------------------------------------------------------
  int warningAnswer = ui::IDYES;
  // Selects the controller's line before pressing Start; false presses Start with nothing selected.
  bool selectLine = true;
  // Closes the upgrade dialog through its button once the run is over.
  bool closeWhenOver = true;
  // Called on every look while the upgrade dialog is the active one (before the close above).
  std::function<void(HeadlessBackend&, CUpdateDlg&)> duringUpgrade;
  // Called on the first look at the main dialog after the upgrade dialog has gone.
  std::function<void(HeadlessBackend&, CPKGLIFTDlg&)> afterUpgrade;
  // Called on the first look at the main dialog after the Start command returned, whatever it did
  // (before afterUpgrade).
  std::function<void(HeadlessBackend&, CPKGLIFTDlg&)> afterStart;
  // Called while the warning box is open, with the main dialog (a real box runs a modal loop in
  // which the main dialog's handlers go on).
  std::function<void(CPKGLIFTDlg&)> duringWarning;
  // After an upgrade, waits for the controller's line to come back before closing the main dialog;
  // false closes it at the first look (a controller that stays away would keep it open for good).
  bool awaitRelisting = true;

  // --- what the person saw ---------------------------------------------------------------------
  std::vector<ui::headless::ShownMessageBox> boxes;
  UpgradeSnapshot atClose;           // the upgrade dialog when the person closed it (or it ended)
  std::vector<std::string> listAfterUpgrade;  // the device list right after the upgrade dialog went
  std::vector<std::string> listAtStart;       // the device list as Start was pressed
  std::vector<std::string> listAfterStart;    // the device list right after the Start command
  bool pressedStart = false;
  bool upgradeShown = false;
  bool relisted = false;             // the controller was listed again after the upgrade

  void OnPoll(HeadlessBackend& ui) override {
    if (auto* upgrade = dynamic_cast<CUpdateDlg*>(ui.ActiveDialog())) {
      upgradeShown = true;
      if (duringUpgrade) duringUpgrade(ui, *upgrade);
      if (closeWhenOver && upgrade->IsRunOver() && !upgrade->HasEnded()) {
        atClose = Snapshot(*upgrade);
        ui.ClickButton(ui::IDCANCEL);
      }
      return;
    }
    auto* main = dynamic_cast<CPKGLIFTDlg*>(ui.ActiveDialog());
    if (!main) return;
    switch (phase) {
      case Phase::WaitingForLine:
        if (int line = LineOf(*main); line >= 0) {
          if (selectLine) ui.SelectItem(kDeviceListId, line);
          listAtStart = Lines(*main);
          startedFrom = main;
          pressedStart = ui.ClickButton(ui::IDOK) == 1;
          phase = Phase::Started;
        }
        break;
      case Phase::Started:
        // Back at the main dialog: the Start command is over, with or without an upgrade dialog.
        listAfterStart = Lines(*main);
        if (afterStart) afterStart(ui, *main);
        if (!upgradeShown) {
          ui.ClickButton(ui::IDCANCEL);
          phase = Phase::Done;
          break;
        }
        listAfterUpgrade = listAfterStart;
        if (afterUpgrade) afterUpgrade(ui, *main);
        phase = Phase::AfterUpgrade;
        if (!awaitRelisting) {
          ui.ClickButton(ui::IDCANCEL);
          phase = Phase::Done;
        }
        break;
      case Phase::AfterUpgrade:
        if (LineOf(*main) >= 0) {
          relisted = true;
          ui.ClickButton(ui::IDCANCEL);
          phase = Phase::Done;
        }
        break;
      case Phase::Done:
        break;
    }
  }

  int OnMessageBox(const std::string& text, uint32_t style) override {
    bool warning = (style & ui::MB_TYPEMASK) == ui::MB_YESNO;
    if (warning && duringWarning && startedFrom) duringWarning(*startedFrom);
    int answer = warning ? warningAnswer : ui::IDOK;
    boxes.push_back({text, style, answer});
    return answer;
  }

 private:
  enum class Phase { WaitingForLine, Started, AfterUpgrade, Done };

  static std::vector<std::string> Lines(CPKGLIFTDlg& main) {
    std::vector<std::string> lines;
    for (int i = 0; i < main.DeviceList().GetCount(); ++i) lines.push_back(main.DeviceList().GetText(i));
    return lines;
  }

  // The index of the controller's line, or -1 while it is not listed.
  int LineOf(CPKGLIFTDlg& main) const {
    for (int i = 0; i < main.DeviceList().GetCount(); ++i) {
      auto* record = static_cast<DeviceRecord*>(main.DeviceList().GetItemData(i));
      if (record && record->macText == mac) return i;
    }
    return -1;
  }

  std::string mac;
  Phase phase = Phase::WaitingForLine;
  CPKGLIFTDlg* startedFrom = nullptr;
};

}  // namespace testing_support
