#pragma once

#include "connection/console.hpp"

#include <string>
#include <vector>

namespace testing_support {

// Collects the console lines printed while it lives.
class ConsoleCapture {
public:
    ConsoleCapture()
        : previous_(connection::setConsoleSink(
              [this](std::string_view line) { lines_.emplace_back(line); })) {}
    ~ConsoleCapture() { connection::setConsoleSink(std::move(previous_)); }
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
    connection::ConsoleSink previous_;
};

} // namespace testing_support
