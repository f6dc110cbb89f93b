#include "connection/target.hpp"

#include "connection/network_manager.hpp"

#include <array>
#include <utility>

namespace connection {

ConnectionType Target::connectionType() const {
    switch (kind) {
    case Kind::tcp:
        return ConnectionType::network;
    case Kind::ble:
        return ConnectionType::bluetooth;
    default:
        return ConnectionType::usb;
    }
}

std::variant<Target, QString> parseTarget(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, Target::Kind>, 4> kinds{{
        {"tcp:", Target::Kind::tcp},
        {"serial:", Target::Kind::serial},
        {"usb:", Target::Kind::usb},
        {"ble:", Target::Kind::ble},
    }};
    const QString quoted = QStringLiteral("'%1'").arg(QString::fromUtf8(text.data(), text.size()));
    for (const auto& [prefix, kind] : kinds) {
        if (!text.starts_with(prefix)) {
            continue;
        }
        const std::string_view rest = text.substr(prefix.size());
        if (rest.empty()) {
            return QStringLiteral("%1 names no printer after '%2'")
                .arg(quoted, QString::fromLatin1(prefix.data(), prefix.size()));
        }
        Target target{kind, QString::fromUtf8(rest.data(), rest.size()), {}, std::string(text)};
        if (kind != Target::Kind::tcp) {
            return target;
        }
        // HOST or HOST:PORT; the host is an IPv4 address, as the window's field takes it.
        std::string_view host = rest;
        std::string_view port = kDefaultRawPort;
        if (const auto colon = rest.rfind(':'); colon != std::string_view::npos) {
            host = rest.substr(0, colon);
            port = rest.substr(colon + 1);
        }
        target.address = QString::fromUtf8(host.data(), host.size());
        target.port = QString::fromUtf8(port.data(), port.size());
        if (const auto error = NetworkManager::validateEndpoint(target.address, target.port)) {
            return QStringLiteral("%1: %2").arg(quoted, *error);
        }
        return target;
    }
    return QStringLiteral("%1 is not a printer: write tcp:HOST[:PORT], serial:PATH, usb:PORT-ID "
                          "or ble:ADDRESS")
        .arg(quoted);
}

} // namespace connection
