#include "discovery/printer_search.hpp"

#include "discovery/escaped_text.hpp"

#include <algorithm>

namespace discovery {

namespace {

// No printer on the network can be reached at these; a connection would reach this computer,
// many hosts or nothing.
bool noPrinterAddress(const QHostAddress& address) {
    return address.isLoopback() || address.isMulticast() || address.isBroadcast() ||
           address.toIPv4Address() == 0;
}

QString services(int count) {
    return count == 1 ? QStringLiteral("1 service") : QStringLiteral("%1 services").arg(count);
}

} // namespace

PrinterSearch::PrinterSearch(QObject* parent) : QObject(parent) {
    mdnsLimit_.setSingleShot(true);
    connect(&mdnsLimit_, &QTimer::timeout, this, &PrinterSearch::dnsSdTimedOut);
    connect(&probe_, &PortProbe::found, this, [this](const QHostAddress& address, quint16 port) {
        add(address, port, Source::probe);
    });
    connect(&probe_, &PortProbe::progress, this, &PrinterSearch::progress);
    connect(&probe_, &PortProbe::finished, this, [this] {
        if (!probe_.failure().isEmpty()) {
            emit notice(QStringLiteral("The port probe stopped: ") + probe_.failure());
            finish(Outcome::failed);
            return;
        }
        finishIfDone();
    });
    connect(&avahi_, &AvahiBrowser::resolved, this,
            [this](const QHostAddress& address, quint16 port, const QString& name) {
                add(address, port, Source::mdns, name);
            });
    connect(&avahi_, &AvahiBrowser::unavailable, this, &PrinterSearch::dnsSdUnavailable);
    connect(&avahi_, &AvahiBrowser::settledChanged, this, &PrinterSearch::finishIfDone);
}

std::vector<QHostAddress>
PrinterSearch::probeAddresses(const SearchOptions& options,
                              const QList<QNetworkInterface>& interfaces) {
    std::vector<QHostAddress> addresses;
    if (!options.subnets.empty()) {
        for (const auto& subnet : options.subnets) {
            const auto hosts = hostAddresses(subnet);
            addresses.insert(addresses.end(), hosts.begin(), hosts.end());
        }
    } else {
        const auto own = ownAddresses(interfaces);
        for (const auto& subnet : connectedSubnets(interfaces)) {
            for (const auto& host : hostAddresses(subnet)) {
                if (std::find(own.begin(), own.end(), host) == own.end()) {
                    addresses.push_back(host);
                }
            }
        }
    }
    // Overlapping subnets given together are tried once.
    std::vector<QHostAddress> unique;
    unique.reserve(addresses.size());
    QSet<quint32> seen;
    for (const auto& address : addresses) {
        if (!seen.contains(address.toIPv4Address())) {
            seen.insert(address.toIPv4Address());
            unique.push_back(address);
        }
    }
    return unique;
}

void PrinterSearch::start(const SearchOptions& options) {
    cancel();
    found_.clear();
    leftOut_.clear();
    interfaces_ = QNetworkInterface::allInterfaces();
    running_ = true;
    mdns_ = options.mdns;
    optionsProbe_ = options.probe;
    probing_ = false;
    emit runningChanged();
    if (options.probe) {
        auto addresses = probeAddresses(options, interfaces_);
        probing_ = !addresses.empty();
        if (!probing_) {
            emit notice(QStringLiteral("No directly connected IPv4 network (/%1 or smaller; "
                                       "tunnels and container bridges left out) to probe")
                            .arg(kLongestAutomaticPrefix));
        }
        probe_.start(std::move(addresses), options.probeOptions);
    } else {
        // Ends when DNS-SD settles; with neither source, at once (from the event loop).
        QMetaObject::invokeMethod(this, &PrinterSearch::finishIfDone, Qt::QueuedConnection);
    }
    if (options.mdns) {
        avahi_.start();
        mdnsLimit_.start(options.mdnsLimit);
    }
}

void PrinterSearch::cancel() {
    probe_.cancel();
    avahi_.stop();
    mdnsLimit_.stop();
    if (running_) {
        running_ = false;
        emit runningChanged();
    }
}

void PrinterSearch::add(const QHostAddress& address, quint16 port, Source source,
                        const QString& name) {
    if (!running_) {
        return;
    }
    if (source == Source::mdns && noPrinterAddress(address)) {
        leftOut_ << QStringLiteral("\"%1\" at %2:%3")
                        .arg(escapedText(name), address.toString())
                        .arg(port);
        return;
    }
    const bool offSubnet = !onConnectedNetwork(address, interfaces_);
    if (const auto change = found_.add(address, port, source, name, offSubnet)) {
        const auto index = static_cast<int>(change->index);
        if (change->added) {
            emit printerAdded(index);
        } else {
            emit printerChanged(index);
        }
    }
}

void PrinterSearch::dnsSdUnavailable(const QString& reason) {
    emit notice(
        QStringLiteral("DNS-SD is not available: ") + reason +
        (probing_ ? QStringLiteral("; only the port probe looks for printers") : QString()));
}

void PrinterSearch::dnsSdTimedOut() {
    const auto seconds = QString::number(mdnsLimit_.interval() / 1000.0);
    if (!avahi_.answered()) {
        dnsSdUnavailable(QStringLiteral("Avahi did not answer within %1 s").arg(seconds));
    } else {
        emit notice(QStringLiteral("DNS-SD did not finish within %1 s: Avahi stopped answering; "
                                   "%2 not looked up")
                        .arg(seconds, services(avahi_.unfinished())));
    }
    avahi_.stop();
    finishIfDone();
}

void PrinterSearch::noteWhatDnsSdLeftOut() {
    const auto& tally = avahi_.tally();
    QStringList parts;
    if (tally.failed > 0) {
        parts << QStringLiteral("%1 could not be looked up (%2)")
                     .arg(services(tally.failed), tally.firstError);
    }
    if (tally.withoutIPv4 > 0) {
        parts << QStringLiteral("%1 gave no IPv4 address").arg(services(tally.withoutIPv4));
    }
    if (!leftOut_.isEmpty()) {
        parts << QStringLiteral("%1 announced an address no printer can have (%2)")
                     .arg(services(static_cast<int>(leftOut_.size())),
                          leftOut_.join(QStringLiteral(", ")));
    }
    if (!parts.isEmpty()) {
        emit notice(QStringLiteral("DNS-SD found %1 not listed: ")
                        .arg(services(tally.failed + tally.withoutIPv4 +
                                      static_cast<int>(leftOut_.size()))) +
                    parts.join(QStringLiteral("; ")));
    }
}

void PrinterSearch::finishIfDone() {
    if (!running_ || probe_.running() || (mdns_ && !avahi_.settled())) {
        return;
    }
    const bool dnsSdSearched = mdns_ && avahi_.answered();
    if (probing_ || dnsSdSearched) {
        finish(Outcome::searched);
        return;
    }
    emit notice(QStringLiteral("Nothing was searched: DNS-SD %1 and %2")
                    .arg(mdns_ ? QStringLiteral("is not available") : QStringLiteral("is off"),
                         optionsProbe_ ? QStringLiteral("there is no network to probe")
                                       : QStringLiteral("the port probe is off")));
    finish(Outcome::nothingSearched);
}

void PrinterSearch::finish(Outcome outcome) {
    if (mdns_) {
        noteWhatDnsSdLeftOut();
    }
    probe_.cancel();
    avahi_.stop();
    mdnsLimit_.stop();
    outcome_ = outcome;
    running_ = false;
    emit runningChanged();
    emit finished();
}

} // namespace discovery
