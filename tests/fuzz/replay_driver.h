// The optional seed hook between a fuzz target and the replay driver. A target that defines
// HlxFuzzSeedInputs gives the driver valid inputs to mutate; libFuzzer never calls it.
#pragma once

#include <string>
#include <vector>

// Weak, so that a target without seeds still links; the driver then feeds random bytes only.
std::vector<std::string> HlxFuzzSeedInputs() __attribute__((weak));
