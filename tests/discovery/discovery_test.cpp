// Discovery against real parts: the subnet, merge and escape rules alone, then the probe,
// printerctl and the window's list inside the lab that lab.sh builds (network namespaces with
// printer-sim instances, a closed port, silent and slow addresses, a tunnel, a container bridge
// and two Avahi daemons, one announcing what a hostile network would). Without the lab, the
// lab's tests skip with its reason.
#include "discovery/escaped_text.hpp"
#include "discovery/printer_search.hpp"
#include "tests/support/process.hpp"
#include "ui/content_view_model.hpp"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <sched.h>
#include <set>
#include <sstream>
#include <unistd.h>

using namespace std::chrono_literals;
using discovery::Source;

namespace {

std::string labUnavailable() {
    if (qEnvironmentVariableIsSet("LAB_UNAVAILABLE")) {
        return qEnvironmentVariable("LAB_UNAVAILABLE").toStdString();
    }
    return qEnvironmentVariableIsSet("LAB_SUBNET") ? "" : "not run by tests/discovery/lab.sh";
}

#define REQUIRE_LAB()                                                                              \
    if (const auto why = labUnavailable(); !why.empty())                                           \
    GTEST_SKIP() << "no discovery lab: " << why

std::set<std::string> words(const char* variable) {
    std::set<std::string> set;
    for (const auto& word :
         qEnvironmentVariable(variable).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        set.insert(word.toStdString());
    }
    return set;
}

std::set<std::string> endpoints(const std::vector<discovery::FoundPrinter>& printers) {
    std::set<std::string> set;
    for (const auto& printer : printers) {
        set.insert(printer.endpoint().toStdString());
    }
    return set;
}

TEST(Subnets, ParsedAndExpanded) {
    struct Row {
        const char* text;
        bool valid;
        const char* network = ""; // after the host bits are cleared
        std::size_t hosts = 0;
        const char* first = "";
        const char* last = "";
    };
    const Row rows[] = {
        {"192.168.1.77/24", true, "192.168.1.0/24", 254, "192.168.1.1", "192.168.1.254"},
        {"10.0.0.0/16", true, "10.0.0.0/16", 65534, "10.0.0.1", "10.0.255.254"},
        {"10.0.0.9/30", true, "10.0.0.8/30", 2, "10.0.0.9", "10.0.0.10"},
        {"10.0.0.9/31", true, "10.0.0.8/31", 2, "10.0.0.8", "10.0.0.9"},
        {"10.0.0.9/32", true, "10.0.0.9/32", 1, "10.0.0.9", "10.0.0.9"},
        {"10.0.0.0/33", false},
        {"10.0.0.0/", false},
        {"10.0.0.0/-1", false},
        {"10.0/8", false},
        {"10.0.0.0/8x", false},
        {"10.0.0.256/24", false},
        {"::1/128", false},
        {"10.0.0.0", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto subnet = discovery::parseSubnet(row.text);
        ASSERT_EQ(subnet.has_value(), row.valid);
        if (!row.valid) {
            continue;
        }
        EXPECT_EQ(subnet->text().toStdString(), row.network);
        const auto hosts = discovery::hostAddresses(*subnet);
        ASSERT_EQ(hosts.size(), row.hosts);
        EXPECT_EQ(hosts.front().toString().toStdString(), row.first);
        EXPECT_EQ(hosts.back().toString().toStdString(), row.last);
    }
}

TEST(EscapedText, ANameStaysOneFieldOfOneLine) {
    const std::pair<const char*, const char*> rows[] = {
        {"Front Counter \xE2\x98\x95", "Front Counter \xE2\x98\x95"},
        {"a\\b\tc\nd\re", "a\\\\b\\tc\\nd\\re"},
        {"\x1B]0;x\x07\x7F", "\\u001B]0;x\\u0007\\u007F"},
        {"\xC2\x85\xC2\x9F\xC2\xA0\xE2\x80\xA8", "\\u0085\\u009F\xC2\xA0\\u2028"},
    };
    for (const auto& [raw, shown] : rows) {
        EXPECT_EQ(discovery::escapedText(QString::fromUtf8(raw)).toStdString(), shown);
    }
}

TEST(FoundPrinters, MergedByAddressAndPort) {
    discovery::FoundPrinters found;
    const QHostAddress a(QStringLiteral("10.0.0.7")), b(QStringLiteral("10.0.0.8"));
    struct Row {
        QHostAddress address;
        quint16 port;
        Source source;
        const char* name;
        int change; // -1 nothing new, else 1 added / 0 changed
        std::size_t index;
        const char* line; // the printer afterwards
    };
    const Row rows[] = {
        {a, 9100, Source::probe, "", 1, 0, "10.0.0.7:9100||probe"},
        {a, 9100, Source::probe, "", -1, 0, "10.0.0.7:9100||probe"},
        {a, 515, Source::mdns, "Back", 1, 1, "10.0.0.7:515|Back|mdns"},
        {a, 9100, Source::mdns, "Front", 0, 0, "10.0.0.7:9100|Front|mdns,probe"},
        {a, 9100, Source::probe, "", -1, 0, "10.0.0.7:9100|Front|mdns,probe"},
        {b, 9100, Source::mdns, "Side", 1, 2, "10.0.0.8:9100|Side|mdns"},
    };
    for (const auto& row : rows) {
        const auto change =
            found.add(row.address, row.port, row.source, QString::fromUtf8(row.name));
        ASSERT_EQ(change.has_value(), row.change >= 0) << row.line;
        if (change) {
            EXPECT_EQ(change->added, row.change == 1);
            EXPECT_EQ(change->index, row.index);
        }
        const auto& printer = found.printers()[row.index];
        EXPECT_EQ(
            (printer.endpoint() + '|' + printer.name + '|' + printer.sourceText()).toStdString(),
            row.line);
    }
}

// Probes `subnet` with `concurrency` attempts at once and time-out T. Each address is tried
// once, and only silent ones end in a time-out: always those whose packets nftables drops (.30,
// and .40, the slow printer), and those nobody answers ARP for unless the kernel has given up on
// ARP first (it says "unreachable" after about 3 s, and earlier rows asked for some of them).
// The slow printer (first two SYNs dropped: it accepts after about 3 s) is named as late when it
// answers within the second time-out the probe waits for it.
TEST(PortProbe, FindsExactlyTheListeningPrintersAndSilenceCostsOneTimeoutEach) {
    REQUIRE_LAB();
    ASSERT_FALSE(qEnvironmentVariable("LAB_DROPPED").isEmpty()) << "nftables is needed here";
    struct Row {
        const char* subnet;
        int concurrency;
        std::chrono::milliseconds timeout;
        std::set<std::string> found;
        int dropped; // time-outs at least
        int silent;  // time-outs at most
        std::vector<QHostAddress> late;
    };
    const std::set<std::string> printers = words("LAB_PRINTERS");
    const Row rows[] = {
        // .9 .13 .14 silent, .10-.12 printers
        {"10.77.0.8/29", 1, 400ms, printers, 0, 3, {}},
        // .20 closed (refused), .21 silent
        {"10.77.0.20/31", 1, 400ms, {}, 0, 1, {}},
        {"10.77.0.30/32", 1, 400ms, {}, 1, 1, {}},
        // .1 is the host (refused), .2 the shop (refused), .20 closed, 24 silent, in one round
        {"10.77.0.0/27", 128, 400ms, printers, 1, 24, {}},
        {"10.77.0.40/32", 1, 400ms, {}, 1, 1, {}},
        {"10.77.0.40/32", 1, 2000ms, {}, 1, 1, {QHostAddress(QStringLiteral("10.77.0.40"))}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.subnet) + " " + std::to_string(row.timeout.count()) + " ms");
        discovery::PortProbe probe;
        std::vector<discovery::FoundPrinter> found;
        QObject::connect(&probe, &discovery::PortProbe::found,
                         [&](const QHostAddress& a, quint16 p) {
                             found.push_back({a, p, {}, Source::probe});
                         });
        QSignalSpy finished(&probe, &discovery::PortProbe::finished);
        probe.start(discovery::hostAddresses(*discovery::parseSubnet(row.subnet)),
                    {9100, row.timeout, row.concurrency});
        ASSERT_TRUE(finished.wait(60000));
        EXPECT_EQ(endpoints(found), row.found);
        EXPECT_GE(probe.timedOut(), row.dropped);
        EXPECT_LE(probe.timedOut(), row.silent);
        EXPECT_EQ(probe.tried(), probe.total());
        EXPECT_EQ(probe.answeredLate(), row.late);
        EXPECT_EQ(probe.failure().toStdString(), "");
    }
    // The probe sent no byte: each printer-sim saw connections come and go, and no command.
    for (const auto* host : {"10", "11", "12"}) {
        std::ifstream log(qEnvironmentVariable("LAB_WORK").toStdString() + "/sim-" + host + ".log");
        std::string line;
        int connections = 0;
        while (std::getline(log, line)) {
            const bool known = line.starts_with("printer-sim listening") ||
                               line.ends_with("· connected") || line.ends_with("· disconnected");
            EXPECT_TRUE(known) << "printer-sim decoded something: " << line;
            connections += line.ends_with("· connected");
        }
        EXPECT_GE(connections, 2) << "10.77.0." << host;
    }
}

using Lines = std::map<std::string, std::string>;

// printerctl list tcp's lines, the last one of each printer; `shell` runs before it in bash.
Lines listed(const std::vector<std::string>& arguments, int exitCode = 0,
             std::string* err = nullptr, const std::string& shell = "") {
    std::vector<std::string> words = {"-c", shell + "exec \"$0\" \"$@\"", PRINTERCTL_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const auto run = testing_support::runProcess("/bin/bash", words);
    EXPECT_EQ(run.exitCode, exitCode) << run.err;
    if (err) {
        *err = run.err;
    }
    Lines lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
        lines[line.substr(0, line.find('\t'))] = line;
    }
    return lines;
}

// What the lab's DNS-SD announces, as list tcp prints it: names escaped, the forged line one
// field, the off-subnet address marked; the IPv6-only and the loopback service left out.
Lines dnsSdLines() {
    Lines lines = {
        {"10.77.0.10:9100", "10.77.0.10:9100\tFront Counter\tmdns"},
        {"10.77.0.11:515", "10.77.0.11:515\tBack Office\tmdns"},
        {"10.77.0.12:9100", "10.77.0.12:9100\tEvil\\n10.66.6.6:9100\\tFake Printer\\tmdns,probe"
                            "\\u001B]0;x\\u0007\\r\\u0085\tmdns"},
        {"10.77.0.12:9101", "10.77.0.12:9101\t<img src=\"http://10.77.0.1:9/t.png\">\tmdns"},
        {"10.99.0.5:9100", "10.99.0.5:9100\tFar Away\tmdns\toff-subnet"},
    };
    for (int till = 1; till <= qEnvironmentVariableIntValue("LAB_TILLS"); ++till) {
        const auto endpoint = "10.77.0.12:" + std::to_string(10000 + till);
        lines[endpoint] =
            endpoint +
            QStringLiteral("\tTill %1\tmdns").arg(till, 3, 10, QLatin1Char('0')).toStdString();
    }
    return lines;
}

void expectSaidOnce(const std::string& err, const std::vector<std::string>& notices) {
    for (const auto& notice : notices) {
        const auto at = err.find(notice);
        EXPECT_NE(at, std::string::npos) << notice << " in: " << err;
        EXPECT_EQ(err.find(notice, at + 1), std::string::npos) << notice << " twice: " << err;
    }
}

TEST(PrinterctlListTcp, ProbeAndDnsSdMergedAsFound) {
    REQUIRE_LAB();
    ASSERT_FALSE(qEnvironmentVariable("LAB_AVAHI_PID").isEmpty()) << "the lab runs without Avahi";
    // DNS-SD names the printers at 10.77.0.10 and .12 that the probe also finds, and finds
    // services a probe of 9100 cannot.
    auto everything = dnsSdLines();
    everything["10.77.0.10:9100"] = "10.77.0.10:9100\tFront Counter\tmdns,probe";
    everything["10.77.0.11:9100"] = "10.77.0.11:9100\t\tprobe";
    auto& forged = everything["10.77.0.12:9100"];
    forged.replace(forged.rfind("\tmdns"), 5, "\tmdns,probe");
    const std::vector<std::string> leftOut = {"1 service gave no IPv4 address",
                                              "\"Loopback\" at 127.0.0.1:9100"};
    std::string err;
    EXPECT_EQ(listed({"list", "tcp"}, 0, &err), everything);
    expectSaidOnce(err, leftOut);
    EXPECT_EQ(listed({"list", "tcp", "--no-probe"}, 0, &err), dnsSdLines());
    expectSaidOnce(err, leftOut);
    // An explicit subnet replaces the connected ones; another port finds other listeners.
    EXPECT_EQ(listed({"list", "tcp", "--no-mdns", "--subnet", "10.77.0.11/32", "--subnet",
                      "10.77.0.16/28", "--timeout", "100"}),
              (Lines{{"10.77.0.11:9100", "10.77.0.11:9100\t\tprobe"}}));
    EXPECT_TRUE(
        listed({"list", "tcp", "--no-mdns", "--port", "9101", "--subnet", "10.77.0.8/29"}).empty());
}

// Each source that cannot search is said once, and the exit status says whether anything
// searched (0, found or not) or not (1), or the probe failed on this computer (1).
TEST(PrinterctlListTcp, WhatCouldNotSearchIsSaidOnce) {
    REQUIRE_LAB();
    ASSERT_FALSE(qEnvironmentVariable("LAB_AVAHI_PID").isEmpty()) << "the lab runs without Avahi";
    enum Avahi { running, absent, stopped };
    struct Row {
        const char* shell;
        Avahi avahi;
        std::vector<std::string> arguments;
        int exitCode;
        Lines lines;
        std::vector<std::string> said;
    };
    const Lines first = {{"10.77.0.10:9100", "10.77.0.10:9100\t\tprobe"}};
    Lines printers;
    for (const auto& printer : words("LAB_PRINTERS")) {
        printers[printer] = printer + "\t\tprobe";
    }
    const std::vector<std::string> probeOnly = {"--no-mdns", "--subnet", "10.77.0.0/24"};
    // clang-format off
    const Row rows[] = {
        {"", absent, {"--subnet", "10.77.0.8/30"}, 0, first,
         {"DNS-SD is not available", "; only the port probe looks for printers"}},
        {"", absent, {"--no-probe"}, 1, {}, {"DNS-SD is not available", "Nothing was searched"}},
        {"", stopped, {"--subnet", "10.77.0.8/30"}, 0, first, {"Avahi did not answer within 5 s"}},
        // The hard limit too: no descriptor left for most attempts.
        {"ulimit -n 64; ", running, probeOnly, 1, {}, {"Too many open files"}},
        // Only the soft limit: printerctl raises it to the hard one.
        {"ulimit -Sn 64; ", running, probeOnly, 0, printers, {}},
        {"", running, {"--no-mdns", "--subnet", "10.77.0.40/32", "--timeout", "2000"}, 0, {},
         {"after the 2000 ms time-out, not listed: 10.77.0.40; --timeout 4000 lists them"}},
    };
    // clang-format on
    const auto bus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    const auto avahi = qEnvironmentVariableIntValue("LAB_AVAHI_PID");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.shell + testing::PrintToString(row.arguments));
        if (row.avahi == absent) {
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        }
        if (row.avahi == stopped) {
            ASSERT_EQ(kill(avahi, SIGSTOP), 0);
        }
        std::vector<std::string> arguments = {"list", "tcp"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        std::string err;
        const auto lines = listed(arguments, row.exitCode, &err, row.shell);
        kill(avahi, SIGCONT);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus);
        EXPECT_EQ(lines, row.lines);
        expectSaidOnce(err, row.said);
    }
}

// The window's list holds what printerctl lists, and choosing a row fills the two fields.
TEST(WindowFindPrinters, ListsWhatPrinterctlListsAndChoosingFillsTheFields) {
    REQUIRE_LAB();
    const auto expected = listed({"list", "tcp"});
    ui::ContentViewModel view;
    auto& finder = *view.printerFinder();
    QSignalSpy finished(&finder, &ui::PrinterFinder::finished);
    finder.start();
    EXPECT_TRUE(finder.searching());
    ASSERT_TRUE(finished.wait(60000));
    Lines rows;
    for (int row = 0; row < finder.rowCount(); ++row) {
        const auto at = [&](ui::PrinterFinder::Role role) {
            return finder.data(finder.index(row), role).toString().toStdString();
        };
        const auto endpoint =
            at(ui::PrinterFinder::addressRole) + ":" + at(ui::PrinterFinder::portRole);
        rows[endpoint] = endpoint + "\t" + at(ui::PrinterFinder::nameRole) + "\t" +
                         at(ui::PrinterFinder::sourceRole) +
                         (finder.printerAt(row)->offSubnet ? "\toff-subnet" : "");
    }
    EXPECT_EQ(rows, expected);
    EXPECT_NE(finder.notice().indexOf(QStringLiteral("gave no IPv4 address")), -1);
    for (int row = 0; row < finder.rowCount(); ++row) {
        view.chooseFoundPrinter(row);
        EXPECT_EQ((view.ipAddress() + ':' + view.port()).toStdString(),
                  finder.printerAt(row)->endpoint().toStdString());
    }
}

// Connections of ours to port 9100 still being made or open (/proc/net/tcp of this namespace).
int probeConnectionsOpen() {
    std::ifstream table("/proc/net/tcp");
    int open = 0;
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        open += remote.ends_with(":238C") && (state == "01" || state == "02");
    }
    return open;
}

TEST(WindowFindPrinters, CancelStopsAtOnceAndKeepsWhatWasFound) {
    REQUIRE_LAB();
    ui::PrinterFinder finder;
    discovery::SearchOptions options;
    options.mdns = false;
    options.probeOptions.maxConcurrent = 1;
    finder.setOptions(options);
    finder.start();
    // One address at a time from 10.77.0.2: the three printers are among the first twelve.
    ASSERT_TRUE(QTest::qWaitFor([&] { return finder.tried() >= 12; }, 30000));
    ASSERT_GT(probeConnectionsOpen(), 0);
    finder.cancel();
    EXPECT_FALSE(finder.searching());
    EXPECT_EQ(finder.count(), 3);
    EXPECT_EQ(probeConnectionsOpen(), 0);
    const int tried = finder.tried();
    QCoreApplication::processEvents(); // whatever was already on its way
    EXPECT_EQ(finder.tried(), tried);
    EXPECT_EQ(finder.count(), 3);
}

// A computer without a network: the window keeps the search's notices, and the search says that
// nothing was searched. The test's thread moves into an empty network namespace of its own.
TEST(WindowFindPrinters, WithoutANetworkSaysSo) {
    REQUIRE_LAB();
    const int home = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(unshare(CLONE_NEWNET), 0) << std::strerror(errno);
    ui::PrinterFinder finder;
    discovery::SearchOptions options;
    options.mdns = false;
    finder.setOptions(options);
    QSignalSpy finished(&finder, &ui::PrinterFinder::finished);
    finder.start();
    const bool ended = finished.wait(60000);
    setns(home, CLONE_NEWNET);
    close(home);
    ASSERT_TRUE(ended);
    EXPECT_TRUE(finder.notice().startsWith(QStringLiteral("No directly connected IPv4 network")))
        << finder.notice().toStdString();
    EXPECT_NE(finder.notice().indexOf(QStringLiteral("Nothing was searched")), -1);
}

// The lab's host has a tunnel (10.79.0.1/24) and a bridge with only a veth port (10.78.0.1/24)
// besides its shop network: a default probe covers the shop network alone.
TEST(Subnets, DefaultProbeSkipsTunnelsAndContainerBridges) {
    REQUIRE_LAB();
    auto shop = discovery::hostAddresses(*discovery::parseSubnet("10.77.0.0/24"));
    std::erase(shop, QHostAddress(QStringLiteral("10.77.0.1")));
    EXPECT_EQ(discovery::PrinterSearch::probeAddresses({}, QNetworkInterface::allInterfaces()),
              shop);
}

} // namespace
