#include "protocol/parameter_commands.hpp"

#include "protocol/frame.hpp"
#include "protocol/limits.hpp"
#include "protocol/number_text.hpp"

namespace protocol {

namespace {
constexpr std::uint8_t kStaticIPLength = 0x19;
constexpr std::uint8_t kEthernet = 0x00, kWiFi = 0x01;
constexpr std::uint8_t kDynamic = 0x00, kStatic = 0x01;
} // namespace

std::optional<Bytes> makeParameterFrame(std::uint8_t commandLetter, const Bytes& fields) {
    if (fields.size() + 3 > kMaxParameterPayload) {
        return std::nullopt;
    }
    Bytes frame{
        kUnitSeparator, kOpenParen,     fn::parameter, static_cast<std::uint8_t>(fields.size() + 3),
        0x00,           kUnitSeparator, commandLetter};
    append(frame, fields);
    frame.push_back(xorChecksum(frame.data() + 5, frame.data() + frame.size()));
    return frame;
}

std::optional<Bytes> makePrinterNameCommand(std::string_view name) {
    return makeParameterFrame(letter::printerName, cStringBytes(name));
}

Bytes ipTextToBytes(std::string_view text) {
    Bytes bytes;
    std::size_t start = 0;
    while (start <= text.size()) {
        auto end = text.find('.', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const auto part = text.substr(start, end - start);
        if (!part.empty()) {
            bytes.push_back(parseUInt8(part).value_or(0));
        }
        start = end + 1;
    }
    return bytes;
}

std::optional<Bytes> makeIPCommand(bool isWiFi, bool isDynamic, std::string_view ipAddress,
                                   std::string_view subnetMask, std::string_view gateway) {
    const std::uint8_t interfaceByte = isWiFi ? kWiFi : kEthernet;
    if (isDynamic) {
        return makeParameterFrame(letter::ipConfig, {interfaceByte, kDynamic});
    }
    if (checkStaticAddresses(ipAddress, subnetMask, gateway)) {
        return std::nullopt;
    }
    Bytes fields{interfaceByte, kStatic};
    append(fields, ipTextToBytes(ipAddress));
    append(fields, ipTextToBytes(subnetMask));
    append(fields, ipTextToBytes(gateway));
    fields.insert(fields.end(), kPrimaryDNS.begin(), kPrimaryDNS.end());
    fields.insert(fields.end(), kSecondaryDNS.begin(), kSecondaryDNS.end());
    auto frame = makeParameterFrame(letter::ipConfig, fields);
    (*frame)[3] = kStaticIPLength; // fixed for the static form, as printers expect it
    return frame;
}

} // namespace protocol
