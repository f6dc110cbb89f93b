#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace connection {

// The transport the user has chosen. The order is the selector's order; the raw value is the
// case's identity.
enum class ConnectionType { network, bluetooth, usb };

inline constexpr std::array<ConnectionType, 3> kAllConnectionTypes = {
    ConnectionType::network, ConnectionType::bluetooth, ConnectionType::usb};

std::string_view rawValue(ConnectionType type);
// Only an exact, case-sensitive raw value names a case.
std::optional<ConnectionType> connectionTypeFromRaw(std::string_view raw);
std::string_view label(ConnectionType type);

} // namespace connection
