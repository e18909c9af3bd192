#pragma once
// The main dialog: lists the controllers heard on the LAN, narrows the list to one product line,
// and starts the upgrade of the selected controller. Discovery runs from its one-second timer.
#include <cstdint>
#include <memory>
#include <string>
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

inline constexpr const char* kProductVersion = "1.4 Build 5.0 Rel";
inline constexpr const char* kCoreVersion = "7.1 Build 269.0 Rel";

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

  // The Start command. It arrives with the upgrade dialog; until then pressing Start does nothing.
  void OnStart();
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
  ui::ListBox& DeviceList() { return *deviceList; }
  ui::ListBox& FilterList() { return *filterList; }
  const std::vector<std::unique_ptr<CPingSocket>>& DiscoverySockets() const { return discoverySockets; }

 private:
  DeviceRecord* RecordAt(int index) const;
  DeviceRecord* FindRecord(const std::string& macText) const;
  // Deletes the first line not heard for more than kDeviceExpiryMs, with its record; 1 if one went.
  int ExpireOneLine();
  void SetDiagnosticView(int on);

  uint32_t lastProbeTick;
  ui::ListBox* deviceList;  // control 1001; item data: an owned DeviceRecord
  ui::ListBox* filterList;  // control 1034
  std::vector<std::unique_ptr<CPingSocket>> discoverySockets;
  uint32_t lastKeyDown = 0;
  int upgradeRunning = 0;
  int diagnosticView = 0;
};
