#pragma once
#include <cstdint>

namespace rw::sim {

// A tiny seeded generator (splitmix64). The simulator draws every random
// decision from its own instances, in a fixed order, so a seed reproduces a
// run exactly on any platform and standard library.
class SplitMix64 {
  public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}

    uint64_t next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1), from the top 53 bits.
    double nextUnit() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

  private:
    uint64_t state_;
};

}  // namespace rw::sim
