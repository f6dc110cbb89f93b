// printerctl as a user runs it, on a machine whose bluetoothd is the fake: a scan lists the
// printer only, and every kind of command reaches it as exactly the bytes --dry-run prints, in
// writes with response of at most 128 bytes.
#include "tests/ble/fake_bluez.hpp"
#include "tests/support/command_kinds.hpp"
#include "tests/support/process.hpp"
#include "tools/printerctl/hex_input.hpp"

#include <gtest/gtest.h>

namespace ble_testing {
namespace {

using testing_support::runProcess;

TEST(PrinterctlBle, ListsThePrinterAndItReceivesExactlyTheDryRunBytes) {
    const std::string printer = "AA:BB:CC:DD:EE:01";
    FakeBluez fake;
    fake.addAdvertiser(QString::fromStdString(printer), "Counter Printer", -45, 0x434B,
                       QByteArray::fromHex("0102A0"));
    fake.addAdvertiser("AA:BB:CC:DD:EE:02", "Headphones", -70, 0x004C, QByteArray::fromHex("1005"));
    const auto listing = runProcess(PRINTERCTL_PATH, {"list", "ble", "--seconds", "1"});
    EXPECT_EQ(listing.exitCode, 0) << listing.err;
    EXPECT_EQ(listing.out, printer + "\tCounter Printer\t-45\n");

    std::size_t seen = 0;
    for (const auto& command : testing_support::everyCommandKind()) {
        SCOPED_TRACE(command[0]);
        auto dry = command;
        dry.insert(dry.begin(), "--dry-run");
        const auto expected = printerctl::parseHexText(runProcess(PRINTERCTL_PATH, dry).out).bytes;
        ASSERT_FALSE(expected.empty());
        auto send = command;
        send.insert(send.begin(), {"--ble", printer});
        const auto result = runProcess(PRINTERCTL_PATH, send);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const auto writes = fake.writes();
        protocol::Bytes received;
        for (; seen < writes.size(); ++seen) {
            EXPECT_LE(writes[seen].size(), 128);
            received.insert(received.end(), writes[seen].begin(), writes[seen].end());
        }
        EXPECT_EQ(received, expected);
    }
}

} // namespace
} // namespace ble_testing
