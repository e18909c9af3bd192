// Discovery in the main dialog, on a simulated LAN of controllers: the dialog's timer is called
// here by hand, one second of the LAN at a time, so that each tick's effect can be looked at.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "discovery/device_record.h"
#include "discovery/device_types.h"
#include "app/main_dialog.h"
#include "app/main_dialog_template.h"
#include "platform/adapters.h"
#include "platform/sim/world.h"
#include "platform/socket.h"
#include "tests/support/fake_controllers.h"
#include "tests/support/test_world.h"

namespace {

using platform::MakeAddress;
using testing_support::AnswerBytes;
using testing_support::Controller;
using testing_support::DiscoveryAnswer;
using testing_support::FakeController;
using Lines = std::vector<std::string>;

constexpr uint32_t kPcAddress = MakeAddress(192, 168, 1, 10);


class Discovery : public ::testing::Test {
 protected:
  explicit Discovery(uint32_t startTick = 0) : world(startTick) { pc = world.AddHost("pc", kPcAddress); }

  // The dialog as it stands once its window is up.
  void Open() {
    dialog = std::make_unique<CPKGLIFTDlg>();
    dialog->OnInitDialog();
  }
  // One second of the LAN, then the dialog's timer.
  void Tick() {
    world.RunFor(1000);
    dialog->OnTimer(kDiscoveryTimerId);
  }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) Tick();
  }
  Lines Shown() {
    Lines lines;
    for (int i = 0; i < dialog->DeviceList().GetCount(); ++i) lines.push_back(dialog->DeviceList().GetText(i));
    return lines;
  }
  void SelectFilter(int index) {
    dialog->FilterList().SetCurSel(index);
    dialog->OnSelChange(kFilterListId);
  }
  const DeviceRecord* RecordAt(int index) {
    return static_cast<const DeviceRecord*>(dialog->DeviceList().GetItemData(index));
  }

  testing_support::TestWorld world;
  platform::sim::HostId pc = 0;
  testing_support::FakeControllers controllers{world};
  std::unique_ptr<CPKGLIFTDlg> dialog;
};

TEST_F(Discovery, ControllersAreListedOnTheTickAfterTheirFirstAnswerSortedIgnoringCase) {
  controllers.Add(Controller(22, 8, 10, "0050c2000b02"));
  controllers.Add(Controller(124, 8, 32, "0050C2000D04"));
  controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(23, 9, 16, "0050C2000C03"));
  Open();
  Tick();  // the first probe round; the answers come straight back
  EXPECT_EQ(Shown(), Lines{});
  Tick();
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2",
                            "00:50:c2:00:0b:02\t   192.168.1.22\tPD10",
                            "00:50:C2:00:0C:03\t   192.168.1.23\tR5 (Extender)",
                            "00:50:C2:00:0D:04\t  192.168.1.124\tVardo ZRT"}));
  const DeviceRecord* record = RecordAt(1);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->macText, "0050c2000b02");
  EXPECT_EQ(record->address, MakeAddress(192, 168, 1, 22));
  EXPECT_EQ(record->port, 5000);
  EXPECT_EQ(record->type, 8);
  EXPECT_EQ(record->subtype, 10);
  Ticks(5);
  EXPECT_EQ(Shown().size(), 4u) << "answering controllers stay, once each";
}

TEST_F(Discovery, OneProbeRoundGoesOutPerTick) {
  FakeController& c = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  Open();
  Ticks(3);
  world.RunFor(1);
  EXPECT_EQ(c.probesSeen, 3);
  dialog->OnTimer(kDiscoveryTimerId);  // 1 ms after the last round: none due
  world.RunFor(1);
  EXPECT_EQ(c.probesSeen, 3);
}

TEST_F(Discovery, HiddenSubtypesAreNeverListedInEitherView) {
  for (int subtype : {4, 6, 8, 12, 20, 22, 24, 28}) {
    controllers.Add(Controller(uint8_t(30 + subtype), 6, subtype, ("0050C20000" + std::to_string(subtype + 10)).c_str()));
  }
  controllers.Add(Controller(20, 6, 5, "0050C2000005"));
  Open();
  Ticks(2);
  EXPECT_EQ(Shown(), Lines{"00:50:C2:00:00:05\t   192.168.1.20\tUnknown"});
  dialog->PreTranslateMessage(ui::Message{ui::MessageKind::KeyDown, dialog.get(), 0, kDiagnosticOnKey});
  dialog->PreTranslateMessage(ui::Message{ui::MessageKind::KeyDown, dialog.get(), 0, kDiagnosticOnKey});
  ASSERT_EQ(dialog->IsDiagnosticView(), 1);
  Ticks(2);
  EXPECT_EQ(Shown(), Lines{"Type: 0x06 SubType: 0x05\t00:50:C2:00:00:05\t   192.168.1.20\tUnknown"});
}

TEST_F(Discovery, EachFilterEntryListsWhatItsRowSelectsAndAChangeEmptiesTheListUntilTheNextAnswers) {
  controllers.Add(Controller(21, 1, 2, "0050C2000A01"));    // PD2
  controllers.Add(Controller(22, 8, 18, "0050C2000B02"));   // PD2 (Extender)
  controllers.Add(Controller(23, 9, 2, "0050C2000C03"));    // R5 with a PD2 subtype
  controllers.Add(Controller(24, 9, 16, "0050C2000D04"));   // R5 (Extender)
  controllers.Add(Controller(25, 1, 10, "0050C2000E05"));   // PD10
  controllers.Add(Controller(26, 8, 26, "0050C2000F06"));   // PD10 (Extender)
  controllers.Add(Controller(27, 8, 32, "0050C2001007"));   // Vardo ZRT
  controllers.Add(Controller(28, 1, 48, "0050C2001108"));   // Vardo ZRT (Extender)
  controllers.Add(Controller(29, 8, 64, "0050C2001209"));   // Sonmark ZRT
  controllers.Add(Controller(30, 1, 80, "0050C200130A"));   // Sonmark ZRT (Extender)
  controllers.Add(Controller(31, 100, 1, "0050C200140B"));  // the local machine
  struct Row {
    int index;
    std::vector<int> listed;  // last octets, in list order
  };
  const std::vector<Row> rows = {
      {1, {23, 24}}, {2, {27, 28}}, {3, {25, 26}}, {4, {21, 22, 23}}, {5, {29, 30}},
      {0, {21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31}},
  };
  Open();
  Ticks(2);
  ASSERT_EQ(Shown().size(), 11u) << "nothing selected filters nothing";
  for (const Row& row : rows) {
    SCOPED_TRACE(kFilterEntries[row.index]);
    SelectFilter(row.index);
    EXPECT_EQ(Shown(), Lines{}) << "a filter change empties the list at once";
    Tick();
    std::vector<int> listed;
    for (int i = 0; i < dialog->DeviceList().GetCount(); ++i) listed.push_back(RecordAt(i)->address >> 24);
    EXPECT_EQ(listed, row.listed);
  }
}

TEST_F(Discovery, ASilentControllerGoesOnTheFirstTickMoreThan2000MsAfterItWasLastHeard) {
  FakeController& quiet = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(22, 1, 10, "0050C2000B02"));
  Open();
  Ticks(2);  // both heard at 2000
  quiet.silent = true;
  Ticks(2);
  EXPECT_EQ(Shown().size(), 2u) << "2000 ms is not more than 2000 ms";
  world.RunFor(1);
  dialog->OnTimer(kDiscoveryTimerId);
  EXPECT_EQ(Shown(), Lines{"00:50:C2:00:0B:02\t   192.168.1.22\tPD10"});
}

TEST_F(Discovery, SeveralSilentControllersGoOnePerTickInListOrder) {
  FakeController& a = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(22, 1, 10, "0050C2000B02"));
  FakeController& c = controllers.Add(Controller(23, 1, 2, "0050C2000C03"));
  FakeController& d = controllers.Add(Controller(24, 1, 2, "0050C2000D04"));
  Open();
  Ticks(2);
  a.silent = c.silent = d.silent = true;
  Ticks(2);
  EXPECT_EQ(Shown().size(), 4u);
  Tick();
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0B:02\t   192.168.1.22\tPD10", "00:50:C2:00:0C:03\t   192.168.1.23\tPD2",
                            "00:50:C2:00:0D:04\t   192.168.1.24\tPD2"}));
  Tick();
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0B:02\t   192.168.1.22\tPD10", "00:50:C2:00:0D:04\t   192.168.1.24\tPD2"}));
  Tick();
  EXPECT_EQ(Shown(), Lines{"00:50:C2:00:0B:02\t   192.168.1.22\tPD10"});
}

// The counter wraps between the last answer and the expiry.
class DiscoveryAcrossTheWrap : public Discovery {
 protected:
  DiscoveryAcrossTheWrap() : Discovery(0xFFFFFFFFu - 2500) {}
};

TEST_F(DiscoveryAcrossTheWrap, ASilentControllerStillExpiresWhenTheTickCountWraps) {
  FakeController& quiet = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(22, 1, 10, "0050C2000B02"));
  Open();
  Ticks(2);
  quiet.silent = true;
  Ticks(2);
  EXPECT_EQ(Shown().size(), 2u);
  Tick();
  EXPECT_EQ(Shown(), Lines{"00:50:C2:00:0B:02\t   192.168.1.22\tPD10"});
  Ticks(3);
  EXPECT_EQ(Shown().size(), 1u) << "the answering controller is refreshed across the wrap";
}

TEST_F(Discovery, AnotherSubtypeOrANewAddressUnderTheSameMacDoesNotRefreshTheLineWhichComesBackAsTheControllerNowIs) {
  FakeController& changesSubtype = controllers.Add(Controller(21, 1, 10, "0050C2000A01"));
  FakeController& moves = controllers.Add(Controller(22, 8, 2, "0050C2000B02"));
  Open();
  Ticks(2);  // heard at 2000
  changesSubtype.answer.subtype = 2;
  moves.answer.address = MakeAddress(192, 168, 1, 99);
  std::vector<Lines> seen;
  for (int i = 0; i < 4; ++i) {
    Tick();
    seen.push_back(Shown());
  }
  const Lines before = {"00:50:C2:00:0A:01\t   192.168.1.21\tPD10", "00:50:C2:00:0B:02\t   192.168.1.22\tPD2"};
  EXPECT_EQ(seen[0], before);
  EXPECT_EQ(seen[1], before);
  EXPECT_EQ(seen[2], Lines{"00:50:C2:00:0B:02\t   192.168.1.22\tPD2"});
  EXPECT_EQ(seen[3], Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2"})
      << "the first line came back as it now is; the second expired in turn";
  Tick();
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2", "00:50:C2:00:0B:02\t   192.168.1.99\tPD2"}));
}

TEST_F(Discovery, DatagramsOfTheWrongLengthAreConsumedAndIgnored) {
  FakeController& odd = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(22, 1, 10, "0050C2000B02"));
  std::vector<uint8_t> answer = AnswerBytes(odd.answer);
  std::vector<uint8_t> short179(answer.begin(), answer.end() - 1);
  std::vector<uint8_t> long181 = answer;
  long181.push_back(0);
  std::vector<uint8_t> long300 = answer;
  long300.resize(300, 0x5A);
  odd.replies = std::vector<std::vector<uint8_t>>{short179, long181, long300};
  Open();
  Ticks(3);
  EXPECT_EQ(Shown(), Lines{"00:50:C2:00:0B:02\t   192.168.1.22\tPD10"});
  // An empty datagram ahead of the answer holds nothing up.
  odd.replies = std::vector<std::vector<uint8_t>>{{}, answer};
  Ticks(2);
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2", "00:50:C2:00:0B:02\t   192.168.1.22\tPD10"}));
}

TEST_F(Discovery, AMacTextThatRunsOnIsTheIdentityInFullWhileTheLineShowsItsFirstTwelveCharacters) {
  DiscoveryAnswer b = Controller(22, 1, 2, "0050C2000A01");
  b.extra = "rev-b";
  DiscoveryAnswer c = Controller(23, 1, 2, "0050C2000A01");
  c.extra = "rev-c";
  controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(b);
  controllers.Add(c);
  Open();
  Ticks(2);
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2", "00:50:C2:00:0A:01\t   192.168.1.22\tPD2",
                            "00:50:C2:00:0A:01\t   192.168.1.23\tPD2"}));
  EXPECT_EQ(RecordAt(0)->macText, "0050C2000A01");
  EXPECT_EQ(RecordAt(1)->macText, "0050C2000A01rev-b");
  EXPECT_EQ(RecordAt(2)->macText, "0050C2000A01rev-c");
  Ticks(4);
  EXPECT_EQ(Shown().size(), 3u) << "each keeps its own line alive";
}

TEST_F(Discovery, TicksWhileAnUpgradeRunsReadNothingProbeNothingAndExpireNothing) {
  FakeController& a = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  controllers.Add(Controller(22, 1, 10, "0050C2000B02"));
  Open();
  Ticks(2);
  world.RunFor(1);
  int probes = a.probesSeen;
  dialog->SetUpgradeRunning(1);
  FakeController& late = controllers.Add(Controller(23, 9, 0, "0050C2000C03"));
  controllers.Send(late, AnswerBytes(late.answer), platform::Endpoint{kPcAddress, 444});
  Ticks(5);
  world.RunFor(1);
  EXPECT_EQ(a.probesSeen, probes);
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2", "00:50:C2:00:0B:02\t   192.168.1.22\tPD10"}));
  dialog->SetUpgradeRunning(0);
  Tick();
  world.RunFor(1);
  EXPECT_EQ(a.probesSeen, probes + 1);
  EXPECT_EQ(Shown(), (Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2", "00:50:C2:00:0B:02\t   192.168.1.22\tPD10",
                            "00:50:C2:00:0C:03\t   192.168.1.23\tR5"}))
      << "the answers that waited meanwhile are read on the next tick";
}

struct AdapterCase {
  const char* name;
  std::vector<platform::Adapter> adapters;
  std::vector<uint32_t> socketAddresses;
};

platform::Adapter Adapter(const char* description, const char* address) {
  return platform::Adapter{description, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}, {{address, "255.255.255.0"}}};
}

TEST_F(Discovery, OpensOneSocketOnTheFirstAdapterOfEachKind) {
  const std::vector<AdapterCase> cases = {
      {"an ASIX adapter and another",
       {Adapter("Intel(R) Ethernet Connection", "192.168.1.10"), Adapter("ASIX AX88772 USB2.0", "10.1.2.3")},
       {MakeAddress(192, 168, 1, 10), MakeAddress(10, 1, 2, 3)}},
      {"three of the other kind",
       {Adapter("Intel(R) Ethernet Connection", "192.168.1.10"), Adapter("Realtek PCIe GbE", "192.168.2.10"),
        Adapter("Asix in other case", "192.168.3.10")},
       {MakeAddress(192, 168, 1, 10)}},
      {"an only address of 0.0.0.0", {Adapter("Intel(R) Ethernet Connection", "0.0.0.0")}, {0}},
  };
  for (const AdapterCase& c : cases) {
    SCOPED_TRACE(c.name);
    world.SetAdapters(pc, c.adapters);
    Open();
    std::vector<uint32_t> addresses;
    for (const auto& socket : dialog->DiscoverySockets()) {
      EXPECT_TRUE(socket->IsValid());
      addresses.push_back(socket->GetLocalAddress());
    }
    EXPECT_EQ(addresses, c.socketAddresses);
    dialog.reset();
  }
}

TEST_F(Discovery, TwoSocketsProbeTwiceButListEachControllerOnce) {
  world.SetAdapters(pc, {Adapter("Intel(R) Ethernet Connection", "192.168.1.10"),
                         Adapter("ASIX AX88772 USB2.0", "192.168.1.11")});
  FakeController& a = controllers.Add(Controller(21, 1, 2, "0050C2000A01"));
  Open();
  Ticks(2);
  world.RunFor(1);
  EXPECT_EQ(a.probesSeen, 4);
  EXPECT_EQ(Shown(), Lines{"00:50:C2:00:0A:01\t   192.168.1.21\tPD2"});
}

}  // namespace
