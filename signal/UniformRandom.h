// The uniform pseudo-random source behind the noise tables.
//
// Fully defined here (xoshiro256** seeded through splitmix64) rather than
// taken from the standard library, so the same seed gives the same sequence
// on every run, compiler and standard library.
#pragma once

#include <cstdint>

namespace audimera {

class UniformRandom {
public:
    // "Audimera" in ASCII.
    static constexpr uint64_t DefaultSeed = 0x417564696D657261ULL;

    explicit UniformRandom(uint64_t seed = DefaultSeed);

    // The next 64 raw bits of the sequence.
    uint64_t nextBits();

    // The next value, uniform in [0, 1) with 53 random bits.
    double next();

private:
    uint64_t m_state[4];
};

} // namespace audimera
