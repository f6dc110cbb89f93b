#include "discovery/subnets.hpp"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <charconv>

namespace discovery {

namespace {

std::uint32_t maskOf(int prefixLength) {
    return prefixLength == 0 ? 0 : ~std::uint32_t{0} << (32 - prefixLength);
}

bool usable(const QNetworkInterface& interface) {
    const auto flags = interface.flags();
    return flags.testFlag(QNetworkInterface::IsUp) &&
           flags.testFlag(QNetworkInterface::IsRunning) &&
           !flags.testFlag(QNetworkInterface::IsLoopBack);
}

// A Linux bridge none of whose ports is a physical device: the private network of containers
// or virtual machines on this computer, not the shop's.
bool isVirtualBridge(const QString& name) {
    const QString device = QStringLiteral("/sys/class/net/") + name;
    if (!QFileInfo::exists(device + QStringLiteral("/bridge"))) {
        return false;
    }
    const auto ports =
        QDir(device + QStringLiteral("/brif")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    return std::none_of(ports.begin(), ports.end(), [](const QString& port) {
        return QFileInfo::exists(QStringLiteral("/sys/class/net/") + port +
                                 QStringLiteral("/device"));
    });
}

// Where a default probe looks: not through a point-to-point link (a VPN tunnel: its far side
// is someone else's network, and every address would cost a SYN through the tunnel), nor into
// a bridge of local containers or virtual machines.
bool probedByDefault(const QNetworkInterface& interface) {
    return !interface.flags().testFlag(QNetworkInterface::IsPointToPoint) &&
           !isVirtualBridge(interface.name());
}

// The IPv4 address entries of the interfaces that are up, running and not loopback.
std::vector<QNetworkAddressEntry> usableIPv4Entries(const QList<QNetworkInterface>& interfaces,
                                                    bool onlyProbedByDefault = false) {
    std::vector<QNetworkAddressEntry> entries;
    for (const auto& interface : interfaces) {
        if (!usable(interface) || (onlyProbedByDefault && !probedByDefault(interface))) {
            continue;
        }
        for (const auto& entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol) {
                entries.push_back(entry);
            }
        }
    }
    return entries;
}

} // namespace

QString Subnet::text() const {
    return QHostAddress(network).toString() + QLatin1Char('/') + QString::number(prefixLength);
}

std::optional<Subnet> parseSubnet(std::string_view text) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) {
        return std::nullopt;
    }
    const auto prefix = text.substr(slash + 1);
    int length = -1;
    const auto [end, error] = std::from_chars(prefix.data(), prefix.data() + prefix.size(), length);
    if (error != std::errc{} || end != prefix.data() + prefix.size() || prefix.empty() ||
        prefix.size() > 2 || length < 0 || length > 32) {
        return std::nullopt;
    }
    // QHostAddress also reads "10.1" or "10" as IPv4; a subnet must be written out.
    const auto address = QString::fromUtf8(text.data(), static_cast<qsizetype>(slash));
    bool ipv4 = false;
    const QHostAddress host(address);
    const auto value = host.toIPv4Address(&ipv4);
    if (!ipv4 || address.count(QLatin1Char('.')) != 3) {
        return std::nullopt;
    }
    return Subnet{value & maskOf(length), length};
}

std::vector<QHostAddress> hostAddresses(const Subnet& subnet) {
    const auto size = std::uint64_t{1} << (32 - subnet.prefixLength);
    std::uint64_t first = subnet.network;
    std::uint64_t last = first + size - 1;
    if (size > 2) {
        ++first;
        --last;
    }
    std::vector<QHostAddress> addresses;
    addresses.reserve(static_cast<std::size_t>(last - first + 1));
    for (auto value = first; value <= last; ++value) {
        addresses.emplace_back(static_cast<quint32>(value));
    }
    return addresses;
}

std::vector<Subnet> connectedSubnets(const QList<QNetworkInterface>& interfaces) {
    std::vector<Subnet> subnets;
    for (const auto& entry : usableIPv4Entries(interfaces, true)) {
        const auto length = entry.prefixLength();
        if (length < kLongestAutomaticPrefix || length > 32) {
            continue;
        }
        const Subnet subnet{entry.ip().toIPv4Address() & maskOf(length), length};
        if (std::find(subnets.begin(), subnets.end(), subnet) == subnets.end()) {
            subnets.push_back(subnet);
        }
    }
    return subnets;
}

std::vector<QHostAddress> ownAddresses(const QList<QNetworkInterface>& interfaces) {
    std::vector<QHostAddress> addresses;
    for (const auto& entry : usableIPv4Entries(interfaces)) {
        addresses.push_back(entry.ip());
    }
    return addresses;
}

bool onConnectedNetwork(const QHostAddress& address, const QList<QNetworkInterface>& interfaces) {
    const auto value = address.toIPv4Address();
    const auto entries = usableIPv4Entries(interfaces);
    return std::any_of(entries.begin(), entries.end(), [&](const QNetworkAddressEntry& entry) {
        const auto mask = maskOf(std::clamp(entry.prefixLength(), 0, 32));
        return (value & mask) == (entry.ip().toIPv4Address() & mask);
    });
}

} // namespace discovery
