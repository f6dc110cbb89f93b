#pragma once

#include <QHostAddress>
#include <QNetworkInterface>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace discovery {

// An IPv4 network: its first address and prefix length.
struct Subnet {
    std::uint32_t network = 0;
    int prefixLength = 32;

    bool operator==(const Subnet&) const = default;
    QString text() const; // "10.0.0.0/24"
};

// "A.B.C.D/N" (N 0...32); host bits are cleared. Nothing when the text is not that.
std::optional<Subnet> parseSubnet(std::string_view text);

// The addresses a probe tries: every host address, without the network and broadcast
// addresses where the prefix leaves room for them (/31 and /32 have none).
std::vector<QHostAddress> hostAddresses(const Subnet& subnet);

// Shorter prefixes than this are left out of the directly connected networks: a /21 already
// takes five probe rounds of the time-out.
inline constexpr int kLongestAutomaticPrefix = 22;

// The IPv4 networks a probe covers unless told otherwise: those of the interfaces that are up
// and running, not loopback, not point-to-point (VPN tunnels) and not a bridge without a
// physical port (containers, virtual machines), with prefixes kLongestAutomaticPrefix or
// longer, each network once.
std::vector<Subnet> connectedSubnets(const QList<QNetworkInterface>& interfaces);

// Whether `address` lies in a network of an interface that is up, running and not loopback
// (any prefix, tunnels and bridges included): reachable without a router.
bool onConnectedNetwork(const QHostAddress& address, const QList<QNetworkInterface>& interfaces);

// The host's own IPv4 addresses on those interfaces (a probe skips them).
std::vector<QHostAddress> ownAddresses(const QList<QNetworkInterface>& interfaces);

} // namespace discovery
