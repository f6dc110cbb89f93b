// printerctl --tcp against socat, a TCP peer nobody here wrote: the bytes that arrive are exactly
// the bytes --dry-run prints, for every kind of command.
#include "tests/support/command_kinds.hpp"
#include "tests/support/loopback.hpp"
#include "tests/support/process.hpp"
#include "tools/printerctl/hex_input.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace testing_support;

namespace {

// socat accepting one connection on a free loopback port and writing what arrives to a file.
class SocatCapture {
public:
    explicit SocatCapture(const std::string& file) : file_(file) {
        port_ = freePort();
        const std::string listen =
            "TCP-LISTEN:" + std::to_string(port_) + ",bind=127.0.0.1,reuseaddr";
        const std::string output = "OPEN:" + file + ",creat,trunc";
        const char* argv[] = {"socat", "-u", listen.c_str(), output.c_str(), nullptr};
        if (posix_spawnp(&pid_, "socat", nullptr, nullptr, const_cast<char**>(argv), environ) !=
            0) {
            pid_ = -1;
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!isListening(port_) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1)); // poll, bounded above
        }
    }
    ~SocatCapture() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool ready() const { return pid_ > 0 && isListening(port_); }
    std::uint16_t port() const { return port_; }
    // Waits for socat to finish (the sender closed), then returns what it wrote.
    std::string captured() {
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        std::ifstream in(file_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string file_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

TEST(PrinterctlTcp, SocatReceivesExactlyTheDryRunBytes) {
    char dirPattern[] = "/tmp/printerctl-e2e-XXXXXX";
    const std::string dir = mkdtemp(dirPattern);
    const auto write = [&](const std::string& name, const std::string& content) {
        std::ofstream(dir + "/" + name, std::ios::binary) << content;
        return dir + "/" + name;
    };
    const auto der = write("device.crt", std::string("\x30\x82\x01\x0a\xff", 5));
    const auto pem =
        write("ca.pem", "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n");

    auto commands = testing_support::everyCommandKind();
    commands.push_back({"mqtt", "tls", "one-way", der});
    commands.push_back({"mqtt", "tls", "mutual", der, pem, der, "--password", "pw"});
    for (const auto& command : commands) {
        auto dry = command;
        dry.insert(dry.begin(), "--dry-run");
        const auto expected = printerctl::parseHexText(runProcess(PRINTERCTL_PATH, dry).out).bytes;
        ASSERT_FALSE(expected.empty());

        SocatCapture socat(dir + "/captured.bin");
        ASSERT_TRUE(socat.ready()) << "socat did not start";
        auto send = command;
        send.insert(send.begin(),
                    {std::string("--tcp"), "127.0.0.1:" + std::to_string(socat.port())});
        const auto result = runProcess(PRINTERCTL_PATH, send);
        EXPECT_EQ(result.exitCode, 0) << command[0] << ": " << result.err;
        EXPECT_TRUE(result.out.starts_with("Network printer connected successfully\n"))
            << result.out;
        const auto captured = socat.captured();
        EXPECT_EQ(std::vector<std::uint8_t>(captured.begin(), captured.end()), expected)
            << command[0];
    }
    std::filesystem::remove_all(dir);
}

TEST(PrinterctlTcp, ConsoleLinesMatchTheScreens) {
    char path[] = "/tmp/printerctl-console-XXXXXX";
    const int fd = mkstemp(path);
    close(fd);
    SocatCapture socat(path);
    ASSERT_TRUE(socat.ready());
    const auto result = runProcess(PRINTERCTL_PATH, {std::string("--tcp"),
                                                     "127.0.0.1:" + std::to_string(socat.port()),
                                                     "ip", "ethernet", "dhcp"});
    EXPECT_EQ(result.out, "Network printer connected successfully\n"
                          "发送IP设置命令: 1F 28 0F 05 00 1F 49 00 00 56\n");
    socat.captured();
    unlink(path);
}

TEST(PrinterctlTcp, RefusedConnectionExits1WithTheAlert) {
    const auto result = runProcess(
        PRINTERCTL_PATH, {std::string("--tcp"), "127.0.0.1:" + std::to_string(freePort()), "test"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.starts_with("Connection failed: ")) << result.err;
    EXPECT_NE(result.out.find("Connection failed: "), std::string::npos);
}

} // namespace
