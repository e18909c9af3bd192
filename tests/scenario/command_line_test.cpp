// The commands `list` and `upgrade` inside the simulated LAN: what they print, what they answer, and
// the exit code a script gets, for each way an upgrade can end.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_dialog.h"
#include "cli/commands.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "tests/scenario/upgrade_lines.h"
#include "tests/support/controller_site.h"
#include "tests/support/test_world.h"

namespace {

using namespace testing_support;

constexpr char kMac[] = "0050C2000001";
constexpr char kMacTyped[] = "00-50-c2-00-00-01";
constexpr char kListed[] = "00:50:C2:00:00:01\t   192.168.1.20\tPD10";

Lines SplitLines(const std::string& text) {
  Lines lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// One site with a PD10 (type 8, subtype 10) controller and a payload of two files, and a console
// whose streams the test reads.
class CommandSite {
 public:
  CommandSite() : site(world) {
    site.Config().mac = kMac;
    site.Config().type = 8;
    site.Config().subtype = 10;
    site.Config().rebootSeconds = 1;
    site.WritePayload("a.bin", PatternBytes(150000, 1));
    site.WritePayload("b.bin", PatternBytes(10, 2));
    console.out = &out;
    console.err = &err;
    console.interrupted = [this] { return interruptAt.empty() ? false : Printed(interruptAt); };
    console.upgradeShown = [this](bool shown) { upgradeShown.push_back(shown); };
  }

  int Upgrade(std::vector<std::string> macs, bool yes = true) {
    StartOnce();
    UpgradeOptions options;
    options.macs = std::move(macs);
    options.yes = yes;
    options.waitSeconds = 5;
    return RunUpgrade(options, console);
  }

  void StartOnce() {
    if (started) return;
    started = true;
    EXPECT_EQ(site.Start(), 1);
  }

  void TypeAtTerminal(const std::string& answer) {
    console.inputIsTerminal = true;
    console.readLine = [answer](std::string* line) {
      *line = answer;
      return true;
    };
  }

  bool Printed(const std::string& text) const { return out.str().find(text) != std::string::npos; }

  int Check(std::vector<std::string> macs, bool json = false) {
    StartOnce();
    CheckOptions options;
    options.macs = std::move(macs);
    options.waitSeconds = 5;
    options.json = json;
    return RunCheck(options, console);
  }

  // Fails the test when the controller was asked anything but what a check may ask: the login
  // (14, 27), the system information (8120) and file comparisons (14030), of which it counts.
  int ComparisonsAsked() const {
    int comparisons = 0;
    for (int code : site.RequestCodes()) {
      EXPECT_TRUE(code == 14 || code == 27 || code == 8120 || code == 14030) << "request " << code;
      comparisons += code == 14030;
    }
    EXPECT_TRUE(site.CommandsReceived().empty()) << "a check runs no shell line";
    return comparisons;
  }

  int List(ListOptions options) {
    StartOnce();
    return RunList(options, console);
  }

  TestWorld world;
  ControllerSite site;
  bool started = false;
  std::ostringstream out;
  std::ostringstream err;
  Console console;
  std::string interruptAt;  // stdout text after which a Ctrl-C is seen
  bool dropped = false;
  std::vector<bool> upgradeShown;
};

TEST(CommandLine, AnUpgradePrintsEachLogLineOnceInItsFinalFormAndExitsZero) {
  CommandSite t;
  auto& site = t.site;
  site.OnLog([&](const std::string& line) {
    // An earlier run left b.bin on the controller: it is skipped, and said so once.
    if (line.find("[mkdir /MIRU/BSP/UPGRADE] created") != std::string::npos) site.WriteOnController("b.bin", PatternBytes(10, 2));
  });
  EXPECT_EQ(t.Upgrade({kMacTyped}), kExitCompleted);

  Lines expected = Opening("PD10 (Linux i.MX53)");
  Append(expected, ShellsAnswered(1, 5));
  Append(expected, FilesInOrder(site.PayloadOrder(), "b.bin"));
  Append(expected, ShellsAnswered(6, 7));
  Append(expected, ReturnSeenAndCompleted());
  EXPECT_EQ(SplitLines(t.out.str()), expected);
  EXPECT_EQ(t.err.str(), std::string(kUpgradeWarning) + "\n") << "the warning goes to stderr even when --yes answers it";
  EXPECT_EQ(site.StoredOnController("a.bin"), PatternBytes(150000, 1));
  EXPECT_EQ(t.upgradeShown, (std::vector<bool>{true, false})) << "Ctrl-C is soft exactly while the dialog is open";
}

TEST(CommandLine, EachWayAnUpgradeEndsHasItsOwnExitCodeAndSaysWhy) {
  struct Case {
    const char* name;
    std::function<void(CommandSite&)> arrange;
    std::vector<std::string> macs;
    bool yes;
    int code;
    const char* lastLine;      // of stdout; "" when nothing was printed
    const char* stderrSays;    // a part of stderr
  };
  const Case cases[] = {
      {"not listed", [](CommandSite&) {}, {"0050C2000009"}, true, kExitNotListed, "",
       "bsplift: 0050C2000009 was not listed within 5 s\n"},
      {"no terminal, no --yes", [](CommandSite&) {}, {kMac}, false, kExitDeclined, "",
       "No terminal to answer on: taken as No (--yes answers Yes).\nbsplift: 0050C2000001: the warning was answered No\n"},
      {"typed no", [](CommandSite& t) { t.TypeAtTerminal("n"); }, {kMac}, false, kExitDeclined, "", "? [y/N] "},
      {"login refused", [](CommandSite& t) { t.site.Config().acceptedKinds = {42}; }, {kMac}, true, kExitNoUpgrade, "",
       "bsplift: 0050C2000001: no upgrade began: the login to 192.168.1.20:7000 failed (as type 1 and as type 9)\n"},
      {"no system information", [](CommandSite& t) { t.site.Config().faults.ignoredCodes = {8120}; }, {kMac}, true,
       kExitNoUpgrade, "",
       "bsplift: 0050C2000001: no upgrade began: 192.168.1.20:7000 did not answer the system information request\n"},
      {"a file refused", [](CommandSite& t) { t.site.Config().faults.refusedFiles = {"BSP/UPGRADE\\a.bin"}; }, {kMac},
       true, kExitFailed, kRunFailed, ""},
      {"Ctrl-C mid-run", [](CommandSite& t) { t.interruptAt = "Checking File"; }, {kMac}, true, kExitNotSuccessful,
       nullptr, kUpgradeNotSuccessful},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandSite t;  // a fresh site per case
    c.arrange(t);
    EXPECT_EQ(t.Upgrade(c.macs, c.yes), c.code);
    Lines printed = SplitLines(t.out.str());
    if (c.lastLine) {
      EXPECT_EQ(printed.empty() ? "" : printed.back(), c.lastLine);
    }
    EXPECT_NE(t.err.str().find(c.stderrSays), std::string::npos) << t.err.str();
    EXPECT_EQ(t.Printed(kRunCompleted), c.code == kExitCompleted);
  }
}

TEST(CommandLine, SeveralMacsAreTakenInTurnAndSummedUpWithTheFirstCodeThatDidNotComplete) {
  CommandSite t;
  EXPECT_EQ(t.Upgrade({"0050C2000009", kMac}), kExitNotListed);
  Lines printed = SplitLines(t.out.str());
  ASSERT_GE(printed.size(), 3u);
  EXPECT_EQ(printed[printed.size() - 3], kRunCompleted) << "the second MAC was upgraded after the first timed out";
  EXPECT_EQ(printed[printed.size() - 2], "0050C2000009\t3\tnot listed within 5 s");
  EXPECT_EQ(printed.back(), std::string(kMac) + "\t0\tcompleted");
}

TEST(CommandLine, ACtrlCAfterARunCompletedStillSkipsTheControllersAfterIt) {
  CommandSite t;
  t.interruptAt = kRunCompleted;  // printed as the dialog closes: a Ctrl-C just as the run was over
  EXPECT_EQ(t.Upgrade({kMac, "0050C2000009"}), kExitInterrupted);
  Lines printed = SplitLines(t.out.str());
  ASSERT_GE(printed.size(), 3u);
  EXPECT_EQ(printed[printed.size() - 3], kRunCompleted);
  EXPECT_EQ(printed[printed.size() - 2], std::string(kMac) + "\t0\tcompleted");
  EXPECT_EQ(printed.back(), "0050C2000009\t130\tskipped after Ctrl-C");
}

TEST(CommandLine, TheCommandEndsAsSoonAsTheLastControllerHasItsOutcome) {
  CommandSite t;
  uint32_t answeredAt = 0;
  t.console.inputIsTerminal = true;
  t.console.readLine = [&](std::string* line) {
    answeredAt = platform::GetTickCount();
    *line = "n";
    return true;
  };
  EXPECT_EQ(t.Upgrade({kMac}, false), kExitDeclined);
  EXPECT_GT(answeredAt, 0u);
  EXPECT_EQ(platform::GetTickCount(), answeredAt) << "not at the main dialog's next discovery tick";
}

TEST(CommandLine, UpgradeRefusesAPayloadRootWithoutTheUpgradeFolderBeforeConnecting) {
  CommandSite t;
  std::filesystem::remove_all(t.site.PayloadFolder());
  EXPECT_EQ(t.Upgrade({kMac}), kExitUsage);
  EXPECT_EQ(t.out.str(), "");
  EXPECT_NE(t.err.str().find("there is no BSP/UPGRADE folder in "), std::string::npos) << t.err.str();
  EXPECT_TRUE(t.site.LogLinesWith("request").empty()) << "nothing was asked of the controller";
}

TEST(CommandLine, TheBarsAreDrawnOnStderrOnlyWhenItIsATerminal) {
  for (bool terminal : {false, true}) {
    SCOPED_TRACE(terminal ? "terminal" : "pipe");
    CommandSite t;
    t.console.errorIsTerminal = terminal;
    EXPECT_EQ(t.Upgrade({kMac}), kExitCompleted);
    EXPECT_EQ(t.err.str().find("total [") != std::string::npos, terminal);
    if (terminal) {
      EXPECT_NE(t.err.str().find("total [##############################] 100%"), std::string::npos);
      EXPECT_EQ(t.err.str().substr(t.err.str().size() - 4), "\r\033[K") << "the bars are wiped when the dialog ends";
    }
    EXPECT_EQ(t.out.str().find('\r'), std::string::npos) << "stdout holds the log lines only";
  }
}

TEST(CommandLine, ListPrintsTheDeviceLinesOrJsonUnderTheFilterAndViewAskedFor) {
  struct Case {
    const char* name;
    ListOptions options;
    std::string expected;
  };
  ListOptions plain;
  ListOptions pd2;
  pd2.filter = "PD2";
  ListOptions diagnostic;
  diagnostic.diagnostic = true;
  const Case cases[] = {
      {"plain", plain, std::string(kListed) + "\n"},
      {"another product line", pd2, ""},
      {"diagnostic", diagnostic, "Type: 0x08 SubType: 0x0A\t00:50:C2:00:00:01\t   192.168.1.20\tPD10\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandSite t;
    EXPECT_EQ(t.List(c.options), kExitCompleted);
    EXPECT_EQ(t.out.str(), c.expected);
    EXPECT_EQ(t.err.str(), "");
  }

  CommandSite t;
  ListOptions json;
  json.json = true;
  EXPECT_EQ(t.List(json), kExitCompleted);
  nlohmann::ordered_json expected = nlohmann::ordered_json::array();
  expected.push_back({{"mac", "00:50:C2:00:00:01"}, {"address", "192.168.1.20"}, {"port", 7000}, {"type", 8},
                      {"subtype", 10}, {"model", "PD10"}, {"name", "CONTROLLER"}, {"line", kListed}});
  EXPECT_EQ(nlohmann::ordered_json::parse(t.out.str()), expected);
  EXPECT_EQ(t.out.str().find("\"mac\""), t.out.str().find('"')) << "keys in the documented order";
}

TEST(CommandLine, APort444HeldByAnotherProgramIsSaidOnceAndControllersAreStillListed) {
  CommandSite t;
  platform::Socket holder = platform::OpenUdp();
  ASSERT_EQ(platform::Bind(holder, platform::Endpoint{ControllerSite::kPcAddress, 444}), 0);
  ListOptions options;
  options.seconds = 4;
  EXPECT_EQ(t.List(options), kExitCompleted);
  EXPECT_EQ(t.out.str(), std::string(kListed) + "\n") << "the answer comes back to the probe's own port";
  EXPECT_EQ(t.err.str(),
            "bsplift: port 444 on 192.168.1.10 is in use by another program (ss -ulpn 'sport = :444' names it); "
            "discovery goes on from a port the system picks, where only controllers that answer to the probe's own "
            "port are heard\n");
  platform::Close(holder);
}

// ---------------------------------------------------------------------------------------------
// check

constexpr char kCheckHeader[] =
    "00:50:C2:00:00:01  192.168.1.20:7000  PD10\n"
    "System Type: PD10 (Linux i.MX53) (type 8, subtype 10)\n"
    "System Information: CONTROLLER\n";

// One line per planned file, in the order the upgrade would take them.
std::string CheckLines(const std::vector<std::string>& order, const std::map<std::string, std::string>& lines) {
  std::string text;
  for (const std::string& name : order) text += lines.at(name) + "\n";
  return text;
}

TEST(CheckCommand, TellsEachFileUnchangedDiffersOrMissingAndChangesNothingOnTheController) {
  CommandSite t;
  auto& site = t.site;
  site.WritePayload("c.bin", PatternBytes(300, 3));
  site.WritePayload("d.bin", PatternBytes(20, 4));
  site.WriteOnController("a.bin", PatternBytes(150000, 1));  // the same
  site.WriteOnController("b.bin", PatternBytes(10, 7));      // the same size, other bytes
  site.WriteOnController("d.bin", PatternBytes(25, 4));      // another size; c.bin is not there

  EXPECT_EQ(t.Check({kMacTyped}), kExitFailed);

  const std::string expected =
      std::string(kCheckHeader) +
      CheckLines(site.PayloadOrder(),
                 {{"a.bin", "unchanged  BSP/UPGRADE\\a.bin  150000 bytes here"},
                  {"b.bin", "differs    BSP/UPGRADE\\b.bin  10 bytes here, 10 on the controller"},
                  {"c.bin", "missing    BSP/UPGRADE\\c.bin  300 bytes here"},
                  {"d.bin", "differs    BSP/UPGRADE\\d.bin  20 bytes here, 25 on the controller"}}) +
      "4 files: 1 unchanged, 2 differ, 1 missing\n";
  EXPECT_EQ(t.out.str(), expected);
  EXPECT_EQ(t.err.str(), "") << "no warning: nothing is upgraded";
  EXPECT_EQ(t.ComparisonsAsked(), 4);
  EXPECT_EQ(site.StoredOnController("b.bin"), PatternBytes(10, 7));
  EXPECT_EQ(site.StoredOnController("d.bin"), PatternBytes(25, 4));
  EXPECT_FALSE(site.OnController("c.bin"));
}

TEST(CheckCommand, AfterAnUpgradeEveryFileIsUnchangedAndTheCheckExitsZero) {
  CommandSite t;
  EXPECT_EQ(t.Check({kMac}), kExitFailed) << "before: nothing is on the controller yet";
  EXPECT_EQ(t.Upgrade({kMac}), kExitCompleted);
  t.out.str("");
  t.err.str("");
  EXPECT_EQ(t.Check({kMac}), kExitCompleted);
  const std::string lines = CheckLines(t.site.PayloadOrder(),
                                       {{"a.bin", "unchanged  BSP/UPGRADE\\a.bin  150000 bytes here"},
                                        {"b.bin", "unchanged  BSP/UPGRADE\\b.bin  10 bytes here"}});
  EXPECT_EQ(t.out.str(), kCheckHeader + lines + "2 files: 2 unchanged, 0 differ, 0 missing\n");
  EXPECT_EQ(t.err.str(), "");
}

TEST(CheckCommand, ComparesExactlyTheFilesTheUpgradesPlanWouldSend) {
  struct Case {
    const char* name;
    int type;
    int subtype;
    std::vector<std::string> planned;  // in payload order; empty: none
    const char* state;                 // of each planned file
    int comparisons;                   // asked of the controller
    const char* lastLine;
  };
  const Case cases[] = {
      // A WinCE controller takes of the DLLs only its TLS libraries.
      {"WinCE", 6, 0, {"a.bin", "b.bin", "vr_ssl.dll"}, "missing", 3, "3 files: 0 unchanged, 0 differ, 3 missing"},
      {"Linux", 8, 10, {"a.bin", "b.bin", "other.dll", "vr_ssl.dll"}, "missing", 4,
       "4 files: 0 unchanged, 0 differ, 4 missing"},
      // An edge controller takes no board support package: nothing to compare, nothing to send.
      {"edge", 2, 0, {}, "", 0, "0 files: this kind of controller takes no board support package"},
      // This PC as the target: the upgrade copies every file on the PC without asking, and so
      // the check asks nothing either.
      {"this PC", 100, 0, {"a.bin", "b.bin", "other.dll", "vr_ssl.dll"}, "copied", 0,
       "4 files: 0 unchanged, 0 differ, 0 missing, 4 copied on this PC without comparing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandSite t;
    t.site.Config().type = uint8_t(c.type);
    t.site.Config().subtype = uint8_t(c.subtype);
    t.site.WritePayload("other.dll", PatternBytes(40, 5));
    t.site.WritePayload("vr_ssl.dll", PatternBytes(50, 6));
    const int code = t.Check({kMac});
    EXPECT_EQ(code, c.planned.empty() ? kExitCompleted : kExitFailed) << t.err.str();
    std::vector<std::string> listed;
    for (const std::string& line : SplitLines(t.out.str())) {
      const std::string lead = std::string(c.state) + std::string(11 - std::strlen(c.state), ' ') + "BSP/UPGRADE\\";
      if (!c.planned.empty() && line.rfind(lead, 0) == 0) {
        listed.push_back(line.substr(lead.size(), line.find(' ', lead.size()) - lead.size()));
      }
    }
    std::vector<std::string> expected;
    for (const std::string& name : t.site.PayloadOrder()) {
      if (std::find(c.planned.begin(), c.planned.end(), name) != c.planned.end()) expected.push_back(name);
    }
    EXPECT_EQ(listed, expected);
    Lines printed = SplitLines(t.out.str());
    EXPECT_EQ(printed.empty() ? "" : printed.back(), c.lastLine);
    EXPECT_EQ(t.ComparisonsAsked(), c.comparisons);
  }
}

TEST(CheckCommand, EachWayACheckEndsHasItsExitCode) {
  struct Case {
    const char* name;
    std::function<void(CommandSite&)> arrange;
    std::vector<std::string> macs;
    int code;
    const char* stderrSays;
    const char* lastLine;  // of stdout
  };
  const Case cases[] = {
      {"not listed", [](CommandSite&) {}, {"0050C2000009"}, kExitNotListed,
       "bsplift: 0050C2000009 was not listed within 5 s\n", ""},
      {"login refused", [](CommandSite& t) { t.site.Config().acceptedKinds = {42}; }, {kMac}, kExitNoUpgrade,
       "bsplift: 00:50:C2:00:00:01: the login to 192.168.1.20:7000 failed (as type 1 and as type 9)\n",
       "no session: the login to 192.168.1.20:7000 failed (as type 1 and as type 9)"},
      {"no system information", [](CommandSite& t) { t.site.Config().faults.ignoredCodes = {8120}; }, {kMac},
       kExitNoUpgrade, "did not answer the system information request\n",
       "no session: 192.168.1.20:7000 did not answer the system information request"},
      // No answer is no copy as far as the upgrade goes: it would send the file.
      {"no answer to the comparisons", [](CommandSite& t) { t.site.Config().faults.ignoredCodes = {14030}; }, {kMac},
       kExitFailed, "", "2 files: 0 unchanged, 0 differ, 2 missing"},
      // The Linux client's login only: the check gets in on its second try, as an upgrade does.
      {"only the second login", [](CommandSite& t) { t.site.Config().acceptedKinds = {19}; }, {kMac}, kExitFailed, "",
       "2 files: 0 unchanged, 0 differ, 2 missing"},
      // The connection reset just after the first comparison's answer: that verdict stands, the
      // other file is not guessed at, and the check did not get through.
      {"the connection lost midway",
       [](CommandSite& t) {
         t.site.WriteOnController("a.bin", PatternBytes(150000, 1));
         t.site.WriteOnController("b.bin", PatternBytes(10, 2));
         t.site.OnLog([&t](const std::string& line) {
           if (line[0] != '#' || line.find("BSP/UPGRADE\\") == std::string::npos || t.dropped) return;
           t.dropped = true;
           // The answer being sent is 16 bytes; the next one dies.
           t.world.DropAfterBytes(t.site.Controller().SocketOf(std::stoi(line.substr(1))), 17);
         });
       },
       {kMac}, kExitNoUpgrade, "bsplift: 00:50:C2:00:00:01: the controller closed the connection after 1 of 2 files\n",
       "connection lost after 1 of 2 files; 1 file: 1 unchanged, 0 differ, 0 missing"},
#ifndef _WIN32
      // A dangling link is listed but cannot be opened (Windows makes links for administrators only).
      {"a payload file that cannot be opened here",
       [](CommandSite& t) {
         std::filesystem::create_symlink("nowhere", t.site.PayloadFolder() + "/gone.bin");
       },
       {kMac}, kExitFailed, "", "3 files: 0 unchanged, 0 differ, 2 missing, 1 unreadable here"},
#endif
      {"no payload folder", [](CommandSite& t) { std::filesystem::remove_all(t.site.PayloadFolder()); }, {kMac},
       kExitUsage, "bsplift: check: there is no BSP/UPGRADE folder in ", ""},
      // The first code that is not 0, and every controller still checked.
      {"one of two not listed", [](CommandSite&) {}, {"0050C2000009", kMac}, kExitNotListed,
       "bsplift: 0050C2000009 was not listed within 5 s\n", "2 files: 0 unchanged, 0 differ, 2 missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CommandSite t;
    c.arrange(t);
    EXPECT_EQ(t.Check(c.macs), c.code);
    EXPECT_NE(t.err.str().find(c.stderrSays), std::string::npos) << t.err.str();
    Lines printed = SplitLines(t.out.str());
    EXPECT_EQ(printed.empty() ? "" : printed.back(), c.lastLine);
    t.ComparisonsAsked();
  }
}

TEST(CheckCommand, ControlBytesFromTheControllerNeverReachTheTerminal) {
  CommandSite t;
  const std::string name = "HALL\x1b[2J\xc2\x9b\x07";  // ESC, the C1 CSI in UTF-8, BEL
  t.site.Config().name = name;
  EXPECT_EQ(t.Check({kMac}), kExitFailed);
  EXPECT_NE(t.out.str().find("System Information: HALL?[2J??\n"), std::string::npos) << t.out.str();
  t.out.str("");
  EXPECT_EQ(t.Check({kMac}, true), kExitFailed);
  EXPECT_EQ(nlohmann::ordered_json::parse(t.out.str())[0]["systemInformation"], name) << "JSON escapes them itself";
}

TEST(CheckCommand, JsonGivesOneObjectPerControllerWithEachFilesState) {
  CommandSite t;
  t.site.WriteOnController("b.bin", PatternBytes(10, 2));
  EXPECT_EQ(t.Check({kMac, "0050C2000009"}, true), kExitFailed);
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  for (const std::string& name : t.site.PayloadOrder()) {
    if (name == "a.bin") {
      files.push_back({{"path", "BSP/UPGRADE\\a.bin"}, {"state", "missing"}, {"size", 150000},
                       {"controllerSize", -1}, {"controllerSum", 0}});
    } else {
      uint32_t sum = 0;
      for (uint8_t byte : PatternBytes(10, 2)) sum += byte;
      files.push_back({{"path", "BSP/UPGRADE\\b.bin"}, {"state", "unchanged"}, {"size", 10}, {"sum", sum},
                       {"controllerSize", 10}, {"controllerSum", sum}});
    }
  }
  nlohmann::ordered_json expected = nlohmann::ordered_json::array();
  expected.push_back({{"mac", "00:50:C2:00:00:01"}, {"exit", 1}, {"address", "192.168.1.20"}, {"port", 7000},
                      {"type", 8}, {"subtype", 10}, {"model", "PD10"}, {"systemType", "PD10 (Linux i.MX53)"},
                      {"systemInformation", "CONTROLLER"}, {"files", files}, {"unchanged", 1}, {"differs", 0},
                      {"missing", 1}});
  expected.push_back({{"mac", "0050C2000009"}, {"exit", 3}, {"error", "not listed within 5 s"}});
  EXPECT_EQ(nlohmann::ordered_json::parse(t.out.str()), expected);
}

}  // namespace
