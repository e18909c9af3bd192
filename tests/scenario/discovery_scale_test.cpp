// The main dialog on a site of a thousand controllers, every one answering every probe: the list
// must still hold exactly what a handful of controllers would give, only more of it. The dialog's
// timer is called by hand, one second of the LAN at a time, as in the discovery scenarios.
//
// The lines expected here are written by this file from the controllers' fields (the MAC split in
// pairs, the address right-aligned in 15 columns, the model's name from the table below) and
// sorted by this file, so that neither the list's formatting nor its ordering checks itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "app/main_dialog_template.h"
#include "discovery/device_record.h"
#include "platform/socket.h"
#include "tests/support/fake_controllers.h"
#include "tests/support/test_world.h"
#include "ui/constants.h"

namespace {

using platform::MakeAddress;
using testing_support::DiscoveryAnswer;
using testing_support::FakeController;
using Lines = std::vector<std::string>;

constexpr int kSiteControllers = 1000;
constexpr uint32_t kPcAddress = MakeAddress(10, 20, 0, 1);

// One kind of controller as the list shows it: its codes, the model it is listed as, and the
// "Show Only:" entries under which it is listed ("ALL" lists everything that is listed at all).
struct Kind {
  uint8_t type;
  uint8_t subtype;
  const char* model;  // nullptr: never listed
  std::set<std::string> entries;
};

const std::vector<Kind> kKinds = {
    {1, 2, "PD2", {"ALL", "PD2"}},
    {8, 18, "PD2 (Extender)", {"ALL", "PD2"}},
    {1, 10, "PD10", {"ALL", "PD10"}},
    {8, 26, "PD10 (Extender)", {"ALL", "PD10"}},
    {8, 32, "Vardo ZRT", {"ALL", "VARDO ZRT"}},
    {1, 48, "Vardo ZRT (Extender)", {"ALL", "VARDO ZRT"}},
    {8, 64, "Sonmark ZRT", {"ALL", "SONMARK ZRT"}},
    {1, 80, "Sonmark ZRT (Extender)", {"ALL", "SONMARK ZRT"}},
    {9, 0, "R5", {"ALL", "R5"}},
    {9, 16, "R5 (Extender)", {"ALL", "R5"}},
    {9, 2, "R5", {"ALL", "R5", "PD2"}},  // an R5 with a PD2's subtype passes both
    {7, 0, "Unknown", {"ALL"}},
    {100, 1, "Unknown", {"ALL"}},
    {6, 4, nullptr, {}},   // KX4
    {8, 20, nullptr, {}},  // a hidden extender subtype
};

std::string Hex2(int value) {
  const char* digits = "0123456789ABCDEF";
  return {digits[(value >> 4) & 15], digits[value & 15]};
}

std::string Dotted(uint32_t networkOrder) {
  std::string text;
  for (int i = 0; i < 4; ++i) text += (i ? "." : "") + std::to_string((networkOrder >> (8 * i)) & 0xFF);
  return text;
}

// A case-blind order for ASCII text, as a person sorting the lines by hand would see it.
bool BeforeIgnoringCase(const std::string& a, const std::string& b) {
  auto fold = [](const std::string& s) {
    std::string folded = s;
    for (char& c : folded) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return folded;
  };
  return fold(a) < fold(b);
}

// The shown lines against the expected ones. A thousand lines do not read well side by side, so a
// difference is told as what is missing, what should not be there, or the first line out of place.
::testing::AssertionResult SameLines(const Lines& shown, const Lines& expected) {
  if (shown == expected) return ::testing::AssertionSuccess();
  auto out = ::testing::AssertionFailure();
  out << shown.size() << " lines shown, " << expected.size() << " expected";
  std::multiset<std::string> have(shown.begin(), shown.end());
  std::multiset<std::string> want(expected.begin(), expected.end());
  Lines missing;
  Lines extra;
  std::set_difference(want.begin(), want.end(), have.begin(), have.end(), std::back_inserter(missing));
  std::set_difference(have.begin(), have.end(), want.begin(), want.end(), std::back_inserter(extra));
  auto some = [&](const char* what, const Lines& lines) {
    if (lines.empty()) return;
    out << "\n" << lines.size() << " " << what << ", for example:";
    for (size_t i = 0; i < lines.size() && i < 3; ++i) out << "\n  \"" << lines[i] << "\"";
  };
  some("missing", missing);
  some("not expected", extra);
  if (missing.empty() && extra.empty()) {
    size_t i = 0;
    while (shown[i] == expected[i]) ++i;
    out << "\nthe same lines in another order; first difference at line " << i << ": \"" << shown[i]
        << "\" where \"" << expected[i] << "\" belongs";
  }
  return out;
}

struct SiteController {
  FakeController* fake;
  const Kind* kind;
  std::string mac;  // 12 hex digits, as it answers

  bool Listed() const { return kind->model != nullptr; }
  bool ListedUnder(const std::string& entry) const { return kind->entries.count(entry) > 0; }

  std::string Line(bool diagnostic) const {
    std::string pairs;
    for (size_t i = 0; i < mac.size(); i += 2) pairs += (i ? ":" : "") + mac.substr(i, 2);
    std::string address = Dotted(fake->answer.address);
    std::string line = pairs + "\t" + std::string(15 - address.size(), ' ') + address + "\t" + kind->model;
    if (!diagnostic) return line;
    return "Type: 0x" + Hex2(kind->type) + " SubType: 0x" + Hex2(kind->subtype) + "\t" + line;
  }
};

class DiscoveryAtScale : public ::testing::Test {
 protected:
  DiscoveryAtScale() {
    world.AddHost("pc", kPcAddress);
    std::mt19937_64 random(world.Seed());
    std::set<std::string> macs;
    for (int i = 0; i < kSiteControllers; ++i) {
      // Random MACs, a quarter of them written in lower case, so that the list's order is neither
      // the order of the answers nor a case-sensitive one.
      std::string mac;
      do {
        mac.clear();
        uint64_t bits = random();
        for (int digit = 0; digit < 12; ++digit) mac += "0123456789ABCDEF"[(bits >> (4 * digit)) & 15];
        if (random() % 4 == 0) {
          for (char& c : mac) c = (c >= 'A' && c <= 'F') ? char(c - 'A' + 'a') : c;
        }
      } while (!macs.insert(mac).second);
      DiscoveryAnswer answer;
      answer.address = MakeAddress(10, 20, uint8_t(1 + i / 250), uint8_t(1 + i % 250));
      answer.mac = mac;
      const Kind& kind = kKinds[random() % kKinds.size()];
      answer.type = kind.type;
      answer.subtype = kind.subtype;
      answer.name = "C" + std::to_string(i);
      site.push_back(SiteController{&fakes.Add(answer), &kind, mac});
    }
  }

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

  Lines Shown() const {
    Lines lines;
    for (int i = 0; i < dialog->DeviceList().GetCount(); ++i) lines.push_back(dialog->DeviceList().GetText(i));
    return lines;
  }
  const DeviceRecord* RecordAt(int index) const {
    return static_cast<const DeviceRecord*>(dialog->DeviceList().GetItemData(index));
  }

  // The lines of the site's controllers that the entry (or, with "", no entry) lets through,
  // sorted by this file's own rule.
  Lines ExpectedAll(const std::string& entry = "", bool diagnostic = false) const {
    Lines lines;
    for (const SiteController& c : site) {
      if (!c.Listed() || (!diagnostic && !entry.empty() && !c.ListedUnder(entry))) continue;
      lines.push_back(c.Line(diagnostic));
    }
    std::sort(lines.begin(), lines.end(), BeforeIgnoringCase);
    return lines;
  }

  // Every line carries the record of the controller it shows: a line whose item data belongs to
  // another controller would upgrade the wrong one.
  ::testing::AssertionResult RecordsMatchLines() const {
    std::map<std::string, const SiteController*> byMac;
    for (const SiteController& c : site) byMac[c.mac] = &c;
    for (int i = 0; i < dialog->DeviceList().GetCount(); ++i) {
      const DeviceRecord* record = RecordAt(i);
      if (!record) return ::testing::AssertionFailure() << "line " << i << " has no record";
      auto found = byMac.find(record->macText);
      if (found == byMac.end()) {
        return ::testing::AssertionFailure() << "line " << i << ": unknown MAC " << record->macText;
      }
      const SiteController& c = *found->second;
      if (record->address != c.fake->answer.address || record->port != c.fake->answer.port ||
          record->type != c.kind->type || record->subtype != c.kind->subtype ||
          dialog->DeviceList().GetText(i) != c.Line(dialog->IsDiagnosticView())) {
        return ::testing::AssertionFailure() << "line " << i << " \"" << dialog->DeviceList().GetText(i)
                                             << "\" holds the record of " << c.Line(false);
      }
    }
    return ::testing::AssertionSuccess();
  }

  int EntryIndex(const std::string& text) const {
    for (int i = 0; i < dialog->FilterList().GetCount(); ++i) {
      if (dialog->FilterList().GetText(i) == text) return i;
    }
    ADD_FAILURE() << "no entry " << text;
    return -1;
  }
  void ChooseEntry(const std::string& text) {
    dialog->FilterList().SetCurSel(EntryIndex(text));
    dialog->OnSelChange(kFilterListId);
  }
  void PressTwice(uint32_t key) {
    const ui::Message keyDown{ui::MessageKind::KeyDown, dialog.get(), 0, key};
    for (int i = 0; i < 2; ++i) dialog->PreTranslateMessage(keyDown);
  }
  // The person clicks the line with this text.
  void SelectLine(const std::string& text) {
    Lines shown = Shown();
    auto at = std::find(shown.begin(), shown.end(), text);
    ASSERT_NE(at, shown.end()) << text;
    dialog->DeviceList().SetCurSel(int(at - shown.begin()));
    dialog->OnSelChange(kDeviceListId);
  }
  std::string SelectedText() const {
    int selected = dialog->DeviceList().GetCurSel();
    return selected == ui::LB_ERR ? "<nothing selected>" : dialog->DeviceList().GetText(selected);
  }

  testing_support::TestWorld world{0, 7};
  testing_support::FakeControllers fakes{world};
  std::vector<SiteController> site;
  std::unique_ptr<CPKGLIFTDlg> dialog;
};

TEST_F(DiscoveryAtScale, EveryListedControllerHasOneLineWithItsOwnTextAndRecordSortedIgnoringCase) {
  const Lines all = ExpectedAll();
  ASSERT_GT(all.size(), 800u) << "the site lists most of its controllers";
  Open();
  Tick();  // the first probe round
  EXPECT_TRUE(SameLines(Shown(), Lines{}));
  Tick();
  // Every answer of a round waits in the discovery socket until this tick reads it.
  EXPECT_TRUE(SameLines(Shown(), all));
  EXPECT_TRUE(RecordsMatchLines());
  // Steady answers keep every line, once; nothing expires while all answer.
  for (int i = 0; i < 4; ++i) {
    Tick();
    ASSERT_TRUE(SameLines(Shown(), all)) << "after " << i + 3 << " ticks";
  }
  EXPECT_TRUE(RecordsMatchLines());
}

TEST_F(DiscoveryAtScale, EachShowOnlyEntryAndTheDiagnosticViewListExactlyTheirControllers) {
  Open();
  Ticks(2);
  ASSERT_TRUE(SameLines(Shown(), ExpectedAll()));
  for (const char* entry : {"R5", "VARDO ZRT", "PD10", "PD2", "SONMARK ZRT", "ALL"}) {
    SCOPED_TRACE(entry);
    ChooseEntry(entry);
    EXPECT_TRUE(SameLines(Shown(), Lines{})) << "a change empties the list at once";
    Tick();
    EXPECT_TRUE(SameLines(Shown(), ExpectedAll(entry)));
    EXPECT_TRUE(RecordsMatchLines());
  }
  // The diagnostic view ignores the entry and sorts by the codes in front.
  ChooseEntry("PD10");
  Tick();
  PressTwice(kDiagnosticOnKey);
  EXPECT_TRUE(SameLines(Shown(), Lines{}));
  Tick();
  EXPECT_TRUE(SameLines(Shown(), ExpectedAll("PD10", true)));
  EXPECT_TRUE(RecordsMatchLines());
  PressTwice(kDiagnosticOffKey);
  Tick();
  EXPECT_TRUE(SameLines(Shown(), ExpectedAll("PD10")));
}

// Thirty controllers drop off the LAN at once: their lines go one a tick, in list order, from the
// first tick more than 2000 ms after they were last heard, while the others' lines stay; when they
// answer again, those still listed keep their lines and those that went come back on the next
// tick.
TEST_F(DiscoveryAtScale, SilentControllersExpireOneATickInListOrderAndComeBackWhenTheyAnswerAgain) {
  std::mt19937_64 random(world.Seed() + 1);
  std::vector<const SiteController*> listed;
  for (const SiteController& c : site) {
    if (c.Listed()) listed.push_back(&c);
  }
  std::shuffle(listed.begin(), listed.end(), random);
  const std::vector<const SiteController*> silent(listed.begin(), listed.begin() + 30);
  std::set<std::string> silentLines;
  for (const SiteController* c : silent) silentLines.insert(c->Line(false));

  Open();
  Ticks(2);  // every line heard at 2000
  ASSERT_TRUE(SameLines(Shown(), ExpectedAll()));
  for (const SiteController* c : silent) c->fake->silent = true;
  Ticks(2);  // 4000: 2000 ms since they were heard is not more than 2000 ms
  ASSERT_TRUE(SameLines(Shown(), ExpectedAll()));

  // What should go, in order: the silent lines as the list orders them.
  Lines goingOrder;
  for (const std::string& line : ExpectedAll()) {
    if (silentLines.count(line)) goingOrder.push_back(line);
  }
  std::set<std::string> gone;
  const int expiringTicks = 12;
  for (int i = 0; i < expiringTicks; ++i) {
    Tick();
    gone.insert(goingOrder[size_t(i)]);
    Lines expected;
    for (const std::string& line : ExpectedAll()) {
      if (!gone.count(line)) expected.push_back(line);
    }
    ASSERT_TRUE(SameLines(Shown(), expected)) << "tick " << i + 1 << " of the expiry";
  }

  // The last tick's probe is answered by all again, and the answers are read on the next tick
  // before anything expires.
  for (const SiteController* c : silent) c->fake->silent = false;
  Tick();
  EXPECT_TRUE(SameLines(Shown(), ExpectedAll()));
  EXPECT_TRUE(RecordsMatchLines());
  Ticks(4);
  EXPECT_TRUE(SameLines(Shown(), ExpectedAll())) << "the ones that stayed were refreshed, not left to expire";
}

// The person's selection follows its line while lines come and go around it, and goes when its
// line goes; a filter change takes it away with the list.
TEST_F(DiscoveryAtScale, TheSelectionStaysOnItsLineWhileLinesComeAndGoAroundIt) {
  Open();
  Ticks(2);
  const Lines all = ExpectedAll();
  ASSERT_TRUE(SameLines(Shown(), all));
  const std::string chosen = all[all.size() / 2];
  SelectLine(chosen);
  ASSERT_TRUE(dialog->GetButton(ui::IDOK)->IsWindowEnabled());

  // Ten lines before the chosen one and ten after it go silent, and later come back.
  std::map<std::string, const SiteController*> byLine;
  for (const SiteController& c : site) {
    if (c.Listed()) byLine[c.Line(false)] = &c;
  }
  std::vector<const SiteController*> around;
  for (size_t i = 0; i < 10; ++i) {
    around.push_back(byLine.at(all[i * 7]));
    around.push_back(byLine.at(all[all.size() - 1 - i * 7]));
  }
  for (const SiteController* c : around) c->fake->silent = true;
  for (int i = 0; i < 24; ++i) {
    Tick();
    ASSERT_EQ(SelectedText(), chosen) << "tick " << i + 1;
  }
  ASSERT_EQ(Shown().size(), all.size() - around.size()) << "every silent line has gone";
  for (const SiteController* c : around) c->fake->silent = false;
  Tick();
  ASSERT_TRUE(SameLines(Shown(), all));
  EXPECT_EQ(SelectedText(), chosen);
  const DeviceRecord* record = RecordAt(dialog->DeviceList().GetCurSel());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->macText, byLine.at(chosen)->mac) << "Start would reach the chosen controller";

  // The chosen controller itself goes silent: its line goes, and the selection with it.
  byLine.at(chosen)->fake->silent = true;
  for (int i = 0; i < 2; ++i) {
    Tick();
    ASSERT_EQ(SelectedText(), chosen);
  }
  Tick();
  EXPECT_EQ(SelectedText(), "<nothing selected>");
  EXPECT_EQ(Shown().size(), all.size() - 1);

  byLine.at(chosen)->fake->silent = false;
  Tick();
  SelectLine(chosen);
  ChooseEntry("R5");
  EXPECT_EQ(SelectedText(), "<nothing selected>");
  Tick();
  EXPECT_EQ(SelectedText(), "<nothing selected>") << "refilling selects nothing";
}

}  // namespace
