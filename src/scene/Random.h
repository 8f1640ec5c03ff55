#pragma once

#include <cstdint>

// The program's source of random numbers: 15-bit values 0 ... 32767 from a fixed
// linear congruential sequence starting at seed 1, so every run places graftals the
// same way. The program never reseeds it.
class Random
{
public:
    static constexpr int Max = 32767;

    static int next()
    {
        seed = seed * 214013u + 2531011u;
        return static_cast<int>((seed >> 16) & 0x7fffu);
    }

    // Test-only: restart the sequence from a chosen seed.
    static void reseedForTests(std::uint32_t value) { seed = value; }

private:
    static inline std::uint32_t seed = 1;
};
