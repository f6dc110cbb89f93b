#include "protocol/mqtt_commands.hpp"

#include "protocol/frame.hpp"

namespace protocol {

namespace {

std::optional<Bytes> settingFrame(std::uint8_t subCode, const Bytes& data) {
    Bytes payload{subCode};
    append(payload, data);
    return makeFrame(fn::mqttSetting, payload);
}

// A payload of a few bytes always fits its frame.
Bytes shortSettingFrame(const Bytes& payload) {
    return makeFrame(fn::mqttSetting, payload).value();
}

// The text form, or the fixed "no value" form for an absent or empty text.
std::optional<Bytes> optionalTextSetting(std::uint8_t subCode,
                                         std::optional<std::string_view> text) {
    if (!text || text->empty()) {
        return shortSettingFrame({subCode, 0x00, 0x00, 0x00});
    }
    return settingFrame(subCode, cStringBytes(*text));
}

} // namespace

std::optional<Bytes> makeBrokerAddressCommand(std::string_view server, std::uint16_t port) {
    Bytes data = cStringBytes(server);
    append(data, u16BE(port));
    return settingFrame(mqtt::broker, data);
}

std::optional<Bytes> makeLoginCommand(std::string_view username, std::string_view password) {
    if (username.size() > mqtt::kLoginFieldMax || password.size() > mqtt::kLoginFieldMax) {
        return std::nullopt;
    }
    Bytes payload = cStringBytes(username);
    append(payload, utf8Bytes(password));
    if (payload.size() > mqtt::kLoginPayloadMax) {
        return std::nullopt;
    }
    Bytes frame{kUnitSeparator, kOpenParen, fn::mqttLogin,
                static_cast<std::uint8_t>(payload.size()), 0x00};
    append(frame, payload);
    return frame;
}

std::optional<Bytes> makeClientIdCommand(std::optional<std::string_view> clientId) {
    return optionalTextSetting(mqtt::clientId, clientId);
}

Bytes makeSubscribeSourceCommand(std::uint8_t source) {
    return shortSettingFrame(oneByteSetting(mqtt::subscribeSource, source));
}

Bytes makeReceiptPublishCommand(bool publish) {
    return shortSettingFrame(oneByteSetting(mqtt::receiptPublish, publish ? 1 : 0));
}

Bytes makePublishQoSCommand(std::uint8_t qos) {
    return shortSettingFrame(oneByteSetting(mqtt::publishQoS, qos == 2 ? 2 : 1));
}

std::optional<Bytes> makeTopicCommand(std::uint8_t subCode, std::optional<std::string_view> topic) {
    return optionalTextSetting(subCode, topic);
}

Bytes makeHeartbeatIntervalCommand(std::uint32_t seconds) {
    Bytes payload{mqtt::heartbeatInterval};
    append(payload, u32BE(seconds));
    return shortSettingFrame(payload);
}

Bytes makeKeepAliveCommand(std::uint32_t seconds) {
    Bytes payload{mqtt::keepAlive};
    append(payload, u32BE(seconds));
    return shortSettingFrame(payload);
}

std::optional<Bytes> makeClockCommand(std::string_view ntpServer, std::uint8_t zoneByte) {
    Bytes data = cStringBytes(ntpServer);
    data.push_back(zoneByte);
    return settingFrame(mqtt::clock, data);
}

std::optional<Bytes> makeDNSTestCommand(std::string_view url) {
    return settingFrame(mqtt::dnsTest, cStringBytes(url));
}

Bytes makeTLSOffCommand() {
    Bytes command{kUnitSeparator, kOpenParen, fn::tls, 0x07, 0x09};
    command.resize(15, 0x00);
    return command;
}

std::optional<Bytes> makeOneWayTLSCommand(std::string_view certificate) {
    Bytes payload(std::begin(mqtt::oneWayTLS), std::end(mqtt::oneWayTLS));
    append(payload, utf8Bytes(certificate));
    return makeFrame(fn::mqttSetting, payload);
}

std::optional<Bytes> makeMutualTLSCommand(const Bytes& caFile, const Bytes& clientFile,
                                          const Bytes& keyFile, std::string_view password) {
    const Bytes passwordBytes = utf8Bytes(password);
    for (const Bytes* part : {&caFile, &clientFile, &keyFile, &passwordBytes}) {
        if (part->size() > kMaxFramePayload) {
            return std::nullopt;
        }
    }
    Bytes command{kUnitSeparator, kOpenParen, fn::tls, 0x07, 0x13, 0x11, 0x02};
    command.reserve(15 + caFile.size() + clientFile.size() + keyFile.size() + passwordBytes.size());
    for (const Bytes* part : {&caFile, &clientFile, &keyFile, &passwordBytes}) {
        append(command, u16LEClamped(static_cast<long long>(part->size())));
    }
    for (const Bytes* part : {&caFile, &clientFile, &keyFile, &passwordBytes}) {
        append(command, *part);
    }
    return command;
}

} // namespace protocol
