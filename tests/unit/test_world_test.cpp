// The seed override every simulated test shares: BSPLIFT_SEED replays a run, and a value that is
// not a seed stops the run instead of being ignored.
#include "tests/support/test_world.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using testing_support::SeedFromEnvironment;
using testing_support::TestWorld;

// Sets BSPLIFT_SEED (or unsets it) for one test and puts back what the run was started with.
class SeedVariable {
 public:
  explicit SeedVariable(const char* value) {
    if (const char* old = std::getenv(testing_support::kSeedVariable)) previous = old;
    Set(value);
  }
  ~SeedVariable() { Set(previous ? previous->c_str() : nullptr); }
  SeedVariable(const SeedVariable&) = delete;
  SeedVariable& operator=(const SeedVariable&) = delete;

 private:
  static void Set(const char* value) {
#ifdef _WIN32
    // An empty value removes the variable there.
    _putenv_s(testing_support::kSeedVariable, value ? value : "");
#else
    if (value) {
      setenv(testing_support::kSeedVariable, value, 1);
    } else {
      unsetenv(testing_support::kSeedVariable);
    }
#endif
  }

  std::optional<std::string> previous;
};

std::string RecordedSeed() {
  const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
  for (int i = 0; i < result->test_property_count(); ++i) {
    if (std::string(result->GetTestProperty(i).key()) == "seed") return result->GetTestProperty(i).value();
  }
  return "";
}

TEST(TestWorld, TheTestsOwnSeedRunsWhenNoSeedIsGivenAndIsPrintedWithHowToReplayIt) {
  SeedVariable unset(nullptr);
  ::testing::internal::CaptureStdout();
  {
    TestWorld world(0, 77);
    EXPECT_EQ(world.Seed(), 77u);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "seed 77 (replay: BSPLIFT_SEED=77)\n");
  EXPECT_EQ(RecordedSeed(), "77");
}

TEST(TestWorld, AGivenSeedReplacesTheTestsOwnAndIsPrintedOnceForTheTest) {
  SeedVariable given("18446744073709551615");
  ::testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) {
    TestWorld world(0, 77);  // one world per case of a table
    EXPECT_EQ(world.Seed(), 18446744073709551615u);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "seed 18446744073709551615 (replay: BSPLIFT_SEED=18446744073709551615)\n");
  EXPECT_EQ(RecordedSeed(), "18446744073709551615");
  EXPECT_EQ(SeedFromEnvironment(5), 18446744073709551615u);
}

TEST(TestWorld, ASeedThatIsNotADecimalNumberFailsTheTestNamingIt) {
  std::vector<const char*> bads = {"12x", "-1", "+4", " 5", "0x10", "1e3", "18446744073709551616"};
#ifndef _WIN32
  bads.push_back("");  // Windows has no empty variables: setting one to "" removes it
#endif
  for (const char* bad : bads) {
    SeedVariable given(bad);
    uint64_t seed = 0;
    EXPECT_NONFATAL_FAILURE(seed = SeedFromEnvironment(9), "BSPLIFT_SEED=\"" + std::string(bad) + "\"");
    EXPECT_EQ(seed, 9u) << '"' << bad << '"';
  }
}

}  // namespace
