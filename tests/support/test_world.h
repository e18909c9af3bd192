#pragma once
// The simulated world every test makes, with one way to replay a run: BSPLIFT_SEED in the
// environment replaces the seed a test chose. A failure seen once can then be run again, cut for
// cut, without editing the test.
#include <cstdint>

#include "platform/sim/world.h"

namespace testing_support {

// The environment variable that replaces a test's seed (decimal).
constexpr char kSeedVariable[] = "BSPLIFT_SEED";

// A simulated world for one test. BSPLIFT_SEED in the environment, when set, replaces the seed the
// test chose, so that any run can be replayed; the seed in use is printed once (stdout) and recorded
// as the test's "seed" property.
class TestWorld : public platform::sim::World {
 public:
  explicit TestWorld(uint32_t startTick = 0, uint64_t seed = 1);
};

// The seed a test should use: BSPLIFT_SEED when set (decimal), else `fallback`. A value that is not
// a decimal number fails the running test (naming the value) and gives `fallback`.
uint64_t SeedFromEnvironment(uint64_t fallback);

}  // namespace testing_support
