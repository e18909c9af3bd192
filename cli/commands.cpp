#include "cli/commands.h"

#include <nlohmann/json.hpp>

#include <array>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

#include "app/app.h"
#include "app/main_dialog.h"
#include "app/main_dialog_template.h"
#include "discovery/device_record.h"
#include "discovery/device_types.h"
#include "discovery/ping_socket.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "support/format.h"
#include "ui/headless/headless_backend.h"
#include "ui/list_box.h"
#include "ui/progress_bar.h"
#include "net/server.h"
#include "support/vrfile.h"
#include "upgrade/copy_file.h"
#include "upgrade/update_dialog.h"
#include "upgrade/update_dialog_template.h"

namespace {

constexpr uint32_t kMsPerSecond = 1000;
constexpr const char* kCompletedLine = "BSP Upgrade completed";
constexpr int kTotalBarWidth = 30;
constexpr int kItemBarWidth = 20;

// The dialogs are told apart by their template, as a person tells windows apart by their look.
CPKGLIFTDlg* AsMainDialog(ui::Dialog* dialog) {
  return dialog && dialog->Layout().id == kMainDialogTemplateId ? dynamic_cast<CPKGLIFTDlg*>(dialog) : nullptr;
}

CUpdateDlg* AsUpgradeDialog(ui::Dialog* dialog) {
  return dialog && dialog->Layout().id == kUpdateDialogTemplateId ? dynamic_cast<CUpdateDlg*>(dialog) : nullptr;
}

const DeviceRecord* RecordAt(CPKGLIFTDlg& dialog, int index) {
  return static_cast<const DeviceRecord*>(dialog.DeviceList().GetItemData(index));
}

// The MAC as its line shows it: the first 12 characters of the controller's MAC text, in pairs.
std::string LineMac(const DeviceRecord& record) {
  std::string mac;
  for (size_t i = 0; i < record.macText.size() && i < 12; ++i) {
    if (i > 0 && i % 2 == 0) mac += ':';
    mac += record.macText[i];
  }
  return mac;
}

std::string DottedAddress(uint32_t address) {
  return Format("%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF, address >> 24);
}

// The program as setcap wants it: a path, or the shell's lookup when it was found on the PATH.
std::string SetcapPath(const std::string& program) {
  return program.find('/') == std::string::npos ? "$(command -v " + program + ")" : program;
}

// Says once why discovery may hear less than it should, so that an empty list is never a mystery.
void ReportDiscoveryProblems(CPKGLIFTDlg& dialog, const Console& console) {
  std::ostream& err = *console.err;
  const auto& sockets = dialog.DiscoverySockets();
  if (sockets.empty()) {
    err << "bsplift: no network adapter has an IPv4 address, so no controller can be discovered\n";
    return;
  }
  const char* consequence =
      "; discovery goes on from a port the system picks, where only controllers that answer to the probe's own "
      "port are heard\n";
  for (const auto& socket : sockets) {
    int error = socket->GetBindError();
    if (!socket->IsValid() || error == 0) continue;
    std::string where = "port 444 on " + DottedAddress(socket->GetLocalAddress());
    if (platform::IsPermissionError(error)) {
      err << "bsplift: not allowed to use " << where
          << " (it needs root, or once: sudo setcap cap_net_bind_service+ep " << SetcapPath(console.program) << ")"
          << consequence;
    } else if (platform::IsAddressInUseError(error)) {
      err << "bsplift: " << where << " is in use by another program (ss -ulpn 'sport = :444' names it)"
          << consequence;
    } else {
      err << "bsplift: cannot bind " << where << " (socket error " << error << ")" << consequence;
    }
    return;
  }
}

// What is left of `seconds` counted from the tick `start`; 0 once they are over.
uint32_t MsLeft(uint32_t start, uint32_t seconds) {
  uint32_t total = seconds * kMsPerSecond;
  uint32_t gone = platform::MsSince(start);
  return gone >= total ? 0 : total - gone;
}

int Percent(const ui::ProgressBar& bar) {
  int span = bar.GetRangeHigh() - bar.GetRangeLow();
  return span > 0 ? int(int64_t(bar.GetPos() - bar.GetRangeLow()) * 100 / span) : 0;
}

std::string BarText(int percent, int width) {
  int filled = percent * width / 100;
  return std::string(size_t(filled), '#') + std::string(size_t(width - filled), '-');
}

// The headless backend, with the upgrade dialog mirrored on the console: each log line on stdout once
// it is final (a line may still grow until the next one is added or the dialog ends), and on a
// terminal the two bars on stderr.
class ConsoleBackend : public ui::headless::HeadlessBackend {
 public:
  ConsoleBackend(ui::headless::Driver* driver, Console& console) : HeadlessBackend(driver), console(console) {}

  int DialogCreated(ui::Dialog& dialog) override {
    int created = HeadlessBackend::DialogCreated(dialog);
    if (created && AsUpgradeDialog(&dialog)) {
      printed = 0;
      if (console.upgradeShown) console.upgradeShown(true);
    }
    return created;
  }

  void DialogDestroyed(ui::Dialog& dialog) override {
    if (CUpdateDlg* upgrade = AsUpgradeDialog(&dialog)) {
      PrintLines(*upgrade, upgrade->LogList().GetCount());
      ClearBars();
      if (console.upgradeShown) console.upgradeShown(false);
    }
    HeadlessBackend::DialogDestroyed(dialog);
  }

  void ControlChanged(ui::Dialog& dialog, ui::Control& control) override {
    CUpdateDlg* upgrade = AsUpgradeDialog(&dialog);
    if (upgrade && control.Kind() == ui::ControlKind::ProgressBar) DrawBars(*upgrade);
  }

  // Every line but the last is final: the last may still get a verdict appended.
  void ListChanged(ui::Dialog& dialog, ui::ListBox& list, ui::ListChange, int) override {
    CUpdateDlg* upgrade = AsUpgradeDialog(&dialog);
    if (upgrade && list.GetDlgCtrlID() == kLogListId) PrintLines(*upgrade, list.GetCount() - 1);
  }

 private:
  // Prints the log lines not yet printed below index `end`.
  void PrintLines(CUpdateDlg& upgrade, int end) {
    if (printed >= end) return;
    bool redraw = barsShown;
    ClearBars();
    for (; printed < end; ++printed) *console.out << upgrade.LogList().GetText(printed) << '\n';
    console.out->flush();
    if (redraw) ShowBars();
  }

  void DrawBars(CUpdateDlg& upgrade) {
    if (!console.errorIsTerminal) return;
    int total = Percent(upgrade.TotalBar());
    int item = Percent(upgrade.ItemBar());
    std::string text = Format("total [%s] %3d%%   file [%s] %3d%%", BarText(total, kTotalBarWidth).c_str(), total,
                              BarText(item, kItemBarWidth).c_str(), item);
    if (barsShown && text == bars) return;
    bars = text;
    ShowBars();
  }

  void ShowBars() {
    *console.err << "\r\033[K" << bars << std::flush;
    barsShown = true;
  }

  void ClearBars() {
    if (!barsShown) return;
    *console.err << "\r\033[K" << std::flush;
    barsShown = false;
  }

  Console& console;
  int printed = 0;
  std::string bars;
  bool barsShown = false;
};

// A line of the device list with a copy of its record, taken before the dialog deletes the records.
struct ListedDevice {
  std::string line;
  std::optional<DeviceRecord> record;  // none only for a line whose record the dialog has let go
};

// Lets the main dialog discover for up to `seconds`: on its first look says what discovery cannot
// hear and lets the subclass set the dialog up, then looks every turn until the subclass has what it
// wants or the time is over, lets it take what it needs from the dialog, and closes the dialog with
// Cancel. Message boxes go to stderr and are answered No (or OK).
class TimedDriver : public ui::headless::Driver {
 public:
  TimedDriver(uint32_t seconds, const Console& console) : seconds(seconds), console(console) {}

  void OnPoll(ui::headless::HeadlessBackend& ui) override {
    CPKGLIFTDlg* dialog = AsMainDialog(ui.ActiveDialog());
    if (!dialog || done) return;
    if (!started) {
      started = true;
      start = platform::GetTickCount();
      ReportDiscoveryProblems(*dialog, console);
      FirstLook(ui, *dialog);
      return;
    }
    if (!Satisfied(*dialog) && MsLeft(start, seconds) > 0) return;
    Take(*dialog);
    done = true;
    ui.ClickButton(ui::IDCANCEL);
  }

  int OnMessageBox(const std::string& text, uint32_t style) override {
    *console.err << text << '\n';
    return (style & ui::MB_YESNO) ? ui::IDNO : ui::IDOK;
  }

  uint32_t MsUntilNextAction() override { return started && !done ? MsLeft(start, seconds) : 0; }

 protected:
  virtual void FirstLook(ui::headless::HeadlessBackend&, CPKGLIFTDlg&) {}
  virtual bool Satisfied(CPKGLIFTDlg&) { return false; }
  virtual void Take(CPKGLIFTDlg&) {}

 private:
  uint32_t seconds;
  const Console& console;
  bool started = false;
  bool done = false;
  uint32_t start = 0;
};

// Discovers for the given time, with the filter and view asked for set before the first tick, and
// takes the list as it then stands.
class ListDriver : public TimedDriver {
 public:
  ListDriver(const ListOptions& options, const Console& console)
      : TimedDriver(options.seconds, console), options(options) {}

  const std::vector<ListedDevice>& Devices() const { return devices; }

 private:
  void FirstLook(ui::headless::HeadlessBackend& ui, CPKGLIFTDlg& dialog) override {
    SelectFilter(ui, dialog);
    if (options.diagnostic) {
      ui.PressKey(kDiagnosticOnKey);
      ui.PressKey(kDiagnosticOnKey);
    }
  }

  void Take(CPKGLIFTDlg& dialog) override {
    for (int i = 0; i < dialog.DeviceList().GetCount(); ++i) {
      const DeviceRecord* record = RecordAt(dialog, i);
      devices.push_back(ListedDevice{dialog.DeviceList().GetText(i),
                                     record ? std::optional<DeviceRecord>(*record) : std::nullopt});
    }
  }

  void SelectFilter(ui::headless::HeadlessBackend& ui, CPKGLIFTDlg& dialog) {
    if (options.filter.empty()) return;
    ui::ListBox& filters = dialog.FilterList();
    for (int i = 0; i < filters.GetCount(); ++i) {
      if (filters.GetText(i) == options.filter) ui.SelectItem(kFilterListId, i);
    }
  }

  const ListOptions& options;
  std::vector<ListedDevice> devices;
};

// Why no session came about, as the person is told. `target` is "address:port".
std::string StartFailureText(StartFailure failure, const std::string& target) {
  switch (failure) {
    case StartFailure::Connection:
      return "could not connect to " + target;
    case StartFailure::Login:
      return "the login to " + target + " failed (as type 1 and as type 9)";
    case StartFailure::SystemInformation:
      return target + " did not answer the system information request";
    case StartFailure::NoLine:
    case StartFailure::None:
      break;
  }
  return "the controller left the list before Start could connect";
}

// The line's MAC, as the person typed it, is the one being looked for.
bool LineHasMac(const DeviceRecord& record, const std::string& mac) {
  return NormalizeMac(LineMac(record)) == NormalizeMac(mac);
}

struct Outcome {
  std::string mac;
  int code = kExitNotListed;
  std::string words;
};

// Upgrades the named controllers one after another, as a person would: waits for the line, selects it,
// presses Start, answers the warning, and presses the upgrade dialog's button once the run is over (or
// at a Ctrl-C, to stop it after its current step).
class UpgradeDriver : public ui::headless::Driver {
 public:
  UpgradeDriver(const UpgradeOptions& options, const Console& console) : options(options), console(console) {}

  void OnPoll(ui::headless::HeadlessBackend& ui) override {
    ui::Dialog* active = ui.ActiveDialog();
    if (CUpdateDlg* upgrade = AsUpgradeDialog(active)) {
      OnUpgradeDialog(ui, *upgrade);
      return;
    }
    CPKGLIFTDlg* dialog = AsMainDialog(active);
    if (!dialog) return;
    if (!reported) {
      reported = true;
      ReportDiscoveryProblems(*dialog, console);
      waitStart = platform::GetTickCount();
    }
    switch (phase) {
      case Phase::Waiting:
        return Wait(ui, *dialog);
      case Phase::Selecting:
        return PressStart(ui, *dialog);
      case Phase::Started:
        return AfterStart(*dialog);
      case Phase::Closing:
        if (!closed) closed = ui.ClickButton(ui::IDCANCEL) != 0;
        return;
    }
  }

  int OnMessageBox(const std::string& text, uint32_t style) override {
    *console.err << text << '\n';
    if (text == kUpgradeNotSuccessful) {
      notSuccessful = true;
      return ui::IDOK;
    }
    if (text != kUpgradeWarning) return (style & ui::MB_YESNO) ? ui::IDNO : ui::IDOK;
    warningShown = true;
    if (options.yes) return ui::IDYES;
    std::string answer;
    if (!console.inputIsTerminal) {
      *console.err << "No terminal to answer on: taken as No (--yes answers Yes).\n";
    } else {
      *console.err << "Upgrade " << Current() << "? [y/N] " << std::flush;
      if (console.readLine && console.readLine(&answer) && (answer == "y" || answer == "Y" || answer == "yes")) {
        return ui::IDYES;
      }
    }
    declined = true;
    return ui::IDNO;
  }

  uint32_t MsUntilNextAction() override {
    // Selecting and Closing act on the next turn; Started waits for what the dialogs do.
    if (phase == Phase::Selecting || (phase == Phase::Closing && !closed)) return 0;
    if (phase != Phase::Waiting) return ui::kWaitForever;
    return MsLeft(waitStart, options.waitSeconds);
  }

  // The exit code, after the summary when several controllers were named.
  int Finish() {
    for (size_t i = outcomes.size(); i < options.macs.size(); ++i) {
      // Not tried: after a Ctrl-C by choice, otherwise because the main dialog ended early.
      outcomes.push_back(stopped ? Outcome{options.macs[i], kExitInterrupted, "skipped after Ctrl-C"}
                                 : Outcome{options.macs[i], kExitNoUpgrade, "no upgrade began"});
    }
    int code = kExitCompleted;
    for (const Outcome& outcome : outcomes) {
      if (code == kExitCompleted) code = outcome.code;
    }
    if (outcomes.size() > 1) {
      for (const Outcome& outcome : outcomes) *console.out << outcome.mac << '\t' << outcome.code << '\t' << outcome.words << '\n';
    }
    console.out->flush();
    return code;
  }

 private:
  enum class Phase { Waiting, Selecting, Started, Closing };

  const std::string& Current() const { return options.macs[outcomes.size()]; }

  int FindLine(CPKGLIFTDlg& dialog) const {
    for (int i = 0; i < dialog.DeviceList().GetCount(); ++i) {
      const DeviceRecord* record = RecordAt(dialog, i);
      if (record && LineHasMac(*record, Current())) return i;
    }
    return ui::LB_ERR;
  }

  void Wait(ui::headless::HeadlessBackend& ui, CPKGLIFTDlg& dialog) {
    int line = FindLine(dialog);
    if (line != ui::LB_ERR) {
      ui.SelectItem(kDeviceListId, line);
      phase = Phase::Selecting;
    } else if (MsUntilNextAction() == 0) {
      *console.err << "bsplift: " << Current() << " was not listed within " << options.waitSeconds << " s\n";
      Record(kExitNotListed, Format("not listed within %u s", options.waitSeconds));
    }
  }

  // Start is enabled only once the selection change has been handled, so it is pressed a turn later.
  void PressStart(ui::headless::HeadlessBackend& ui, CPKGLIFTDlg& dialog) {
    int line = dialog.DeviceList().GetCurSel();
    if (line == ui::LB_ERR || line != FindLine(dialog) || !ui.ClickButton(ui::IDOK)) {
      phase = Phase::Waiting;  // the line moved or left meanwhile: look for it again
      return;
    }
    const DeviceRecord* record = RecordAt(dialog, line);
    target = record ? Format("%s:%u", DottedAddress(record->address).c_str(), record->port) : "";
    warningShown = declined = notSuccessful = upgradeShown = completed = pressed = false;
    phase = Phase::Started;
  }

  void OnUpgradeDialog(ui::headless::HeadlessBackend& ui, CUpdateDlg& upgrade) {
    upgradeShown = true;
    if (pressed) return;
    if (upgrade.IsRunOver()) {
      int last = upgrade.LogList().GetCount() - 1;
      completed = last >= 0 && upgrade.LogList().GetText(last) == kCompletedLine;
      pressed = ui.ClickButton(ui::IDCANCEL) != 0;
    } else if (console.interrupted && console.interrupted()) {
      stopped = true;
      pressed = ui.ClickButton(ui::IDCANCEL) != 0;
    }
  }

  // Start has returned to the main dialog: what became of it.
  void AfterStart(CPKGLIFTDlg& dialog) {
    if (!warningShown) {
      phase = Phase::Waiting;  // the line was gone by the time Start looked: try again
      return;
    }
    if (declined) {
      *console.err << "bsplift: " << Current() << ": the warning was answered No\n";
      Record(kExitDeclined, "warning declined");
    } else if (!upgradeShown) {
      std::string why = StartFailureText(dialog.GetStartFailure(), target);
      *console.err << "bsplift: " << Current() << ": no upgrade began: " << why << '\n';
      Record(kExitNoUpgrade, "no upgrade began: " + why);
    } else if (notSuccessful) {
      Record(kExitNotSuccessful, "upgrade began but was not successful");
    } else if (completed) {
      Record(kExitCompleted, "completed");
    } else {
      Record(kExitFailed, "upgrade failed");
    }
  }

  void Record(int code, const std::string& words) {
    outcomes.push_back(Outcome{Current(), code, words});
    waitStart = platform::GetTickCount();
    phase = Phase::Waiting;
    // A Ctrl-C that came while a step held the thread, too late to stop a run that then completed,
    // still means: no more controllers.
    if (console.interrupted && console.interrupted()) stopped = true;
    // The main dialog is closed from the next poll, once nothing is left to do.
    if (outcomes.size() == options.macs.size() || stopped) phase = Phase::Closing;
  }

  const UpgradeOptions& options;
  const Console& console;
  Phase phase = Phase::Waiting;
  bool reported = false;
  uint32_t waitStart = 0;
  std::string target;
  bool warningShown = false;
  bool declined = false;
  bool notSuccessful = false;
  bool upgradeShown = false;
  bool completed = false;
  bool pressed = false;
  bool stopped = false;
  bool closed = false;
  std::vector<Outcome> outcomes;
};


// Enters -C's folder, if one was named, and makes sure the payload folder is there. Without it an
// upgrade would empty the controller's upgrade folder and still report success, and a check would
// find nothing to compare. False, with the reason on stderr, when either fails.
bool EnterPayloadRoot(const char* verb, const std::string& directory, Console& console) {
  if (!directory.empty() && !platform::SetCurrentDirectory(directory)) {
    *console.err << "bsplift: " << verb << ": cannot enter the folder \"" << directory << "\"\n";
    return false;
  }
  std::string root = GetPayloadRoot();
  std::vector<platform::DirectoryEntry> entries;
  if (!platform::ListDirectory(root + "/" + kPayloadFolder, &entries)) {
    *console.err << "bsplift: " << verb << ": there is no " << kPayloadFolder << " folder in " << root
                 << " (run it where that folder is, or name the folder with -C)\n";
    return false;
  }
  return true;
}

// Discovers until every MAC named is listed or the wait is over, keeping a copy of each one's
// record as it is first seen.
class FindDriver : public TimedDriver {
 public:
  FindDriver(const std::vector<std::string>& macs, uint32_t waitSeconds, const Console& console)
      : TimedDriver(waitSeconds, console), macs(macs), found(macs.size()) {}

  // By the MACs' order; none for a MAC not listed in time.
  const std::vector<std::optional<DeviceRecord>>& Found() const { return found; }

 private:
  bool Satisfied(CPKGLIFTDlg& dialog) override {
    bool all = true;
    for (size_t i = 0; i < macs.size(); ++i) {
      for (int line = 0; !found[i] && line < dialog.DeviceList().GetCount(); ++line) {
        const DeviceRecord* record = RecordAt(dialog, line);
        if (record && LineHasMac(*record, macs[i])) found[i].emplace(*record);
      }
      all = all && found[i];
    }
    return all;
  }

  const std::vector<std::string>& macs;
  std::vector<std::optional<DeviceRecord>> found;
};

// What a check found of one file an upgrade would send.
enum class FileState { Unchanged, Differs, Missing, Unreadable, CopiedLocally };

const char* StateWord(FileState state) {
  switch (state) {
    case FileState::Unchanged:
      return "unchanged";
    case FileState::Differs:
      return "differs";
    case FileState::Missing:
      return "missing";
    case FileState::Unreadable:
      return "unreadable";
    case FileState::CopiedLocally:
      return "copied";
  }
  return "";
}

struct FileCheck {
  std::string path;  // as the upgrade names it to the controller
  FileState state = FileState::Missing;
  FileComparison comparison;
};

struct ControllerCheck {
  std::string mac;  // the line's, once listed; as typed otherwise
  std::optional<DeviceRecord> record;
  int code = kExitNotListed;
  std::string error;  // why the check did not get through every file
  bool identified = false;
  std::string systemText;
  std::vector<FileCheck> files;  // those that got a verdict, in the plan's order
  size_t planned = 0;            // files in the plan
};

// Compares one planned copy as the upgrade's own copy step does before it sends, and sends nothing.
FileCheck CheckFile(CCopyFile& copy, const DeviceRecord& device) {
  FileCheck check;
  check.path = copy.RemotePath();
  // This PC as the target: the upgrade copies every file through the file system, without asking.
  if (device.type == kLocalMachineType) {
    check.state = FileState::CopiedLocally;
    check.comparison.localSize = copy.fileSize;
    return check;
  }
  CVRFile file(copy.LocalPath());
  if (!file.Open(CVRFile::kModeRead, 0, 0, 0)) {
    check.state = FileState::Unreadable;
    return check;
  }
  check.comparison = copy.CompareWithController(file, file.GetLength());
  const FileComparison& c = check.comparison;
  // A negative size is how a controller says it holds no such file.
  check.state = c.Unchanged()                          ? FileState::Unchanged
                : (!c.answered || c.remoteSize < 0) ? FileState::Missing
                                                       : FileState::Differs;
  return check;
}

// Texts from the LAN are not ours to trust: control characters, the C0 and DEL bytes and the C1
// ones in their UTF-8 form, would move a terminal's cursor or worse.
std::string Printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const bool c1 = byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c1) {
      out += '?';
      ++i;
    } else {
      out += byte < 0x20 || byte == 0x7F ? '?' : char(byte);
    }
  }
  return out;
}

// How many files got each state, by FileState.
std::array<int, 5> StateCounts(const ControllerCheck& check) {
  std::array<int, 5> counts{};
  for (const FileCheck& file : check.files) ++counts[size_t(file.state)];
  return counts;
}

std::string CountsText(const ControllerCheck& check) {
  const std::array<int, 5> counts = StateCounts(check);
  std::string text = Format("%zu file%s: %d unchanged, %d differ%s, %d missing", check.files.size(),
                            check.files.size() == 1 ? "" : "s", counts[0], counts[1], counts[1] == 1 ? "s" : "",
                            counts[2]);
  if (counts[3]) text += Format(", %d unreadable here", counts[3]);
  if (counts[4]) text += Format(", %d copied on this PC without comparing", counts[4]);
  return text;
}

// The check as text, a part at a time as it goes: a controller that answers slowly (a comparison
// may take its whole 30 s) shows its progress.
class CheckPrinter {
 public:
  explicit CheckPrinter(std::ostream* out) : out(out) {}

  void Header(const ControllerCheck& check) {
    if (!out || !check.record) return;
    const DeviceRecord& record = *check.record;
    if (printedAny) *out << '\n';
    printedAny = true;
    *out << check.mac << "  " << DottedAddress(record.address) << ':' << record.port << "  "
         << GetModelName(record.type, record.subtype) << '\n';
    if (!check.identified) {
      *out << "no session: " << check.error << '\n';
    } else {
      *out << "System Type: " << GetSystemTypeName(record.type, record.subtype) << " (type " << int(record.type)
           << ", subtype " << int(record.subtype) << ")\n";
      *out << "System Information: " << Printable(check.systemText) << '\n';
    }
    out->flush();
  }

  void File(const FileCheck& file) {
    if (!out) return;
    const FileComparison& c = file.comparison;
    std::string detail;
    switch (file.state) {
      case FileState::Unchanged:
      case FileState::Missing:
      case FileState::CopiedLocally:
        detail = Format("%u bytes here", c.localSize);
        break;
      case FileState::Differs:
        detail = Format("%u bytes here, %d on the controller", c.localSize, c.remoteSize);
        break;
      case FileState::Unreadable:
        detail = "cannot be opened here";
        break;
    }
    *out << Format("%-10s", StateWord(file.state)) << ' ' << file.path << "  " << detail << '\n';
    out->flush();
  }

  void Closing(const ControllerCheck& check) {
    if (!out || !check.identified) return;
    if (!TakesBoardSupportPackage(*check.record)) {
      *out << "0 files: this kind of controller takes no board support package\n";
    } else if (check.files.size() < check.planned) {
      *out << Format("connection lost after %zu of %zu files; ", check.files.size(), check.planned)
           << CountsText(check) << '\n';
    } else {
      *out << CountsText(check) << '\n';
    }
    out->flush();
  }

 private:
  std::ostream* out;  // null: print nothing (JSON comes at the end)
  bool printedAny = false;
};

bool SessionUp() {
  CVRServer* server = GetServer();
  return server && server->IsConnected();
}

// Logs in to the controller as an upgrade's Start does, asks its system information, and compares
// each file of the plan an upgrade of it would run. Asks nothing else: nothing on it changes.
ControllerCheck CheckController(DeviceRecord record, CheckPrinter& printer, Console& console) {
  ControllerCheck check;
  check.mac = LineMac(record);
  const std::string target = Format("%s:%u", DottedAddress(record.address).c_str(), record.port);
  StartFailure furthest = StartFailure::None;
  for (int32_t systemType : kStartLoginTypes) {
    StartFailure failure = StartFailure::None;
    check.identified = ConnectAndIdentify(record, systemType, &check.systemText, &failure) == 1;
    if (check.identified) break;
    if (failure > furthest) furthest = failure;
  }
  // With the type and subtype the system information gave: the plan is made from them.
  check.record.emplace(record);
  if (!check.identified) {
    check.code = kExitNoUpgrade;
    check.error = StartFailureText(furthest, target);
    *console.err << "bsplift: " << check.mac << ": " << check.error << '\n';
    printer.Header(check);
    return check;
  }
  printer.Header(check);
  const std::vector<std::unique_ptr<CCopyFile>> plan = PlanFileCopies(record);
  check.planned = plan.size();
  for (const std::unique_ptr<CCopyFile>& copy : plan) {
    if (!SessionUp()) break;
    FileCheck file = CheckFile(*copy, record);
    // No answer because the connection went meanwhile says nothing of the controller's copy.
    if (!SessionUp() && !file.comparison.answered && file.state == FileState::Missing) break;
    check.files.push_back(file);
    printer.File(check.files.back());
  }
  CloseServer();
  check.code = kExitCompleted;
  for (const FileCheck& file : check.files) {
    if (file.state != FileState::Unchanged) check.code = kExitFailed;
  }
  if (check.files.size() < check.planned) {
    check.code = kExitNoUpgrade;
    check.error = Format("the controller closed the connection after %zu of %zu files", check.files.size(),
                         check.planned);
    *console.err << "bsplift: " << check.mac << ": " << check.error << '\n';
  }
  printer.Closing(check);
  return check;
}

nlohmann::ordered_json CheckJson(const ControllerCheck& check) {
  nlohmann::ordered_json object = {{"mac", check.mac}, {"exit", check.code}};
  if (check.record) {
    const DeviceRecord& record = *check.record;
    object["address"] = DottedAddress(record.address);
    object["port"] = record.port;
    object["type"] = record.type;
    object["subtype"] = record.subtype;
    object["model"] = GetModelName(record.type, record.subtype);
    object["systemType"] = GetSystemTypeName(record.type, record.subtype);
  }
  if (!check.error.empty()) object["error"] = check.error;
  if (!check.identified) return object;
  object["systemInformation"] = check.systemText;
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  for (const FileCheck& file : check.files) {
    const FileComparison& c = file.comparison;
    nlohmann::ordered_json entry = {{"path", file.path}, {"state", StateWord(file.state)}};
    if (file.state != FileState::Unreadable) entry["size"] = c.localSize;
    if (c.localSumRead) entry["sum"] = c.localSum;
    if (c.answered) {
      entry["controllerSize"] = c.remoteSize;
      entry["controllerSum"] = uint32_t(c.remoteSum);
    }
    files.push_back(entry);
  }
  object["files"] = files;
  const std::array<int, 5> counts = StateCounts(check);
  object["unchanged"] = counts[0];
  object["differs"] = counts[1];
  object["missing"] = counts[2];
  if (counts[3]) object["unreadable"] = counts[3];
  if (counts[4]) object["copied"] = counts[4];
  if (check.files.size() < check.planned) object["planned"] = check.planned;
  return object;
}

}  // namespace

int RunList(const ListOptions& options, Console& console) {
  ListDriver driver(options, console);
  {
    ConsoleBackend backend(&driver, console);
    ui::ScopedBackend installed(backend);
    CPKGLIFTApp app;
    app.InitInstance();
  }
  if (!options.json) {
    for (const ListedDevice& device : driver.Devices()) *console.out << device.line << '\n';
  } else {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ListedDevice& device : driver.Devices()) {
      if (!device.record) continue;
      const DeviceRecord& record = *device.record;
      list.push_back({{"mac", LineMac(record)},
                      {"address", DottedAddress(record.address)},
                      {"port", record.port},
                      {"type", record.type},
                      {"subtype", record.subtype},
                      {"model", GetModelName(record.type, record.subtype)},
                      {"name", record.name},
                      {"line", device.line}});
    }
    // Texts from the LAN are not ours to trust: bytes that are not UTF-8 are replaced, not fatal.
    *console.out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  }
  console.out->flush();
  return kExitCompleted;
}

int RunUpgrade(const UpgradeOptions& options, Console& console) {
  if (!EnterPayloadRoot("upgrade", options.directory, console)) return kExitUsage;
  UpgradeDriver driver(options, console);
  ConsoleBackend backend(&driver, console);
  ui::ScopedBackend installed(backend);
  CPKGLIFTApp app;
  app.InitInstance();
  return driver.Finish();
}

int RunCheck(const CheckOptions& options, Console& console) {
  if (!EnterPayloadRoot("check", options.directory, console)) return kExitUsage;
  FindDriver driver(options.macs, options.waitSeconds, console);
  {
    ui::headless::HeadlessBackend backend(&driver);
    ui::ScopedBackend installed(backend);
    CPKGLIFTApp app;
    app.InitInstance();
  }
  CheckPrinter printer(options.json ? nullptr : console.out);
  std::vector<ControllerCheck> checks;
  for (size_t i = 0; i < options.macs.size(); ++i) {
    const std::optional<DeviceRecord>& found = driver.Found()[i];
    if (!found) {
      *console.err << "bsplift: " << options.macs[i] << " was not listed within " << options.waitSeconds << " s\n";
      ControllerCheck missing;
      missing.mac = options.macs[i];
      missing.code = kExitNotListed;
      missing.error = Format("not listed within %u s", options.waitSeconds);
      checks.push_back(std::move(missing));
      continue;
    }
    checks.push_back(CheckController(*found, printer, console));
  }
  if (options.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const ControllerCheck& check : checks) list.push_back(CheckJson(check));
    *console.out << list.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
  }
  console.out->flush();
  for (const ControllerCheck& check : checks) {
    if (check.code != kExitCompleted) return check.code;
  }
  return kExitCompleted;
}
