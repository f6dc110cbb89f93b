// Discovery against real parts: the subnet and merge rules alone, then the probe, printerctl and
// the window's list inside the lab that lab.sh builds (network namespaces with printer-sim
// instances, a closed port, silent addresses and two Avahi daemons). Without the lab, the lab's
// tests skip with its reason.
#include "discovery/printer_search.hpp"
#include "tests/support/process.hpp"
#include "ui/content_view_model.hpp"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

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

// Probes `subnet` with `concurrency` attempts at once and time-out T. The lab's silent
// addresses (nobody answers ARP; nftables drops everything to 10.77.0.30) must each end in one
// time-out; refused and accepted connections end at once.
TEST(PortProbe, FindsExactlyTheListeningPrintersAndSilenceCostsOneTimeoutEach) {
    REQUIRE_LAB();
    ASSERT_FALSE(qEnvironmentVariable("LAB_DROPPED").isEmpty()) << "nftables is needed here";
    constexpr auto T = 400ms;
    struct Row {
        const char* subnet;
        int concurrency;
        std::set<std::string> found;
        int silent;
    };
    const std::set<std::string> printers = words("LAB_PRINTERS");
    const Row rows[] = {
        // .9 .13 .14 silent, .10-.12 printers
        {"10.77.0.8/29", 1, printers, 3},
        // .20 closed (refused), .21 silent
        {"10.77.0.20/31", 1, {}, 1},
        {"10.77.0.30/32", 1, {}, 1},
        // .1 is the host (refused), .2 the shop (refused), .20 closed, 24 silent, in one round
        {"10.77.0.0/27", 128, printers, 24},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.subnet);
        discovery::PortProbe probe;
        std::vector<discovery::FoundPrinter> found;
        QObject::connect(&probe, &discovery::PortProbe::found,
                         [&](const QHostAddress& a, quint16 p) {
                             found.push_back({a, p, {}, Source::probe});
                         });
        QSignalSpy finished(&probe, &discovery::PortProbe::finished);
        QElapsedTimer clock;
        clock.start();
        probe.start(discovery::hostAddresses(*discovery::parseSubnet(row.subnet)),
                    {9100, T, row.concurrency});
        ASSERT_TRUE(finished.wait(60000));
        const auto elapsed = std::chrono::milliseconds(clock.elapsed());
        EXPECT_EQ(endpoints(found), row.found);
        EXPECT_EQ(probe.timedOut(), row.silent);
        EXPECT_EQ(probe.tried(), probe.total());
        // One time-out per silent address in each of its rounds, and never more: the rest of
        // an attempt's life is a local round trip.
        const int rounds = (row.silent + row.concurrency - 1) / row.concurrency;
        EXPECT_GE(elapsed, rounds * T - 10ms); // the clock reads whole milliseconds
        EXPECT_LT(elapsed, (rounds + 1) * T);
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

// printerctl list tcp's lines, the last one of each printer.
std::map<std::string, std::string> listed(const std::vector<std::string>& arguments,
                                          std::string* err = nullptr) {
    const auto run = testing_support::runProcess(PRINTERCTL_PATH, arguments);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    if (err) {
        *err = run.err;
    }
    std::map<std::string, std::string> lines;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
        lines[line.substr(0, line.find('\t'))] = line;
    }
    return lines;
}

TEST(PrinterctlListTcp, ProbeAndDnsSdMergedAsFound) {
    REQUIRE_LAB();
    ASSERT_FALSE(qEnvironmentVariable("LAB_MDNS").isEmpty()) << "the lab runs without Avahi";
    // DNS-SD names the printer at 10.77.0.10 that the probe also finds, and finds the LPD
    // service at 10.77.0.11:515 that a probe of 9100 cannot.
    const std::map<std::string, std::string> everything = {
        {"10.77.0.10:9100", "10.77.0.10:9100\tFront Counter\tmdns,probe"},
        {"10.77.0.11:9100", "10.77.0.11:9100\t\tprobe"},
        {"10.77.0.12:9100", "10.77.0.12:9100\t\tprobe"},
        {"10.77.0.11:515", "10.77.0.11:515\tBack Office\tmdns"},
    };
    EXPECT_EQ(listed({"list", "tcp"}), everything);
    EXPECT_EQ(listed({"list", "tcp", "--no-probe"}),
              (std::map<std::string, std::string>{
                  {"10.77.0.10:9100", "10.77.0.10:9100\tFront Counter\tmdns"},
                  {"10.77.0.11:515", "10.77.0.11:515\tBack Office\tmdns"}}));
    // An explicit subnet replaces the connected ones; another port finds other listeners.
    EXPECT_EQ(
        listed({"list", "tcp", "--no-mdns", "--subnet", "10.77.0.11/32", "--subnet",
                "10.77.0.16/28", "--timeout", "100"}),
        (std::map<std::string, std::string>{{"10.77.0.11:9100", "10.77.0.11:9100\t\tprobe"}}));
    EXPECT_TRUE(
        listed({"list", "tcp", "--no-mdns", "--port", "9101", "--subnet", "10.77.0.8/29"}).empty());
}

TEST(PrinterctlListTcp, WithoutAvahiSaysSoOnceAndProbes) {
    REQUIRE_LAB();
    const auto bus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    std::string err;
    const auto lines = listed({"list", "tcp", "--subnet", "10.77.0.8/30"}, &err);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus);
    EXPECT_EQ(lines, (std::map<std::string, std::string>{
                         {"10.77.0.10:9100", "10.77.0.10:9100\t\tprobe"}}));
    const auto said = err.find("Avahi is not running");
    ASSERT_NE(said, std::string::npos) << err;
    EXPECT_EQ(err.find("Avahi is not running", said + 1), std::string::npos) << err;
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
    std::map<std::string, std::string> rows;
    for (int row = 0; row < finder.rowCount(); ++row) {
        const auto at = [&](ui::PrinterFinder::Role role) {
            return finder.data(finder.index(row), role).toString().toStdString();
        };
        const auto endpoint =
            at(ui::PrinterFinder::addressRole) + ":" + at(ui::PrinterFinder::portRole);
        rows[endpoint] = endpoint + "\t" + at(ui::PrinterFinder::nameRole) + "\t" +
                         at(ui::PrinterFinder::sourceRole);
    }
    EXPECT_EQ(rows, expected);
    for (int row = 0; row < finder.rowCount(); ++row) {
        view.chooseFoundPrinter(row);
        EXPECT_EQ((view.ipAddress() + ':' + view.port()).toStdString(),
                  finder.printerAt(row)->endpoint().toStdString());
    }
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
    finder.cancel();
    EXPECT_FALSE(finder.searching());
    EXPECT_EQ(finder.count(), 3);
    const int tried = finder.tried();
    QTest::qWait(1000);
    EXPECT_EQ(finder.tried(), tried);
}

} // namespace
