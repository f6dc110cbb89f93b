#include "tools/printerctl/list_tcp.hpp"

#include "discovery/escaped_text.hpp"
#include "discovery/printer_search.hpp"
#include "tools/printerctl/transport_send.hpp"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <iostream>
#include <unistd.h>

namespace printerctl {

namespace {

// The name escaped: a service name is the announcer's to choose, and a raw one could forge a
// line, split fields or drive the terminal.
void printLine(const discovery::FoundPrinter& printer) {
    std::cout << printer.endpoint().toStdString() << '\t'
              << discovery::escapedText(printer.name).toStdString() << '\t'
              << printer.sourceText().toStdString() << (printer.offSubnet ? "\toff-subnet" : "")
              << std::endl;
}

QByteArray jsonList(const std::vector<discovery::FoundPrinter>& printers) {
    QJsonArray list;
    for (const auto& printer : printers) {
        list.append(QJsonObject{
            {QStringLiteral("address"), printer.address.toString()},
            {QStringLiteral("port"), printer.port},
            {QStringLiteral("name"), printer.name},
            {QStringLiteral("sources"),
             QJsonArray::fromStringList(printer.sourceText().split(QLatin1Char(',')))},
            {QStringLiteral("offSubnet"), printer.offSubnet},
        });
    }
    return QJsonDocument(list).toJson(QJsonDocument::Indented);
}

} // namespace

int listTcpPrinters(const ListRequest& request) {
    const auto app = startEventLoop();
    discovery::PrinterSearch search;
    const bool showProgress = isatty(STDERR_FILENO) == 1;
    QElapsedTimer sinceProgress;
    bool progressShown = false;
    const auto clearProgress = [&] {
        if (progressShown) {
            std::cerr << "\r\033[K" << std::flush;
            progressShown = false;
        }
    };

    QObject::connect(&search, &discovery::PrinterSearch::notice, &search, [&](const QString& text) {
        clearProgress();
        std::cerr << "printerctl: " << text.toStdString() << std::endl;
    });
    const auto print = [&](int index) {
        if (!request.json) {
            clearProgress();
            printLine(search.printers()[static_cast<std::size_t>(index)]);
        }
    };
    QObject::connect(&search, &discovery::PrinterSearch::printerAdded, &search, print);
    QObject::connect(&search, &discovery::PrinterSearch::printerChanged, &search, print);
    if (showProgress) {
        QObject::connect(
            &search, &discovery::PrinterSearch::progress, &search, [&](int tried, int total) {
                // A few updates a second are enough for the eye.
                if (tried != total && sinceProgress.isValid() && sinceProgress.elapsed() < 100) {
                    return;
                }
                sinceProgress.start();
                std::cerr << "\rprobing port " << request.search.probeOptions.port << ": " << tried
                          << " of " << total << " addresses" << std::flush;
                progressShown = true;
            });
    }
    QObject::connect(&search, &discovery::PrinterSearch::finished, &search, [&] {
        clearProgress();
        if (request.json) {
            std::cout << jsonList(search.printers()).toStdString() << std::flush;
        }
        if (const auto& late = search.answeredLate(); !late.empty()) {
            const auto timeout = request.search.probeOptions.timeout.count();
            std::cerr << "printerctl: answered on port " << request.search.probeOptions.port
                      << " only after the " << timeout << " ms time-out, not listed:";
            for (const auto& address : late) {
                std::cerr << ' ' << address.toString().toStdString();
            }
            std::cerr << "; --timeout " << 2 * timeout << " lists them" << std::endl;
        }
        QCoreApplication::exit(search.outcome() == discovery::PrinterSearch::Outcome::searched ? 0
                                                                                               : 1);
    });
    search.start(request.search);
    return QCoreApplication::exec();
}

} // namespace printerctl
