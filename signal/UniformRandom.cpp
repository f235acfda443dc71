#include "signal/UniformRandom.h"

namespace audimera {

namespace {

uint64_t rotateLeft(uint64_t x, int k)
{
    return (x << k) | (x >> (64 - k));
}

// One splitmix64 step; spreads a plain seed over the generator's state.
uint64_t splitMix64(uint64_t& x)
{
    uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

} // namespace

UniformRandom::UniformRandom(uint64_t seed)
{
    // splitmix64 never yields four zero words, the one state xoshiro must avoid.
    for (uint64_t& word : m_state)
        word = splitMix64(seed);
}

uint64_t UniformRandom::nextBits()
{
    const uint64_t result = rotateLeft(m_state[1] * 5, 7) * 9;
    const uint64_t t = m_state[1] << 17;
    m_state[2] ^= m_state[0];
    m_state[3] ^= m_state[1];
    m_state[1] ^= m_state[2];
    m_state[0] ^= m_state[3];
    m_state[2] ^= t;
    m_state[3] = rotateLeft(m_state[3], 45);
    return result;
}

double UniformRandom::next()
{
    return static_cast<double>(nextBits() >> 11) * 0x1.0p-53;
}

} // namespace audimera
