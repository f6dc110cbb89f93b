// libFuzzer target: the decoder must accept any bytes, whole or in pieces, without reading out of
// bounds, and must account for every byte exactly once.
#include "protocol/decoder.hpp"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto whole = protocol::decode(data, size, true);
    std::size_t covered = 0;
    for (const auto& command : whole.commands) {
        if (command.offset != covered || command.length == 0) {
            std::abort();
        }
        covered += command.length;
        (void)protocol::renderLine(command);
        (void)protocol::renderJson(command, {true});
    }
    if (covered != size || whole.consumed != size) {
        std::abort();
    }

    // The same bytes fed in two pieces, split where the first byte says.
    protocol::StreamDecoder stream;
    const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
    auto first = stream.feed(data, split);
    auto rest = stream.feed(data + split, size - split);
    auto tail = stream.finish();
    if (stream.pendingBytes() != 0) {
        std::abort();
    }
    std::size_t streamed = 0;
    for (const auto* part : {&first, &rest, &tail}) {
        for (const auto& command : *part) {
            if (command.offset != streamed) {
                std::abort();
            }
            streamed += command.length;
        }
    }
    if (streamed != size) {
        std::abort();
    }
    return 0;
}
