#include "tools/printer-sim/sim_options.hpp"

#include <gtest/gtest.h>

using printer_sim::OptionError;
using printer_sim::parseOptions;
using printer_sim::SimOptions;

namespace {

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

} // namespace
