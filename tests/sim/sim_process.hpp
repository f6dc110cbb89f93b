#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sim_testing {

using namespace std::chrono_literals;

// Generous: the sanitizer build is several times slower, and a pass never waits this long.
inline constexpr std::chrono::milliseconds kWaitLimit = 15s;

using LineMatch = std::function<bool(const std::string& line)>;

// A running printer-sim whose standard output is read line by line while it runs. The
// constructor returns once the first line (where it listens) is there.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& arguments);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    std::uint16_t firstPort() const { return firstPort_; }
    std::uint16_t lastPort() const { return lastPort_; }
    const std::string& listeningLine() const { return listeningLine_; }

    // The first `count` lines after the listening line that match, in output order; fewer
    // when the output ends or the time limit passes first.
    std::vector<std::string> waitForLines(const LineMatch& match, std::size_t count,
                                          std::chrono::milliseconds limit = kWaitLimit);
    std::optional<std::string> waitForLine(const LineMatch& match,
                                           std::chrono::milliseconds limit = kWaitLimit);
    const std::vector<std::string>& lines() const { return lines_; }

    void sendSignal(int signalNumber) const;
    // Exit status, -1 when killed by a signal, nothing when still running at the limit.
    std::optional<int> waitForExit(std::chrono::milliseconds limit = kWaitLimit);
    const std::string& errorOutput() const { return errors_; }

private:
    // Reads what is there, waiting until `deadline` for something; false once both outputs end.
    bool readSome(std::chrono::steady_clock::time_point deadline);
    void takeCompleteLines();
    void stop(); // kills the process if it still runs, and releases everything

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int pidFd_ = -1;
    bool outOpen_ = true;
    bool errOpen_ = true;
    std::string partial_;
    std::string errors_;
    std::vector<std::string> lines_; // without the listening line
    std::string listeningLine_;
    std::uint16_t firstPort_ = 0;
    std::uint16_t lastPort_ = 0;
    std::optional<int> exitStatus_;
};

// Matches lines that contain every one of `parts`.
LineMatch containing(std::vector<std::string> parts);

// The readable line the sim prints for `text` on `printer` from `peer`.
inline std::string printerLine(int printer, const std::string& peer, const std::string& text) {
    return "printer " + std::to_string(printer) + " \u00B7 " + peer + " \u00B7 " + text;
}
inline LineMatch exactly(std::string expected) {
    return [expected = std::move(expected)](const std::string& line) { return line == expected; };
}

} // namespace sim_testing
