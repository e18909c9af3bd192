#include "app/main_dialog.h"

#include "app/main_dialog_template.h"
#include "discovery/device_record.h"
#include "discovery/device_types.h"
#include "discovery/discovery_answer.h"
#include "net/codes.h"
#include "net/query.h"
#include "net/server.h"
#include "platform/clock.h"
#include "support/format.h"
#include "ui/backend.h"
#include "upgrade/update_dialog.h"

namespace {

// Integers that follow the text in the system information answer.
constexpr int kSystemInfoValues = 6;

}  // namespace

CPKGLIFTDlg::CPKGLIFTDlg(ui::Dialog* parent)
    : ui::Dialog(MainDialogTemplate(), parent),
      lastProbeTick(platform::GetTickCount()),
      deviceList(GetListBox(kDeviceListId)),
      filterList(GetListBox(kFilterListId)),
      discoverySockets(OpenDiscoverySockets()) {}

CPKGLIFTDlg::~CPKGLIFTDlg() {
  CloseSession();
  discoverySockets.clear();
  // A run ended other than by Cancel still leaves the records to us.
  ClearDeviceList();
}

int CPKGLIFTDlg::OnInitDialog() {
  ui::Dialog::OnInitDialog();
  SetTimer(kDiscoveryTimerId, kDiscoveryPeriodMs);
  SetWindowText(Format("Board Support Package Upgrade Utility: %s (Core: %s)", kProductVersion, kCoreVersion));
  for (const char* entry : kFilterEntries) filterList->AddString(entry);
  return 1;
}

void CPKGLIFTDlg::OnTimer(int) {
  if (upgradeRunning) return;
  // Everything queued is read, up to a bound that keeps a flood from holding the thread.
  for (auto& socket : discoverySockets) {
    for (int read = 0; read < kMaxAnswersPerTick && ReadAnswer(*socket); ++read) {
    }
  }
  if (platform::MsSince(lastProbeTick) > kProbeIntervalMs) {
    for (auto& socket : discoverySockets) socket->SendProbe();
    lastProbeTick = platform::GetTickCount();
  }
  if (!ExpireOneLine()) UpdateWindow();
}

int CPKGLIFTDlg::ReadAnswer(CPingSocket& socket) {
  uint8_t answer[kAnswerBytes] = {};
  platform::Endpoint sender;
  int received = socket.ReceiveAnswer(answer, &sender);
  if (received != 2) return received;
  uint8_t type = answer[kAnswerTypeOffset];
  uint8_t subtype = answer[kAnswerSubtypeOffset];
  if (IsHiddenSubtype(subtype)) return 1;
  if (!diagnosticView && !PassesFilter(filterList->GetCurSel(), type, subtype)) return 1;
  uint32_t address = AnswerAddress(answer);
  if (DeviceRecord* record = FindRecord(AnswerText(answer, kAnswerMacOffset))) {
    // Another subtype or a new address under the same MAC does not keep the line alive: it expires
    // and comes back as the controller now is.
    if (record->subtype == subtype && record->address == address) record->lastHeard = platform::GetTickCount();
    return 1;
  }
  int index = deviceList->AddString(FormatDeviceLine(answer, diagnosticView));
  if (index >= 0) {
    auto* record = new DeviceRecord(answer, address);
    deviceList->SetItemData(index, record);
    recordsByMac[record->macText] = record;
  }
  return 1;
}

DeviceRecord* CPKGLIFTDlg::RecordAt(int index) const {
  return static_cast<DeviceRecord*>(deviceList->GetItemData(index));
}

DeviceRecord* CPKGLIFTDlg::FindRecord(const std::string& macText) const {
  auto found = recordsByMac.find(macText);
  return found == recordsByMac.end() ? nullptr : found->second;
}

int CPKGLIFTDlg::ExpireOneLine() {
  for (int i = 0; i < deviceList->GetCount(); ++i) {
    DeviceRecord* record = RecordAt(i);
    if (record && platform::MsSince(record->lastHeard) > kDeviceExpiryMs) {
      deviceList->DeleteString(i);
      recordsByMac.erase(record->macText);
      delete record;
      return 1;
    }
  }
  return 0;
}

void CPKGLIFTDlg::OnCancel() {
  KillTimer(kDiscoveryTimerId);
  for (int i = 0; i < deviceList->GetCount(); ++i) {
    delete RecordAt(i);
    deviceList->SetItemData(i, nullptr);
  }
  recordsByMac.clear();
  ui::Dialog::OnCancel();
}

int CPKGLIFTDlg::PreTranslateMessage(const ui::Message& message) {
  if (message.kind == ui::MessageKind::KeyDown) {
    if (message.key == kDiagnosticOnKey && lastKeyDown == kDiagnosticOnKey && !diagnosticView) {
      SetDiagnosticView(1);
    } else if (message.key == kDiagnosticOffKey && lastKeyDown == kDiagnosticOffKey && diagnosticView) {
      SetDiagnosticView(0);
    }
    lastKeyDown = message.key;
  }
  return ui::Dialog::PreTranslateMessage(message);
}

void CPKGLIFTDlg::SetDiagnosticView(int on) {
  diagnosticView = on;
  ClearDeviceList();
  UpdateWindow();
}

void CPKGLIFTDlg::OnCommand(int id) {
  if (id == ui::IDOK) {
    OnStart();
  } else {
    ui::Dialog::OnCommand(id);
  }
}

void CPKGLIFTDlg::OnSelChange(int controlId) {
  if (controlId == kDeviceListId) {
    OnSelchangeDeviceList();
  } else if (controlId == kFilterListId) {
    OnSelchangeFilterList();
  }
}

void CPKGLIFTDlg::OnStart() {
  CloseSession();
  startFailure = StartFailure::None;
  if (deviceList->GetCurSel() == ui::LB_ERR) return;
  if (ConfirmUpgrade() != 1) return;
  std::unique_ptr<DeviceRecord> device;
  for (int32_t systemType : kStartLoginTypes) {
    device = ConnectSelectedDevice(systemType);
    if (device) break;
  }
  if (!device) return;

  upgradeRunning = 1;
  int result = 0;
  int runOver = 0;
  {
    CUpdateDlg upgrade(this, device.get());
    result = upgrade.DoModal();
    runOver = upgrade.IsRunOver();
  }
  upgradeRunning = 0;
  // Closed through its button once the run was over: the run speaks for itself. Any other end, a
  // close while steps were still running included, may leave the controller half upgraded.
  if (result != ui::IDCANCEL || !runOver) ui::MessageBox(kUpgradeNotSuccessful, ui::MB_OK);
  CloseSession();
  device.reset();
  if (result == ui::IDCANCEL) ClearDeviceList();
}

int CPKGLIFTDlg::ConfirmUpgrade() {
  return ui::MessageBox(kUpgradeWarning, ui::MB_YESNO | ui::MB_ICONHAND) == ui::IDYES ? 1 : 0;
}

std::unique_ptr<DeviceRecord> CPKGLIFTDlg::ConnectSelectedDevice(int32_t systemType) {
  CloseSession();
  // The warning box may have run a modal loop in which the line expired: then there is nothing to
  // connect to.
  DeviceRecord* record = RecordAt(deviceList->GetCurSel());
  if (!record) {
    NoteStartFailure(StartFailure::NoLine);
    return nullptr;
  }
  std::string systemText;
  StartFailure failure = StartFailure::None;
  if (!ConnectAndIdentify(*record, systemType, &systemText, &failure)) {
    NoteStartFailure(failure);
    return nullptr;
  }
  startFailure = StartFailure::None;
  return std::make_unique<DeviceRecord>(*record);
}

int ConnectAndIdentify(DeviceRecord& record, int32_t systemType, std::string* systemText, StartFailure* failure) {
  CloseServer();
  SetServer(std::make_unique<CVRServer>());
  CVRServer* server = GetServer();
  server->SetTarget(systemType, "");
  if (!server->Connect(platform::Endpoint{record.address, record.port})) {
    *failure = server->GetConnectFailure() == CVRServer::ConnectFailure::Login ? StartFailure::Login
                                                                                : StartFailure::Connection;
    CloseServer();
    return 0;
  }
  CVRQuery query;
  CVRMSG request(0, kCodeSystemInfo, 0);
  CVRMSG* answer = nullptr;
  std::string text;
  if (!query.Ask(&answer, &request) || !answer->ReadString(text)) {
    *failure = StartFailure::SystemInformation;
    CloseServer();
    return 0;
  }
  // Type first, four values not used, subtype sixth. A value the answer does not hold leaves what
  // discovery said in place.
  int32_t values[kSystemInfoValues] = {record.type, 0, 0, 0, 0, record.subtype};
  for (int32_t& value : values) answer->ReadInt(&value);
  record.type = uint8_t(values[0]);
  record.subtype = uint8_t(values[kSystemInfoValues - 1]);
  *systemText = text;
  return 1;
}

void CPKGLIFTDlg::NoteStartFailure(StartFailure failure) {
  // Of the two logins, the one that got further tells the person more.
  if (failure > startFailure) startFailure = failure;
}

void CPKGLIFTDlg::OnSelchangeDeviceList() { UpdateStartButton(); }

void CPKGLIFTDlg::OnSelchangeFilterList() { ClearDeviceList(); }

void CPKGLIFTDlg::UpdateStartButton() { GetButton(ui::IDOK)->EnableWindow(deviceList->GetCurSel() != ui::LB_ERR); }

void CPKGLIFTDlg::ClearDeviceList() {
  for (int i = 0; i < deviceList->GetCount(); ++i) delete RecordAt(i);
  recordsByMac.clear();
  deviceList->ResetContent();
}

void CPKGLIFTDlg::CloseSession() { CloseServer(); }
