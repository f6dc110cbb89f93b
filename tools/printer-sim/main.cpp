// printer-sim: a virtual receipt printer on TCP or a serial line, for trying out and testing
// configuration tools without hardware.
#include "tools/printer-sim/listen_ports.hpp"
#include "tools/printer-sim/output_lines.hpp"
#include "tools/printer-sim/signal_relay.hpp"
#include "tools/printer-sim/sim_options.hpp"
#include "tools/printer-sim/simulated_printer.hpp"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <utility>

using namespace printer_sim;

namespace {

// Readers follow the output through a pipe, so every line goes out at once.
void printLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string listeningLine(const std::vector<std::unique_ptr<TcpListener>>& servers) {
    const auto& first = *servers.front();
    std::string line = "printer-sim listening on " +
                       endpointText(first.address().toString().toStdString(), first.port());
    if (servers.size() > 1) {
        line += "-" + std::to_string(servers.back()->port()) + " (" +
                std::to_string(servers.size()) + " printers)";
    }
    return line;
}

// The master side of a new pseudo-terminal, and its slave's path. The slave stays open in this
// process for good, so a client closing it is no hang-up and the next one can open it again.
struct SerialLine {
    int masterFd = -1;
    std::string path;
    std::string error;
};

SerialLine openSerialLine() {
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        return {-1, {}, std::string("cannot create a pseudo-terminal: ") + std::strerror(errno)};
    }
    // Raw from the start, as a printer's port is: writers that do not configure the line (cat,
    // echo) must not have their bytes translated.
    termios raw{};
    if (tcgetattr(slave, &raw) == 0) {
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    return {master, name, {}};
}

} // namespace

int main(int argc, char** argv) {
    const auto parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (const auto* error = std::get_if<OptionError>(&parsed)) {
        std::fprintf(stderr, "printer-sim: %s\nTry 'printer-sim --help'.\n",
                     error->message.c_str());
        return 2;
    }
    const auto& options = std::get<SimOptions>(parsed);
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    // A reader that goes away must not kill the printer half-way through a line.
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    try {
        SignalRelay relay;
        const OutputLines lines({options.json, {options.showSecrets}});
        std::vector<std::unique_ptr<SimulatedPrinter>> printers;
        std::vector<std::string> firstLines;
        if (!options.pty || options.listenGiven) {
            auto listening = listenOnConsecutivePorts(
                QHostAddress(QString::fromStdString(options.host)), options.port, options.printers);
            if (!listening.error.empty()) {
                std::fprintf(stderr, "printer-sim: %s\n", listening.error.c_str());
                return 1;
            }
            firstLines.push_back(listeningLine(listening.servers));
            for (auto& server : listening.servers) {
                printers.push_back(std::make_unique<SimulatedPrinter>(
                    static_cast<int>(printers.size()) + 1, server.release(), lines, printLine));
            }
        }
        if (options.pty) {
            const SerialLine line = openSerialLine();
            if (line.masterFd < 0) {
                std::fprintf(stderr, "printer-sim: %s\n", line.error.c_str());
                return 1;
            }
            const int number = static_cast<int>(printers.size()) + 1;
            printers.push_back(
                std::make_unique<SimulatedPrinter>(number, nullptr, lines, printLine));
            printers.back()->takeSerialLine(line.masterFd);
            firstLines.push_back("printer-sim serial line " + line.path);
        }
        for (const auto& line : firstLines) {
            printLine(line);
        }

        QObject::connect(&relay, &SignalRelay::dumpRequested, [&printers] {
            for (const auto& printer : printers) {
                printer->printPendingSettings();
            }
        });
        bool stopping = false; // a second SIGTERM while stopping must not print the state again
        QObject::connect(&relay, &SignalRelay::stopRequested, [&] {
            if (std::exchange(stopping, true)) {
                return;
            }
            for (const auto& printer : printers) {
                printer->closeConnections();
            }
            if (options.dumpState) {
                for (const auto& printer : printers) {
                    printer->printPendingSettings();
                }
            }
            QCoreApplication::quit();
        });
        return QCoreApplication::exec();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "printer-sim: %s\n", error.what());
        return 1;
    }
}
