// How printer-sim starts, or refuses to: options and ports it cannot have.
#include "tests/support/loopback.hpp"
#include "tests/support/process.hpp"

#include <gtest/gtest.h>

using testing_support::runProcess;

namespace {

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
    const testing_support::ListeningSocket taken;
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
