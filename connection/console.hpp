#pragma once

#include <functional>
#include <string_view>

// Console lines: plain lines on standard output, flushed at each line so that a reader at the
// other end of a pipe sees them as they happen.
namespace connection {

void consoleLine(std::string_view line);

// Where console lines go; standard output unless replaced. Returns the previous sink.
using ConsoleSink = std::function<void(std::string_view)>;
ConsoleSink setConsoleSink(ConsoleSink sink);

} // namespace connection
