// printerctl as a user runs it, on a machine whose bluetoothd is the fake: a scan lists the
// printer, and every kind of command reaches it as exactly the bytes --dry-run prints.
#include "tests/ble/fake_bluez.hpp"
#include "tests/support/command_kinds.hpp"
#include "tests/support/process.hpp"
#include "tools/printerctl/hex_input.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ble_testing {
namespace {

using testing_support::runProcess;

const char* const kPrinter = "AA:BB:CC:DD:EE:01";

class PrinterctlBleTest : public testing::Test {
protected:
    void SetUp() override {
        fake.addAdvertiser(kPrinter, "Counter Printer", -45, 0x434B, QByteArray::fromHex("0102A0"));
        fake.addAdvertiser("AA:BB:CC:DD:EE:02", "Headphones", -70, 0x004C,
                           QByteArray::fromHex("1005"));
    }

    FakeBluez fake;
};

TEST_F(PrinterctlBleTest, ListShowsThePrinter) {
    testing_support::ChildProcess listing(PRINTERCTL_PATH, {"list", "ble", "--seconds", "1"});
    EXPECT_EQ(listing.waitForExit(), 0) << listing.errorOutput();
    EXPECT_EQ(listing.output(), std::string(kPrinter) + "\tCounter Printer\t-45\n");
}

TEST_F(PrinterctlBleTest, PrinterReceivesExactlyTheDryRunBytes) {
    const auto& commands = testing_support::everyCommandKind();
    std::size_t seen = 0;
    for (const auto& command : commands) {
        SCOPED_TRACE(command[0]);
        auto dry = command;
        dry.insert(dry.begin(), "--dry-run");
        const auto expected = printerctl::parseHexText(runProcess(PRINTERCTL_PATH, dry).out).bytes;
        ASSERT_FALSE(expected.empty());

        auto send = command;
        send.insert(send.begin(), {"--ble", kPrinter});
        const auto result = runProcess(PRINTERCTL_PATH, send);
        EXPECT_EQ(result.exitCode, 0) << result.err;

        const auto writes = fake.writes();
        protocol::Bytes received;
        for (std::size_t i = seen; i < writes.size(); ++i) {
            EXPECT_LE(writes[i].value.size(), 128);
            EXPECT_EQ(writes[i].type, "request");
            received.insert(received.end(), writes[i].value.begin(), writes[i].value.end());
        }
        seen = writes.size();
        EXPECT_EQ(received, expected);
    }
}

} // namespace
} // namespace ble_testing
