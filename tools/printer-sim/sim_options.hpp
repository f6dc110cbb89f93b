#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace printer_sim {

struct SimOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 9100; // 0: any free port (any free run of ports with several printers)
    int printers = 1;
    bool json = false;
    bool showSecrets = false;
    bool dumpState = false;
    bool help = false;
    // A printer on a pseudo-terminal, as a USB serial printer appears. Alone it replaces TCP;
    // with --listen given as well the sim does both.
    bool pty = false;
    bool listenGiven = false;
};

inline constexpr int kMaxPrinters = 256;

struct OptionError {
    std::string message;
};

// `arguments` excludes the program name.
std::variant<SimOptions, OptionError> parseOptions(const std::vector<std::string>& arguments);

std::string usageText();

} // namespace printer_sim
