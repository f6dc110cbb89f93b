#include "tests/support/process.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace testing_support {

namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

std::runtime_error failure(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// An in-memory file holding `content`: the child's input never waits on us to feed a pipe, and
// its error output never fills one.
int memoryFile(const std::string& content) {
    const int fd = memfd_create("child", MFD_CLOEXEC);
    if (fd < 0 ||
        write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        throw failure("memfd");
    }
    return fd;
}

} // namespace

LineMatch containing(std::vector<std::string> parts) {
    return [parts = std::move(parts)](const std::string& line) {
        return std::ranges::all_of(
            parts, [&](const auto& part) { return line.find(part) != std::string::npos; });
    };
}

LineMatch exactly(std::string expected) {
    return [expected = std::move(expected)](const std::string& line) { return line == expected; };
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& input) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        throw failure("pipe");
    }
    const int in = memoryFile(input);
    errFd_ = memoryFile({});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errFd_, 2);
    // posix_spawn takes char* for historical reasons; it does not write through them.
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    pid_ = spawned == 0 ? pid_ : -1;
    close(in);
    close(out[1]);
    outFd_ = out[0];
    // Readable once the child has exited, so waiting for the exit needs no timer.
    pidFd_ = spawned == 0 ? static_cast<int>(syscall(SYS_pidfd_open, pid_, 0)) : -1;
    if (pidFd_ < 0) {
        const auto error =
            spawned != 0
                ? std::runtime_error("cannot start " + program + ": " + std::strerror(spawned))
                : failure("pidfd_open");
        stop();
        throw error;
    }
}

ChildProcess::~ChildProcess() {
    stop();
}

void ChildProcess::stop() {
    if (pid_ > 0 && !exitStatus_) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    for (const int fd : {pidFd_, outFd_, errFd_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::string ChildProcess::errorOutput() const {
    struct stat file {};
    fstat(errFd_, &file);
    std::string text(static_cast<std::size_t>(file.st_size), '\0');
    const auto n = pread(errFd_, text.data(), text.size(), 0);
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return text;
}

bool ChildProcess::readSome(std::chrono::steady_clock::time_point deadline) {
    pollfd readable{outFd_, POLLIN, 0};
    if (!outOpen_ || (poll(&readable, 1, remainingMs(deadline)) < 0 && errno != EINTR)) {
        return false;
    }
    char buffer[65536];
    if (readable.revents != 0) {
        const auto n = read(outFd_, buffer, sizeof buffer);
        if (n > 0) {
            output_.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            outOpen_ = false;
        }
    }
    for (auto end = output_.find('\n', lineStart_); end != std::string::npos;
         end = output_.find('\n', lineStart_)) {
        lines_.push_back(output_.substr(lineStart_, end - lineStart_));
        lineStart_ = end + 1;
    }
    return outOpen_ && remainingMs(deadline) > 0;
}

std::vector<std::string> ChildProcess::waitForLines(const LineMatch& match, std::size_t count,
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

std::optional<std::string> ChildProcess::waitForLine(const LineMatch& match,
                                                     std::chrono::milliseconds limit) {
    auto found = waitForLines(match, 1, limit);
    return found.empty() ? std::nullopt : std::optional(found.front());
}

std::string ChildProcess::takeFirstLine(std::chrono::milliseconds limit) {
    const auto first = waitForLine([](const std::string&) { return true; }, limit);
    if (first) {
        lines_.erase(lines_.begin());
    }
    return first.value_or("");
}

void ChildProcess::sendSignal(int signalNumber) const {
    if (!exitStatus_) {
        kill(pid_, signalNumber);
    }
}

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds limit) {
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

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& arguments,
                         const std::string& input) {
    ChildProcess child(program, arguments, input);
    const auto status = child.waitForExit(std::chrono::minutes(2));
    return {status.value_or(-1), child.output(), child.errorOutput()};
}

} // namespace testing_support
