#pragma once

#include "protocol/bytes.hpp"

#include <string_view>

namespace protocol {

// Parameter frame, letter "w": SSID length, SSID, 01 01, password length, password.
// Neither text is terminated; both are sent exactly as entered. Callers keep the two together
// within 248 bytes (checkWiFiCredentials).
Bytes makeWiFiCommand(std::string_view ssid, std::string_view password);

} // namespace protocol
