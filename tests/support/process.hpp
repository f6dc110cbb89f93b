#pragma once

#include "tests/support/wait_limit.hpp"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Our executables as a user runs them: a child process whose output is read through a pipe
// while it runs.
namespace testing_support {

using namespace std::chrono_literals;

using LineMatch = std::function<bool(const std::string& line)>;
// Matches lines that contain every one of `parts`.
LineMatch containing(std::vector<std::string> parts);
LineMatch exactly(std::string expected);

class ChildProcess {
public:
    // Starts `program` with `input` as its whole standard input.
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& input = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first `count` output lines that match, in order; fewer when the output ends or the
    // limit passes first.
    std::vector<std::string> waitForLines(const LineMatch& match, std::size_t count,
                                          std::chrono::milliseconds limit = kWaitLimit);
    std::optional<std::string> waitForLine(const LineMatch& match,
                                           std::chrono::milliseconds limit = kWaitLimit);
    // Removes the first line from lines() and returns it (empty when none came in time).
    std::string takeFirstLine(std::chrono::milliseconds limit = kWaitLimit);

    const std::vector<std::string>& lines() const { return lines_; }
    const std::string& output() const { return output_; }
    std::string errorOutput() const; // all the child wrote there so far

    void sendSignal(int signalNumber) const;
    // Exit status, -1 when killed by a signal, nothing when still running at the limit.
    std::optional<int> waitForExit(std::chrono::milliseconds limit = kWaitLimit);

private:
    // Reads what is there, waiting until `deadline` for something; false once the output ends.
    bool readSome(std::chrono::steady_clock::time_point deadline);
    void stop();

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int pidFd_ = -1;
    bool outOpen_ = true;
    std::string output_;
    std::size_t lineStart_ = 0; // where the next incomplete line of output_ begins
    std::vector<std::string> lines_;
    std::optional<int> exitStatus_;
};

struct ProcessResult {
    int exitCode = -1; // -1: did not exit normally
    std::string out;
    std::string err;
};

// Runs a program to completion with `input` on its standard input, collecting both outputs.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input = {});

} // namespace testing_support
