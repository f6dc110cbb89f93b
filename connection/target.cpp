#include "connection/target.hpp"

#include "connection/network_manager.hpp"
#include "protocol/number_text.hpp"
#include "protocol/parameter_commands.hpp"

#include <QFileInfo>
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

QString Target::identity() const {
    switch (kind) {
    case Kind::tcp:
        return QStringLiteral("tcp:") + address + QLatin1Char(':') + port;
    case Kind::serial: {
        const QFileInfo file(address);
        const QString canonical = file.canonicalFilePath();
        return QStringLiteral("serial:") +
               (canonical.isEmpty() ? file.absoluteFilePath() : canonical);
    }
    case Kind::usb:
        return QStringLiteral("usb:") + address;
    case Kind::ble:
        return QStringLiteral("ble:") + address.toUpper();
    }
    return {};
}

std::variant<Target, QString> makeTarget(Target::Kind kind, std::string_view address) {
    Target target{
        kind, QString::fromUtf8(address.data(), address.size()), {}, std::string(address)};
    if (kind != Target::Kind::tcp) {
        return target;
    }
    // HOST or HOST:PORT; the host is an IPv4 address, as the window's field takes it.
    std::string_view host = address;
    std::string_view port = kDefaultRawPort;
    if (const auto colon = address.rfind(':'); colon != std::string_view::npos) {
        host = address.substr(0, colon);
        port = address.substr(colon + 1);
    }
    target.address = QString::fromUtf8(host.data(), host.size());
    target.port = QString::fromUtf8(port.data(), port.size());
    if (const auto error = NetworkManager::validateEndpoint(target.address, target.port)) {
        return *error;
    }
    // The fields as numbers: "010" is ten and "+9100" is 9100, as the window reads them.
    QStringList fields;
    for (const auto byte : protocol::ipTextToBytes(host)) {
        fields.append(QString::number(byte));
    }
    target.address = fields.join(QLatin1Char('.'));
    target.port = QString::number(*protocol::parseSignedDecimal(port));
    return target;
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
        auto made = makeTarget(kind, rest);
        if (auto* target = std::get_if<Target>(&made)) {
            target->text = std::string(text);
            return made;
        }
        return QStringLiteral("%1: %2").arg(quoted, std::get<QString>(made));
    }
    return QStringLiteral("%1 is not a printer: write tcp:HOST[:PORT], serial:PATH, usb:PORT-ID "
                          "or ble:ADDRESS")
        .arg(quoted);
}

} // namespace connection
