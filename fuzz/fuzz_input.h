// The bytes of one fuzz input, taken front to back. What runs out reads as zeros, so every
// input, however short, drives the whole path.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace ovfuzz {

class input {
public:
    input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    void take(unsigned char* out, size_t n)
    {
        const size_t have = std::min(n, size_ - at_);
        if (have != 0)
            std::memcpy(out, data_ + at_, have);
        std::memset(out + have, 0, n - have);
        at_ += have;
    }
    uint8_t byte()
    {
        unsigned char b = 0;
        take(&b, 1);
        return b;
    }
    uint64_t number(size_t bytes)
    {
        uint64_t v = 0;
        for (size_t i = 0; i < bytes; ++i)
            v |= uint64_t(byte()) << (8 * i);
        return v;
    }
    std::string rest()
    {
        std::string s(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
        at_ = size_;
        return s;
    }
    bool empty() const { return at_ == size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A broken promise of the code under test: said once, then the process aborts so the
// fuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

}  // namespace ovfuzz
