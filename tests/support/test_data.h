// Data for disk images that a test can make again from its seed.
#pragma once

#include <cstddef>
#include <random>
#include <string>

inline std::string random_bytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = static_cast<char>(gen());
    return s;
}
