#pragma once

#include <cstdint>
#include <vector>

namespace protocol {

// Command bytes: one owned, growable buffer. A command is built whole and handed over whole.
using Bytes = std::vector<std::uint8_t>;

inline void append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

} // namespace protocol
