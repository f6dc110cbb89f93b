#pragma once

#include "protocol/bytes.hpp"

#include <initializer_list>
#include <random>

namespace sim_testing {

inline protocol::Bytes joined(std::initializer_list<protocol::Bytes> parts) {
    protocol::Bytes all;
    for (const auto& part : parts) {
        protocol::append(all, part);
    }
    return all;
}

inline protocol::Bytes slice(const protocol::Bytes& bytes, std::size_t from, std::size_t to) {
    return protocol::Bytes(bytes.begin() + static_cast<long>(from),
                           bytes.begin() + static_cast<long>(to));
}

// Seeded, so that a failure can be replayed.
inline protocol::Bytes randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    protocol::Bytes bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(generator));
    }
    return bytes;
}

} // namespace sim_testing
