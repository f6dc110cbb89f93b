#include "protocol/wifi_command.hpp"

#include "protocol/frame.hpp"
#include "protocol/limits.hpp"
#include "protocol/parameter_commands.hpp"

namespace protocol {

std::optional<Bytes> makeWiFiCommand(std::string_view ssid, std::string_view password) {
    if (ssid.size() + password.size() > kWiFiCredentialsMax) {
        return std::nullopt;
    }
    Bytes fields{static_cast<std::uint8_t>(ssid.size())};
    append(fields, utf8Bytes(ssid));
    fields.push_back(0x01);
    fields.push_back(0x01);
    fields.push_back(static_cast<std::uint8_t>(password.size()));
    append(fields, utf8Bytes(password));
    return makeParameterFrame(letter::wifi, fields);
}

} // namespace protocol
