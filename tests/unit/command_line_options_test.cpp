// The command line as a script writes it: options before or after the MACs, both spellings of a
// value, and a one-line reason for every mistake.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLineOptions, UpgradeTakesOptionsBeforeAndAfterTheMacs) {
  CommandLine command;
  std::string error;
  ASSERT_EQ(ParseCommandLine({"upgrade", "--wait", "30", "00:50:c2:00:00:01", "-C", "/srv/bsp", "0050C2-000002",
                              "--yes"},
                             &command, &error),
            1)
      << error;
  EXPECT_EQ(command.kind, CommandKind::Upgrade);
  EXPECT_EQ(command.upgrade.macs, (Args{"00:50:c2:00:00:01", "0050C2-000002"}));
  EXPECT_EQ(command.upgrade.waitSeconds, 30u);
  EXPECT_EQ(command.upgrade.directory, "/srv/bsp");
  EXPECT_TRUE(command.upgrade.yes);

  ASSERT_EQ(ParseCommandLine({"upgrade", "0050C2000001", "--wait=0"}, &command, &error), 1) << error;
  EXPECT_EQ(command.upgrade.waitSeconds, 0u);
  EXPECT_FALSE(command.upgrade.yes);
  EXPECT_EQ(command.upgrade.directory, "");
}

TEST(CommandLineOptions, CheckTakesTheUpgradesMacsWaitAndFolderWithJsonButNoYes) {
  CommandLine command;
  std::string error;
  ASSERT_EQ(ParseCommandLine({"check", "--json", "00:50:c2:00:00:01", "--wait=4", "0050C2000002", "-C", "/srv/bsp"},
                             &command, &error),
            1)
      << error;
  EXPECT_EQ(command.kind, CommandKind::Check);
  EXPECT_EQ(command.check.macs, (Args{"00:50:c2:00:00:01", "0050C2000002"}));
  EXPECT_EQ(command.check.waitSeconds, 4u);
  EXPECT_EQ(command.check.directory, "/srv/bsp");
  EXPECT_TRUE(command.check.json);

  ASSERT_EQ(ParseCommandLine({"check", "0050C2000001"}, &command, &error), 1) << error;
  EXPECT_EQ(command.check.waitSeconds, 10u);
  EXPECT_FALSE(command.check.json);
}

TEST(CommandLineOptions, ListTakesItsOptionsAndNamesAFilterEntryAsTheDialogSpellsIt) {
  CommandLine command;
  std::string error;
  ASSERT_EQ(ParseCommandLine({"list", "--filter", "sonmark zrt", "--seconds=7", "--json", "--diagnostic"}, &command,
                             &error),
            1)
      << error;
  EXPECT_EQ(command.kind, CommandKind::List);
  EXPECT_EQ(command.list.filter, "SONMARK ZRT");
  EXPECT_EQ(command.list.seconds, 7u);
  EXPECT_TRUE(command.list.json);
  EXPECT_TRUE(command.list.diagnostic);

  ASSERT_EQ(ParseCommandLine({"list"}, &command, &error), 1);
  EXPECT_EQ(command.list.seconds, 3u);
  EXPECT_EQ(command.list.filter, "");
}

TEST(CommandLineOptions, NoCommandMeansTheWindowsAndHelpWinsAnywhere) {
  CommandLine command;
  std::string error;
  ASSERT_EQ(ParseCommandLine({}, &command, &error), 1);
  EXPECT_EQ(command.kind, CommandKind::Windows);
  ASSERT_EQ(ParseCommandLine({"upgrade", "nonsense", "--help"}, &command, &error), 1);
  EXPECT_EQ(command.kind, CommandKind::Help);
}

TEST(CommandLineOptions, EachMistakeIsRefusedWithItsOwnOneLineReason) {
  const struct {
    Args args;
    const char* reason;
  } cases[] = {
      {{"lsit"}, "unknown command \"lsit\" (commands: list, upgrade, check; see bsplift --help)"},
      {{"list", "--filter", "PD3"},
       "list: unknown filter entry \"PD3\" (entries: ALL, R5, VARDO ZRT, PD10, PD2, SONMARK ZRT)"},
      {{"list", "--seconds"}, "--seconds needs a value"},
      {{"list", "--seconds", "-1"}, "--seconds wants a number of seconds from 0 to 86400, not \"-1\""},
      {{"list", "--seconds", "3s"}, "--seconds wants a number of seconds from 0 to 86400, not \"3s\""},
      {{"list", "--seconds", "86401"}, "--seconds wants a number of seconds from 0 to 86400, not \"86401\""},
      {{"list", "--json=yes"}, "list: unknown option \"--json=yes\""},
      {{"list", "0050C2000001"}, "list: unknown option \"0050C2000001\""},
      {{"upgrade"}, "upgrade: name the MAC address of the controller to upgrade"},
      {{"upgrade", "--yes"}, "upgrade: name the MAC address of the controller to upgrade"},
      {{"upgrade", "0050C200000"}, "upgrade: \"0050C200000\" is not a MAC address (12 hex digits, ':' or '-' between them allowed)"},
      {{"upgrade", "0050C200000G"}, "upgrade: \"0050C200000G\" is not a MAC address (12 hex digits, ':' or '-' between them allowed)"},
      {{"upgrade", "0050C2000001", "--force"}, "upgrade: unknown option \"--force\""},
      {{"upgrade", "0050C2000001", "-C"}, "-C needs a value"},
      {{"upgrade", "0050C2000001", "--directory="}, "--directory needs a folder"},
      // Each command takes only its own flags: a check never answers the warning, an upgrade has no JSON.
      {{"upgrade", "0050C2000001", "--json"}, "upgrade: unknown option \"--json\""},
      {{"check", "0050C2000001", "--yes"}, "check: unknown option \"--yes\""},
      {{"check"}, "check: name the MAC address of the controller to check"},
      {{"check", "0050C2000001", "--wait", "x"}, "--wait wants a number of seconds from 0 to 86400, not \"x\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    CommandLine command;
    std::string error;
    EXPECT_EQ(ParseCommandLine(c.args, &command, &error), 0);
    EXPECT_EQ(error, c.reason);
    EXPECT_EQ(error.find('\n'), std::string::npos);
  }
}

TEST(CommandLineOptions, MacsCompareWithoutSeparatorsOrCase) {
  EXPECT_EQ(NormalizeMac("00:50:c2-ab:cd:ef"), "0050C2ABCDEF");
  EXPECT_EQ(NormalizeMac("0050C2ABCDEF"), "0050C2ABCDEF");
}

}  // namespace
