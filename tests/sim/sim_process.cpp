#include "tests/sim/sim_process.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sim_testing {

namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

SimProcess::SimProcess(const std::vector<std::string>& arguments) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::string program = PRINTER_SIM_PATH;
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies(arguments);
    for (auto& a : copies) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (spawned != 0) {
        close(outFd_);
        close(errFd_);
        throw std::runtime_error("cannot start printer-sim: " +
                                 std::string(std::strerror(spawned)));
    }
    // Readable once the child has exited: lets waitForExit wait without polling on a timer.
    // Through syscall(): the C library header of this release declares it without C linkage.
    pidFd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    if (pidFd_ < 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        close(outFd_);
        close(errFd_);
        throw std::runtime_error("pidfd_open failed: " + std::string(std::strerror(errno)));
    }

    const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
    while (lines_.empty() && readSome(deadline)) {
    }
    if (lines_.empty()) {
        stop();
        throw std::runtime_error("printer-sim printed no first line; stderr: " + errors_);
    }
    listeningLine_ = lines_.front();
    lines_.erase(lines_.begin());
    static const std::regex form(
        R"(printer-sim listening on 127\.0\.0\.1:(\d+)(?:-(\d+) \((\d+) printers\))?)");
    std::smatch found;
    if (!std::regex_match(listeningLine_, found, form)) {
        stop();
        throw std::runtime_error("unexpected first line: " + listeningLine_);
    }
    firstPort_ = static_cast<std::uint16_t>(std::stoi(found[1]));
    lastPort_ = found[2].matched ? static_cast<std::uint16_t>(std::stoi(found[2])) : firstPort_;
}

SimProcess::~SimProcess() {
    stop();
}

void SimProcess::stop() {
    if (pid_ < 0) {
        return;
    }
    if (!exitStatus_) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    close(pidFd_);
    close(outFd_);
    close(errFd_);
    pid_ = -1;
}

bool SimProcess::readSome(std::chrono::steady_clock::time_point deadline) {
    if (!outOpen_ && !errOpen_) {
        return false;
    }
    pollfd fds[2] = {{outOpen_ ? outFd_ : -1, POLLIN, 0}, {errOpen_ ? errFd_ : -1, POLLIN, 0}};
    if (poll(fds, 2, remainingMs(deadline)) < 0 && errno != EINTR) {
        return false;
    }
    char buffer[8192];
    for (int k = 0; k < 2; ++k) {
        if (fds[k].fd < 0 || (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
            continue;
        }
        const auto n = read(fds[k].fd, buffer, sizeof buffer);
        if (n > 0) {
            (k == 0 ? partial_ : errors_).append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            (k == 0 ? outOpen_ : errOpen_) = false;
        }
    }
    takeCompleteLines();
    return (outOpen_ || errOpen_) && remainingMs(deadline) > 0;
}

void SimProcess::takeCompleteLines() {
    std::size_t start = 0;
    for (auto end = partial_.find('\n'); end != std::string::npos;
         end = partial_.find('\n', start)) {
        lines_.push_back(partial_.substr(start, end - start));
        start = end + 1;
    }
    partial_.erase(0, start);
}

std::vector<std::string> SimProcess::waitForLines(const LineMatch& match, std::size_t count,
                                                  std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<std::string> found;
    std::size_t checked = 0;
    while (true) {
        for (; checked < lines_.size() && found.size() < count; ++checked) {
            if (match(lines_[checked])) {
                found.push_back(lines_[checked]);
            }
        }
        if (found.size() == count || !readSome(deadline)) {
            return found;
        }
    }
}

std::optional<std::string> SimProcess::waitForLine(const LineMatch& match,
                                                   std::chrono::milliseconds limit) {
    auto found = waitForLines(match, 1, limit);
    if (found.empty()) {
        return std::nullopt;
    }
    return found.front();
}

void SimProcess::sendSignal(int signalNumber) const {
    if (!exitStatus_) {
        kill(pid_, signalNumber);
    }
}

std::optional<int> SimProcess::waitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    // Reading to the end also keeps a full pipe from blocking the process on its way out.
    while (readSome(deadline)) {
    }
    if (!exitStatus_) {
        pollfd exited{pidFd_, POLLIN, 0};
        while (poll(&exited, 1, remainingMs(deadline)) < 0 && errno == EINTR) {
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    return exitStatus_;
}

LineMatch containing(std::vector<std::string> parts) {
    return [parts = std::move(parts)](const std::string& line) {
        for (const auto& part : parts) {
            if (line.find(part) == std::string::npos) {
                return false;
            }
        }
        return true;
    };
}

} // namespace sim_testing
