#include "app/main_dialog.h"

#include "discovery/device_record.h"
#include "discovery/device_types.h"
#include "discovery/discovery_answer.h"
#include "discovery/local_address.h"
#include "app/main_dialog_template.h"
#include "net/server.h"
#include "platform/clock.h"
#include "support/format.h"

CPKGLIFTDlg::CPKGLIFTDlg(ui::Dialog* parent)
    : ui::Dialog(MainDialogTemplate(), parent),
      lastProbeTick(platform::GetTickCount()),
      deviceList(GetListBox(kDeviceListId)),
      filterList(GetListBox(kFilterListId)) {
  int count = CountLocalAddresses();
  for (int adapterClass = 0; adapterClass < count; ++adapterClass) {
    uint32_t mask = 0;
    uint32_t address = 0;
    if (ChooseLocalAddress(adapterClass, &mask, &address)) {
      discoverySockets.push_back(std::make_unique<CPingSocket>(address));
    }
  }
}

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
  for (auto& socket : discoverySockets) {
    while (ReadAnswer(*socket)) {
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
  if (index >= 0) deviceList->SetItemData(index, new DeviceRecord(answer, address));
  return 1;
}

DeviceRecord* CPKGLIFTDlg::RecordAt(int index) const {
  return static_cast<DeviceRecord*>(deviceList->GetItemData(index));
}

DeviceRecord* CPKGLIFTDlg::FindRecord(const std::string& macText) const {
  for (int i = 0; i < deviceList->GetCount(); ++i) {
    DeviceRecord* record = RecordAt(i);
    if (record && record->macText == macText) return record;
  }
  return nullptr;
}

int CPKGLIFTDlg::ExpireOneLine() {
  for (int i = 0; i < deviceList->GetCount(); ++i) {
    DeviceRecord* record = RecordAt(i);
    if (record && platform::MsSince(record->lastHeard) > kDeviceExpiryMs) {
      deviceList->DeleteString(i);
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
  // The upgrade itself (confirmation, login, the upgrade dialog) is not built yet.
}

void CPKGLIFTDlg::OnSelchangeDeviceList() { UpdateStartButton(); }

void CPKGLIFTDlg::OnSelchangeFilterList() { ClearDeviceList(); }

void CPKGLIFTDlg::UpdateStartButton() { GetButton(ui::IDOK)->EnableWindow(deviceList->GetCurSel() != ui::LB_ERR); }

void CPKGLIFTDlg::ClearDeviceList() {
  for (int i = 0; i < deviceList->GetCount(); ++i) delete RecordAt(i);
  deviceList->ResetContent();
}

void CPKGLIFTDlg::CloseSession() { CloseServer(); }
