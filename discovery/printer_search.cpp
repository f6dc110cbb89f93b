#include "discovery/printer_search.hpp"

#include <algorithm>

namespace discovery {

PrinterSearch::PrinterSearch(QObject* parent) : QObject(parent) {
    mdnsLimit_.setSingleShot(true);
    connect(&mdnsLimit_, &QTimer::timeout, this, [this] {
        avahi_.stop();
        finishIfDone();
    });
    connect(&probe_, &PortProbe::found, this, [this](const QHostAddress& address, quint16 port) {
        add(address, port, Source::probe);
    });
    connect(&probe_, &PortProbe::progress, this, &PrinterSearch::progress);
    connect(&probe_, &PortProbe::finished, this, &PrinterSearch::finishIfDone);
    connect(&avahi_, &AvahiBrowser::resolved, this,
            [this](const QHostAddress& address, quint16 port, const QString& name) {
                add(address, port, Source::mdns, name);
            });
    connect(&avahi_, &AvahiBrowser::unavailable, this, [this](const QString& reason) {
        emit notice(QStringLiteral("DNS-SD is not available (Avahi is not running: %1); "
                                   "only the port probe looks for printers")
                        .arg(reason));
    });
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
    running_ = true;
    mdns_ = options.mdns;
    emit runningChanged();
    if (options.mdns) {
        avahi_.start();
        mdnsLimit_.start(options.mdnsLimit);
    }
    if (options.probe) {
        auto addresses = probeAddresses(options, QNetworkInterface::allInterfaces());
        if (addresses.empty()) {
            emit notice(QStringLiteral("No directly connected IPv4 network (/%1 or smaller) to "
                                       "probe")
                            .arg(kLongestAutomaticPrefix));
        }
        probe_.start(std::move(addresses), options.probeOptions);
    } else {
        // Ends when DNS-SD settles; with neither source, at once (from the event loop).
        QMetaObject::invokeMethod(this, &PrinterSearch::finishIfDone, Qt::QueuedConnection);
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
    if (const auto change = found_.add(address, port, source, name)) {
        const auto index = static_cast<int>(change->index);
        if (change->added) {
            emit printerAdded(index);
        } else {
            emit printerChanged(index);
        }
    }
}

void PrinterSearch::finishIfDone() {
    if (!running_ || probe_.running() || (mdns_ && !avahi_.settled())) {
        return;
    }
    avahi_.stop();
    mdnsLimit_.stop();
    running_ = false;
    emit runningChanged();
    emit finished();
}

} // namespace discovery
