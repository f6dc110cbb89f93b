#pragma once

#include "connection/target.hpp"
#include "connection/transport.hpp"
#include "discovery/printer_search.hpp"
#include "plans/plan.hpp"
#include "plans/profile.hpp"

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

// `apply PROFILE [--dry-run] [--jobs N] [--timeout SECONDS] [--json] [--targets FILE] TARGET...`:
// one profile to many printers. The profile is read and checked whole while parsing.
// Enough printers at once that a hundred take the time of one (each waits most of its time on
// the profile's own spacing), within the open-file limit.
inline constexpr int kDefaultJobs = 256;

struct ApplyRequest {
    bool dryRun = false;
    bool json = false;
    int jobs = kDefaultJobs; // TCP and serial targets at once
    // A printer that takes no data for this long fails (--timeout).
    std::chrono::milliseconds noProgressLimit = connection::Transport::kNoProgressLimit;
    plans::ProfilePlan plan;
    QString warning; // the profile file can be read by others
    std::vector<connection::Target> targets;
};

// `profile check PROFILE`.
struct ProfileCheckRequest {
    std::string path;
};

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

using Invocation = std::variant<SendRequest, DecodeRequest, HelpRequest, ListRequest, ApplyRequest,
                                ProfileCheckRequest, CommandLineError>;

Invocation parseCommandLine(const std::vector<std::string>& arguments);

std::string usageText();

} // namespace printerctl
