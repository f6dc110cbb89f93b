#pragma once

#include "tests/support/loopback.hpp"
#include "tests/support/process.hpp"

#include <cstdint>
#include <regex>
#include <stdexcept>
#include <string>

namespace sim_testing {

using namespace testing_support;

// A running printer-sim. The constructor returns once the first line (where it listens) is
// there; lines() holds what came after it.
class SimProcess : public ChildProcess {
public:
    explicit SimProcess(const std::vector<std::string>& arguments)
        : ChildProcess(PRINTER_SIM_PATH, arguments), listeningLine_(takeFirstLine()) {
        static const std::regex form(
            R"(printer-sim listening on 127\.0\.0\.1:(\d+)(-\d+ \(\d+ printers\))?)");
        std::smatch found;
        if (!std::regex_match(listeningLine_, found, form)) {
            throw std::runtime_error("unexpected first line: '" + listeningLine_ +
                                     "'; stderr: " + errorOutput());
        }
        firstPort_ = static_cast<std::uint16_t>(std::stoi(found[1]));
    }

    std::uint16_t firstPort() const { return firstPort_; }
    const std::string& listeningLine() const { return listeningLine_; }

private:
    std::string listeningLine_;
    std::uint16_t firstPort_ = 0;
};

// The readable line the sim prints for `text` on `printer` from `peer`.
inline std::string printerLine(int printer, const std::string& peer, const std::string& text) {
    return "printer " + std::to_string(printer) + " \u00B7 " + peer + " \u00B7 " + text;
}
// The lines of a settings dump (SIGUSR1): how many settings `printer` keeps, then each.
inline std::string pendingHeader(int printer, std::size_t count) {
    return "printer " + std::to_string(printer) +
           " \u00B7 pending settings (applied at the next restart): " + std::to_string(count);
}
inline std::string pendingLine(int printer, const std::string& text) {
    return "printer " + std::to_string(printer) + " \u00B7 pending \u00B7 " + text;
}

} // namespace sim_testing
