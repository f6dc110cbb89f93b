#include "connection/console.hpp"

#include <cstdio>

namespace connection {

namespace {

void writeToStdout(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

ConsoleSink& sink() {
    static ConsoleSink current = writeToStdout;
    return current;
}

} // namespace

void consoleLine(std::string_view line) {
    sink()(line);
}

ConsoleSink setConsoleSink(ConsoleSink next) {
    auto previous = std::move(sink());
    sink() = next ? std::move(next) : ConsoleSink(writeToStdout);
    return previous;
}

} // namespace connection
