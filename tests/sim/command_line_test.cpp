// How printer-sim starts, or refuses to: options and ports it cannot have.
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

using testing_support::runProcess;

namespace {

// A port held by a listening socket of our own, for as long as the object lives.
class OccupiedPort {
public:
    OccupiedPort() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(fd_, 1) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot occupy a port");
        }
        port_ = ntohs(address.sin_port);
    }
    ~OccupiedPort() { close(fd_); }
    int port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST(SimCommandLine, BadOptionsExitWithStatusTwoAndSayWhy) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus"},
        {"stray"},
        {"--listen"},
        {"--listen", "127.0.0.1"},
        {"--listen", "127.0.0.1:65536"},
        {"--listen", "127.0.0.1:-1"},
        {"--listen", "127.0.0.1:80x"},
        {"--listen", "printer.example:9100"},
        {"--listen", "127.0.0.1:65535", "--printers", "2"},
        {"--printers", "0"},
        {"--printers", "three"},
        {"--printers", "100000"},
        {"--json=yes"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.back());
        const auto result = runProcess(PRINTER_SIM_PATH, arguments);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_TRUE(result.err.starts_with("printer-sim: ")) << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST(SimCommandLine, HelpListsEveryOption) {
    const auto result = runProcess(PRINTER_SIM_PATH, {"--help"});
    EXPECT_EQ(result.exitCode, 0);
    for (const auto* option :
         {"--listen", "--printers", "--json", "--show-secrets", "--dump-state", "SIGUSR1"}) {
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
}

TEST(SimCommandLine, APortThatIsTakenExitsWithStatusOne) {
    const OccupiedPort taken;
    const auto port = std::to_string(taken.port());
    // Alone, and as the second port of a fleet: either way the sim must not start half a fleet.
    const std::vector<std::vector<std::string>> cases = {
        {"--listen", "127.0.0.1:" + port},
        {"--listen", "127.0.0.1:" + std::to_string(taken.port() - 1), "--printers", "2"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments[1]);
        const auto result = runProcess(PRINTER_SIM_PATH, arguments);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("cannot listen on 127.0.0.1:"), std::string::npos) << result.err;
        EXPECT_EQ(result.out, "");
    }
    const auto alone = runProcess(PRINTER_SIM_PATH, cases[0]);
    EXPECT_NE(alone.err.find("127.0.0.1:" + port), std::string::npos) << alone.err;
}

} // namespace
