#include "protocol/wifi_command.hpp"

#include "protocol/frame.hpp"
#include "protocol/parameter_commands.hpp"

namespace protocol {

Bytes makeWiFiCommand(std::string_view ssid, std::string_view password) {
    Bytes fields{static_cast<std::uint8_t>(ssid.size() & 0xFF)};
    append(fields, utf8Bytes(ssid));
    fields.push_back(0x01);
    fields.push_back(0x01);
    fields.push_back(static_cast<std::uint8_t>(password.size() & 0xFF));
    append(fields, utf8Bytes(password));
    return makeParameterFrame(letter::wifi, fields);
}

} // namespace protocol
