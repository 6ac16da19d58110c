// Reproducible test data for the C++ hosts: `size` bytes drawn from `alphabet`
// by a xorshift generator started from `state`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

template <std::size_t N>
std::string draw_bytes(std::size_t size, std::uint32_t state, const char (&alphabet)[N]) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        s[i] = alphabet[state % (N - 1)];
    }
    return s;
}
