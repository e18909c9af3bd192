#include "tests/support/test_world.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace testing_support {
namespace {

// Says which seed runs, once per test and seed: a test that makes several worlds with the same
// seed (one per case of a table) does not repeat the line.
void Announce(uint64_t seed) {
  static std::string lastAnnounced;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string testName = test ? std::string(test->test_suite_name()) + "." + test->name() : "";
  std::string key = testName + "#" + std::to_string(seed);
  if (test) ::testing::Test::RecordProperty("seed", std::to_string(seed));
  if (key == lastAnnounced) return;
  lastAnnounced = key;
  std::printf("seed %llu (replay: %s=%llu)\n", static_cast<unsigned long long>(seed), kSeedVariable,
              static_cast<unsigned long long>(seed));
  std::fflush(stdout);
}

}  // namespace

uint64_t SeedFromEnvironment(uint64_t fallback) {
  const char* text = std::getenv(kSeedVariable);
  if (!text) return fallback;
  const char* end = text + std::strlen(text);
  uint64_t seed = 0;
  auto [stop, error] = std::from_chars(text, end, seed);
  if (text == end || error != std::errc() || stop != end) {
    ADD_FAILURE() << kSeedVariable << "=\"" << text << "\" is not a decimal seed (0 to 18446744073709551615)";
    return fallback;
  }
  return seed;
}

TestWorld::TestWorld(uint32_t startTick, uint64_t seed) : World(startTick, SeedFromEnvironment(seed)) {
  Announce(Seed());
}

}  // namespace testing_support
