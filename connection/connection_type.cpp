#include "connection/connection_type.hpp"

namespace connection {

std::string_view rawValue(ConnectionType type) {
    switch (type) {
    case ConnectionType::network:
        return "network";
    case ConnectionType::bluetooth:
        return "bluetooth";
    case ConnectionType::usb:
        return "usb";
    }
    return "usb";
}

std::optional<ConnectionType> connectionTypeFromRaw(std::string_view raw) {
    for (auto type : kAllConnectionTypes) {
        if (rawValue(type) == raw) {
            return type;
        }
    }
    return std::nullopt;
}

std::string_view label(ConnectionType type) {
    switch (type) {
    case ConnectionType::network:
        return "Network";
    case ConnectionType::bluetooth:
        return "Bluetooth";
    case ConnectionType::usb:
        return "USB";
    }
    return "USB";
}

} // namespace connection
