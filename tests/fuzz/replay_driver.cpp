// A stand-in for libFuzzer's main, so that CI runs every fuzz target as an ordinary program under
// the sanitizers: `fuzz_x N [seed]` calls LLVMFuzzerTestOneInput on N inputs from a seeded
// generator, half random bytes biased towards the target's own tokens, half mutations of the
// target's seed inputs. The same target file links unchanged with -fsanitize=fuzzer.
#include "replay_driver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Random = std::mt19937_64;

size_t Below(Random& random, size_t bound) { return bound == 0 ? 0 : static_cast<size_t>(random() % bound); }

// Values that tend to sit on limits of length and count fields.
const uint64_t kInterestingValues[] = {0,          1,          7,          8,          35,
                                       36,         255,        4096,       65535,      65536,
                                       1u << 29,   (1u << 29) + 1,         0x7FFFFFFF, 0xFFFFFFFF,
                                       UINT64_MAX, UINT64_MAX - 35,        UINT64_MAX - 36};

std::string RandomBytes(Random& random, const std::vector<std::string>& seeds) {
  std::string out;
  const size_t length = Below(random, 4) == 0 ? Below(random, 8192) : Below(random, 512);
  while (out.size() < length) {
    switch (Below(random, 4)) {
      case 0:  // a piece of a seed, so that tokens of the format turn up
        if (!seeds.empty()) {
          const std::string& seed = seeds[Below(random, seeds.size())];
          const size_t start = Below(random, seed.size());
          out += seed.substr(start, 1 + Below(random, 64));
          break;
        }
        [[fallthrough]];
      default:
        out.push_back(static_cast<char>(random()));
    }
  }
  out.resize(length);
  return out;
}

void Mutate(std::string* input, Random& random, const std::vector<std::string>& seeds) {
  const int rounds = 1 + static_cast<int>(Below(random, 4));
  for (int round = 0; round < rounds; ++round) {
    const size_t size = input->size();
    switch (Below(random, 7)) {
      case 0:  // flip a bit
        if (size) (*input)[Below(random, size)] ^= static_cast<char>(1u << Below(random, 8));
        break;
      case 1:  // set a byte
        if (size) (*input)[Below(random, size)] = static_cast<char>(random());
        break;
      case 2:  // insert random bytes
        input->insert(Below(random, size + 1), RandomBytes(random, {}).substr(0, 1 + Below(random, 16)));
        break;
      case 3:  // erase a range
        if (size) input->erase(Below(random, size), 1 + Below(random, 64));
        break;
      case 4:  // duplicate a range
        if (size) {
          const size_t start = Below(random, size);
          input->insert(Below(random, size + 1), input->substr(start, 1 + Below(random, 128)));
        }
        break;
      case 5: {  // overwrite eight bytes with a limit value, little-endian
        if (size < 8) break;
        const uint64_t value = kInterestingValues[Below(random, std::size(kInterestingValues))];
        const size_t at = Below(random, size - 7);
        for (int i = 0; i < 8; ++i) (*input)[at + i] = static_cast<char>(value >> (8 * i));
        break;
      }
      default:  // splice with another seed
        if (!seeds.empty()) {
          const std::string& other = seeds[Below(random, seeds.size())];
          *input = input->substr(0, Below(random, size + 1)) + other.substr(Below(random, other.size() + 1));
        }
        break;
    }
  }
}

void Run(const std::string& input) {
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
}

}  // namespace

int main(int argc, char** argv) {
  const long iterations = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1000;
  const uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 0x486172;
  Random random(seed);
  const std::vector<std::string> seeds = HlxFuzzSeedInputs ? HlxFuzzSeedInputs() : std::vector<std::string>();

  for (const std::string& input : seeds) Run(input);
  Run(std::string());
  for (long i = 0; i < iterations; ++i) {
    if (!seeds.empty() && i % 2 == 1) {
      std::string input = seeds[Below(random, seeds.size())];
      Mutate(&input, random, seeds);
      Run(input);
    } else {
      Run(RandomBytes(random, seeds));
    }
  }
  std::printf("%ld inputs replayed (seed %llu)\n", iterations, static_cast<unsigned long long>(seed));
  return 0;
}
