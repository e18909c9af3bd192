#pragma once
// The main dialog: lists the controllers heard on the LAN, narrows the list to one product line,
// and starts the upgrade of the selected controller. Discovery runs from its one-second timer.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "discovery/ping_socket.h"
#include "ui/dialog.h"

class DeviceRecord;

// The diagnostic view goes on when F7 is pressed twice in a row, and off with F8 twice.
inline constexpr uint32_t kDiagnosticOnKey = ui::VK_F7;
inline constexpr uint32_t kDiagnosticOffKey = ui::VK_F8;

inline constexpr int kDiscoveryTimerId = 1;
inline constexpr uint32_t kDiscoveryPeriodMs = 1000;
// A probe round goes out on a tick when more than this has passed since the last one.
inline constexpr uint32_t kProbeIntervalMs = 500;
// A line whose controller has not been heard for more than this is removed.
inline constexpr uint32_t kDeviceExpiryMs = 2000;
// Datagrams one timer tick reads from one discovery socket at most. A site's round of answers is
// far fewer; a flood beyond it waits for the next tick instead of holding the thread.
inline constexpr int kMaxAnswersPerTick = 5000;

inline constexpr const char* kUpgradeWarning =
    "Warning: You are about to upgrade the board support package on your system controller\n\n"
    "We recommend using a PC with a wired network connection on the same LAN as the controller to be updated to "
    "execute the update procedure:\n\nClick Yes below to execute the upgrade.\n";
inline constexpr const char* kUpgradeNotSuccessful =
    "ERROR: Upgrade began, but was not successful. Please re-run the upgrade as soon as possible and do not "
    "attempt to use the controller until a successful upgrade is complete.";

inline constexpr const char* kProductVersion = "1.4 Build 5.0 Rel";
inline constexpr const char* kCoreVersion = "7.1 Build 269.0 Rel";

// Why the last Start ended before an upgrade dialog opened, for a front end to tell a person (the
// dialog itself ends such a Start silently). Of the two logins' failures the later stage is kept,
// so the order of these values matters.
enum class StartFailure { None, NoLine, Connection, Login, SystemInformation };

// The logins Start tries in turn: as a full gateway's client, then as a Linux controller's.
inline constexpr int32_t kStartLoginTypes[] = {1, 9};

// What Start does to reach a controller, under one login type: opens a new process-wide session to
// the record's address and port, logs in under `systemType` and asks the system information. 1 with
// the session left open, the record refreshed with the type and subtype the answer gives (a value
// the answer lacks keeps what discovery said) and *systemText the answer's text; 0 with no session
// and *failure saying how far it got (Connection, Login or SystemInformation).
int ConnectAndIdentify(DeviceRecord& record, int32_t systemType, std::string* systemText, StartFailure* failure);

class CPKGLIFTDlg : public ui::Dialog {
 public:
  // Opens one discovery socket per chosen local address (at most two). `parent` is borrowed.
  explicit CPKGLIFTDlg(ui::Dialog* parent = nullptr);
  // Closes the session and the discovery sockets; deletes any record still in the list.
  ~CPKGLIFTDlg() override;

  // Starts the discovery timer, sets the caption and fills the filter list. Returns 1.
  int OnInitDialog() override;
  // One discovery round: reads every pending answer, probes, expires at most one line. Does
  // nothing while an upgrade runs.
  void OnTimer(int id) override;
  // Stops the timer, deletes the records and ends the dialog with IDCANCEL.
  void OnCancel() override;
  // Switches the diagnostic view on its key pairs, then gives the message to the dialog keys.
  int PreTranslateMessage(const ui::Message& message) override;
  // IDOK (the Start button, or Enter) goes to OnStart; the rest as the dialog base does.
  void OnCommand(int id) override;
  void OnSelChange(int controlId) override;

  // The Start command: with a line selected and the warning answered Yes, connects to that
  // controller, asks its system information and runs the upgrade dialog; afterwards closes the
  // session and, unless the run ended through the dialog's button after it was over, says that the
  // upgrade was not successful. Nothing happens without a selected line; a controller that cannot
  // be reached or logged in to ends it silently.
  void OnStart();
  // The warning box (Yes/No, stop icon): 1 for Yes.
  int ConfirmUpgrade();
  // Opens a new process-wide session to the selected controller logged in under `systemType`, asks
  // its system information, refreshes the line's record with the type and subtype it gives, and
  // returns a copy of that record; null (and no session) when any of that fails.
  std::unique_ptr<DeviceRecord> ConnectSelectedDevice(int32_t systemType);
  // Enables Start exactly when a line of the device list is selected.
  void OnSelchangeDeviceList();
  // Empties the device list; it refills under the new filter as answers come in.
  void OnSelchangeFilterList();
  void UpdateStartButton();
  // Deletes the record of every line, then empties the list.
  void ClearDeviceList();
  // Takes one datagram from `socket` into the list. 0 when nothing was pending, 1 when one was taken,
  // whatever became of it.
  int ReadAnswer(CPingSocket& socket);
  // Deletes the process-wide server session, if there is one.
  void CloseSession();

  // 1 from just before an upgrade dialog opens until its modal run returns.
  void SetUpgradeRunning(int running) { upgradeRunning = running; }
  int IsUpgradeRunning() const { return upgradeRunning; }
  int IsDiagnosticView() const { return diagnosticView; }
  StartFailure GetStartFailure() const { return startFailure; }
  ui::ListBox& DeviceList() { return *deviceList; }
  ui::ListBox& FilterList() { return *filterList; }
  const std::vector<std::unique_ptr<CPingSocket>>& DiscoverySockets() const { return discoverySockets; }

 private:
  DeviceRecord* RecordAt(int index) const;
  // The listed record with this MAC text, through recordsByMac: a site's thousand lines, or a
  // flood of answers, must not cost a walk of the list per answer.
  DeviceRecord* FindRecord(const std::string& macText) const;
  // Deletes the first line not heard for more than kDeviceExpiryMs, with its record; 1 if one went.
  int ExpireOneLine();
  void SetDiagnosticView(int on);
  void NoteStartFailure(StartFailure failure);

  uint32_t lastProbeTick;
  ui::ListBox* deviceList;  // control 1001; item data: an owned DeviceRecord
  // Every record the device list holds, by MAC text (one line per MAC).
  std::unordered_map<std::string, DeviceRecord*> recordsByMac;
  ui::ListBox* filterList;  // control 1034
  std::vector<std::unique_ptr<CPingSocket>> discoverySockets;
  uint32_t lastKeyDown = 0;
  int upgradeRunning = 0;
  int diagnosticView = 0;
  StartFailure startFailure = StartFailure::None;
};
