// printerctl --tcp against socat, a TCP peer nobody here wrote: the bytes that arrive are exactly
// the bytes --dry-run prints, for every kind of command. (A refused connection: the network
// manager's own tests give its alert, and the sim's serial test printerctl's exit status 1.)
#include "tests/support/command_kinds.hpp"
#include "tests/support/process.hpp"
#include "tools/printerctl/hex_input.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

using namespace testing_support;

namespace {

// printerctl sends `command` to socat, which listens on a free loopback port, says which, writes
// what arrives to `file` and ends with the connection. What printerctl did, and what arrived.
std::pair<ProcessResult, protocol::Bytes> sendToSocat(std::vector<std::string> command,
                                                      const std::string& file) {
    ChildProcess socat(SOCAT_PATH,
                       {"-d", "-d", "-lf", "/dev/stdout", "-u", "TCP-LISTEN:0,bind=127.0.0.1",
                        "OPEN:" + file + ",creat,trunc"});
    const auto listening = socat.waitForLine(containing({" listening on "}));
    EXPECT_TRUE(listening) << socat.errorOutput();
    const auto port = listening ? listening->substr(listening->rfind(':') + 1) : "0";
    command.insert(command.begin(), {"--tcp", "127.0.0.1:" + port});
    const auto printerctl = runProcess(PRINTERCTL_PATH, command);
    EXPECT_EQ(socat.waitForExit(), 0) << socat.errorOutput();
    std::ifstream in(file, std::ios::binary);
    return {printerctl, protocol::Bytes(std::istreambuf_iterator<char>(in), {})};
}

TEST(PrinterctlTcp, SocatReceivesExactlyTheDryRunBytes) {
    char pattern[] = "/tmp/printerctl-e2e-XXXXXX";
    const std::string dir = mkdtemp(pattern);
    const std::string der = dir + "/device.crt", pem = dir + "/ca.pem";
    std::ofstream(der, std::ios::binary) << std::string("\x30\x82\x01\x0a\xff", 5);
    std::ofstream(pem) << "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n";
    auto commands = everyCommandKind();
    commands.push_back({"mqtt", "tls", "one-way", der});
    commands.push_back({"mqtt", "tls", "mutual", der, pem, der, "--password", "pw"});
    for (const auto& command : commands) {
        auto dryRun = command;
        dryRun.insert(dryRun.begin(), "--dry-run");
        const auto expected =
            printerctl::parseHexText(runProcess(PRINTERCTL_PATH, dryRun).out).bytes;
        ASSERT_FALSE(expected.empty());
        const auto [printerctl, received] = sendToSocat(command, dir + "/received.bin");
        EXPECT_EQ(printerctl.exitCode, 0) << command[0] << ": " << printerctl.err;
        EXPECT_TRUE(printerctl.out.starts_with("Network printer connected successfully\n"))
            << printerctl.out;
        EXPECT_EQ(received, expected) << command[0];
    }
    // The console lines are the screens': the IP screen's once the bytes are handed over.
    EXPECT_EQ(sendToSocat({"ip", "ethernet", "dhcp"}, dir + "/received.bin").first.out,
              "Network printer connected successfully\n"
              "发送IP设置命令: 1F 28 0F 05 00 1F 49 00 00 56\n");
    std::filesystem::remove_all(dir);
}

} // namespace
