#include "tools/printer-sim/sim_options.hpp"

#include <gtest/gtest.h>

using printer_sim::OptionError;
using printer_sim::parseOptions;
using printer_sim::SimOptions;

namespace {

TEST(SimOptions, DefaultsToOnePrinterOnTheRawPrintingPortOfLoopback) {
    const auto parsed = parseOptions({});
    ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed));
    const auto& options = std::get<SimOptions>(parsed);
    EXPECT_EQ(options.host, "127.0.0.1");
    EXPECT_EQ(options.port, 9100);
    EXPECT_EQ(options.printers, 1);
    EXPECT_FALSE(options.json || options.showSecrets || options.dumpState || options.help);
}

TEST(SimOptions, ListenAddressForms) {
    struct Case {
        std::vector<std::string> arguments;
        std::string host;
        int port;
    };
    const std::vector<Case> cases = {
        {{"--listen", "127.0.0.1:0"}, "127.0.0.1", 0},
        {{"--listen=127.0.0.2:9200"}, "127.0.0.2", 9200},
        {{"--listen", "localhost:65535"}, "127.0.0.1", 65535},
        {{"--listen", "[::1]:9100"}, "::1", 9100},
        {{"--listen", "0.0.0.0:1"}, "0.0.0.0", 1},
        // The last one given wins, as with most tools.
        {{"--listen", "127.0.0.1:1", "--listen", "127.0.0.1:2"}, "127.0.0.1", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const auto parsed = parseOptions(c.arguments);
        ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed))
            << std::get<OptionError>(parsed).message;
        EXPECT_EQ(std::get<SimOptions>(parsed).host, c.host);
        EXPECT_EQ(std::get<SimOptions>(parsed).port, c.port);
    }
}

TEST(SimOptions, FlagsAndPrinterCount) {
    const auto parsed = parseOptions(
        {"--json", "--printers=256", "--show-secrets", "--dump-state", "--listen", "127.0.0.1:0"});
    ASSERT_TRUE(std::holds_alternative<SimOptions>(parsed));
    const auto& options = std::get<SimOptions>(parsed);
    EXPECT_TRUE(options.json && options.showSecrets && options.dumpState);
    EXPECT_EQ(options.printers, 256);
    EXPECT_FALSE(options.help);
}

TEST(SimOptions, AFleetMustFitBelowThePortLimit) {
    EXPECT_TRUE(std::holds_alternative<SimOptions>(
        parseOptions({"--listen", "127.0.0.1:65533", "--printers", "3"})));
    EXPECT_TRUE(std::holds_alternative<OptionError>(
        parseOptions({"--listen", "127.0.0.1:65534", "--printers", "3"})));
    // Port 0 leaves the run to the system.
    EXPECT_TRUE(std::holds_alternative<SimOptions>(
        parseOptions({"--listen", "127.0.0.1:0", "--printers", "256"})));
}

} // namespace
