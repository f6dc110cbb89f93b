#pragma once

#include "protocol/bytes.hpp"

#include <optional>
#include <string_view>

namespace protocol {

// Parameter frame, letter "w": SSID length, SSID, 01 01, password length, password.
// Neither text is terminated; both are sent exactly as entered. Nothing when the two together
// exceed 248 bytes (checkWiFiCredentials), which the frame's one length byte cannot carry.
std::optional<Bytes> makeWiFiCommand(std::string_view ssid, std::string_view password);

} // namespace protocol
