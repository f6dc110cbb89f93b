#pragma once

#include "discovery/printer_search.hpp"
#include "plans/plan.hpp"

#include <string>
#include <variant>
#include <vector>

// printerctl's grammar. Parsing also validates every value and builds every command, so that
// nothing is sent unless the whole invocation is sound.
namespace printerctl {

enum class Transport { none, tcp, serial, usb, ble };

struct SendRequest {
    bool dryRun = false;
    Transport transport = Transport::none;
    std::string target; // HOST[:PORT], device path, port id or Bluetooth address
    plans::Plan plan;   // what the window's screen would send; no step refuses
};

struct DecodeRequest {
    bool json = false;
    bool showSecrets = false;
    std::vector<std::string> hexArguments; // empty: read standard input
};

struct HelpRequest {};

// `list usb` / `list ble` / `list tcp`: the printers a transport can reach.
struct ListRequest {
    Transport transport = Transport::usb;
    int scanSeconds = 10; // Bluetooth only
    // TCP only: what to search, and whether to print one JSON array at the end.
    discovery::SearchOptions search;
    bool json = false;
};

// The largest network `list tcp --subnet` probes: 65534 addresses.
inline constexpr int kShortestSubnetPrefix = 16;

// What to print on standard error, and the exit status (2: usage or invalid input).
struct CommandLineError {
    std::string message;
};

using Invocation =
    std::variant<SendRequest, DecodeRequest, HelpRequest, ListRequest, CommandLineError>;

Invocation parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText();

} // namespace printerctl
