// Many whole upgrades, each under faults drawn from its seed, each checked for an honest end.
// BSPLIFT_SEED=N replays one seed; BSPLIFT_WORKLOAD_SEEDS=COUNT and BSPLIFT_WORKLOAD_FIRST=N run
// another range (scripts/workload runs thousands).
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

#include "tests/scenario/fault_workload.h"

namespace {

using testing_support::FaultPlan;
using testing_support::MakeFaultPlan;
using testing_support::ReplayCommand;
using testing_support::RunFaultPlan;
using testing_support::WorkloadResult;

constexpr uint64_t kDefaultSeeds = 500;
constexpr uint64_t kDefaultFirst = 1;

uint64_t FromEnvironment(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  uint64_t value = std::strtoull(text, &end, 10);
  if (*end != '\0') {
    ADD_FAILURE() << name << "=" << text << " is not a decimal number";
    return fallback;
  }
  return value;
}

TEST(FaultWorkload, EveryUpgradeUnderSeededFaultsEndsHonestlyAndInTime) {
  uint64_t first = FromEnvironment("BSPLIFT_WORKLOAD_FIRST", kDefaultFirst);
  uint64_t count = FromEnvironment("BSPLIFT_WORKLOAD_SEEDS", kDefaultSeeds);
  if (std::getenv("BSPLIFT_SEED")) {
    first = FromEnvironment("BSPLIFT_SEED", first);
    count = 1;
  }
  std::map<std::string, int> outcomes;
  std::map<std::string, int> failures;
  double busiest = 0;
  uint64_t busiestSeed = 0;
  int harmless = 0;
  for (uint64_t seed = first; seed < first + count; ++seed) {
    FaultPlan plan = MakeFaultPlan(seed);
    WorkloadResult result = RunFaultPlan(plan);
    ++outcomes[result.outcome];
    double rate = double(result.waits) * 1000.0 / double(result.virtualMs + 1);
    if (rate > busiest) {
      busiest = rate;
      busiestSeed = seed;
    }
    if (result.outcome == "failed" && result.log.size() >= 2) {
      // What the failing step said, with the file or command left out: the kinds of failure met.
      std::string said = result.log[result.log.size() - 2];
      said = said.substr(0, said.find_first_of("[\\"));
      ++failures[said];
    }
    harmless += plan.Harmless();
    for (const std::string& violation : result.violations) {
      ADD_FAILURE() << violation << "\n  " << plan.Describe() << "\n  replay: " << ReplayCommand(seed);
    }
    if (count == 1) {
      std::printf("%s\n  outcome %s, %llu virtual ms, %llu waits\n", plan.Describe().c_str(), result.outcome.c_str(),
                  static_cast<unsigned long long>(result.virtualMs), static_cast<unsigned long long>(result.waits));
      std::printf("upgrade log:\n");
      for (const std::string& line : result.log) std::printf("  %s\n", line.c_str());
      std::printf("controller log:\n");
      for (const std::string& line : result.controller) std::printf("  %s\n", line.c_str());
    }
  }
  std::printf("seeds %llu..%llu:", static_cast<unsigned long long>(first),
              static_cast<unsigned long long>(first + count - 1));
  for (const auto& [outcome, n] : outcomes) std::printf(" %s %d,", outcome.c_str(), n);
  std::printf(" harmless plans %d; most waits a virtual second %.0f (seed %llu)\n", harmless, busiest,
              static_cast<unsigned long long>(busiestSeed));
  for (const auto& [said, n] : failures) std::printf("  %5d failed after \"%s\"\n", n, said.c_str());
}

}  // namespace
