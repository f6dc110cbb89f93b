#include "protocol/decoder.hpp"

#include "protocol/basic_settings.hpp"
#include "protocol/frame.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/parameter_commands.hpp"

#include <algorithm>
#include <cstdio>

namespace protocol {

std::string_view commandName(CommandKind kind) {
    switch (kind) {
    case CommandKind::communicationTest:
        return "test";
    case CommandKind::brokerAddress:
        return "mqtt.broker";
    case CommandKind::login:
        return "mqtt.login";
    case CommandKind::clientId:
        return "mqtt.client-id";
    case CommandKind::subscribeSource:
        return "mqtt.subscribe-source";
    case CommandKind::receiptPublish:
        return "mqtt.publish-receipts";
    case CommandKind::publishQoS:
        return "mqtt.qos";
    case CommandKind::heartbeatTopic:
        return "mqtt.heartbeat-topic";
    case CommandKind::receiptReplyTopic:
        return "mqtt.reply-topic";
    case CommandKind::heartbeatInterval:
        return "mqtt.heartbeat";
    case CommandKind::keepAlive:
        return "mqtt.keepalive";
    case CommandKind::clock:
        return "mqtt.clock";
    case CommandKind::dnsTest:
        return "mqtt.dns-test";
    case CommandKind::oneWayTLS:
        return "mqtt.tls-one-way";
    case CommandKind::tlsOff:
        return "mqtt.tls-off";
    case CommandKind::mutualTLS:
        return "mqtt.tls-mutual";
    case CommandKind::basicSettings:
        return "basic";
    case CommandKind::printerName:
        return "name";
    case CommandKind::ipConfig:
        return "ip";
    case CommandKind::wifi:
        return "wifi";
    case CommandKind::unknown:
        return "unknown";
    case CommandKind::malformed:
        return "malformed";
    }
    return "unknown";
}

const Field* DecodedCommand::field(std::string_view key) const {
    const auto it = std::ranges::find(fields, key, &Field::key);
    return it == fields.end() ? nullptr : &*it;
}

std::optional<std::string> DecodedCommand::text(std::string_view key) const {
    const auto* f = field(key);
    if (f == nullptr || !std::holds_alternative<std::string>(f->value)) {
        return std::nullopt;
    }
    return std::get<std::string>(f->value);
}

std::optional<std::uint64_t> DecodedCommand::number(std::string_view key) const {
    const auto* f = field(key);
    if (f == nullptr || !std::holds_alternative<std::uint64_t>(f->value)) {
        return std::nullopt;
    }
    return std::get<std::uint64_t>(f->value);
}

std::optional<bool> DecodedCommand::flag(std::string_view key) const {
    const auto* f = field(key);
    if (f == nullptr || !std::holds_alternative<bool>(f->value)) {
        return std::nullopt;
    }
    return std::get<bool>(f->value);
}

bool DecodedCommand::isAbsent(std::string_view key) const {
    const auto* f = field(key);
    return f != nullptr && std::holds_alternative<Absent>(f->value);
}

namespace {

using Fields = std::vector<Field>;

std::string hexByte(std::uint8_t b) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", b);
    return text;
}

std::string textOf(const std::uint8_t* p, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(p), n);
}

std::string dottedQuad(const std::uint8_t* p) {
    char text[20];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", p[0], p[1], p[2], p[3]);
    return text;
}

std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// What one payload turns out to be; the caller adds where it sits in the input.
struct Parsed {
    CommandKind kind;
    Fields fields;
    std::string reason;
};

Parsed ok(CommandKind kind, Fields fields = {}) {
    return {kind, std::move(fields), {}};
}
Parsed bad(std::string reason) {
    return {CommandKind::malformed, {}, std::move(reason)};
}
Parsed unknownPart(std::string reason) {
    return {CommandKind::unknown, {}, std::move(reason)};
}

// A text ending in 0x00 that fills p[0..n); the terminator is not part of the text.
std::optional<std::string> terminatedText(const std::uint8_t* p, std::size_t n) {
    if (n == 0 || p[n - 1] != 0x00) {
        return std::nullopt;
    }
    return textOf(p, n - 1);
}

Parsed parseOneByteSetting(CommandKind kind, const char* key, const std::uint8_t* p,
                           std::size_t n) {
    if (n != 3) {
        return bad("one-byte setting with " + std::to_string(n) + " payload bytes, expected 3");
    }
    const auto expected = static_cast<std::uint8_t>(p[0] ^ p[1]);
    if (p[2] != expected) {
        return bad("bad check byte: expected " + hexByte(expected) + ", found " + hexByte(p[2]));
    }
    return ok(kind, {{key, std::uint64_t{p[1]}}});
}

Parsed parseOptionalText(CommandKind kind, const char* key, const std::uint8_t* p, std::size_t n) {
    if (n == 4 && p[1] == 0 && p[2] == 0 && p[3] == 0) {
        return ok(kind, {{key, Absent{}}});
    }
    auto text = terminatedText(p + 1, n - 1);
    if (!text) {
        return bad("text without 0x00 terminator");
    }
    return ok(kind, {{key, std::move(*text)}});
}

Parsed parseMqttSetting(const std::uint8_t* p, std::size_t n) {
    if (n == 0) {
        return bad("MQTT setting without a sub-code");
    }
    switch (p[0]) {
    case mqtt::broker: {
        if (n < 4 || p[n - 3] != 0x00) {
            return bad("broker address without 0x00 terminator and port");
        }
        return ok(
            CommandKind::brokerAddress,
            {{"server", textOf(p + 1, n - 4)},
             {"port", std::uint64_t{static_cast<std::uint16_t>((p[n - 2] << 8) | p[n - 1])}}});
    }
    case mqtt::clientId:
        return parseOptionalText(CommandKind::clientId, "clientId", p, n);
    case mqtt::heartbeatTopic:
        return parseOptionalText(CommandKind::heartbeatTopic, "topic", p, n);
    case mqtt::receiptReplyTopic:
        return parseOptionalText(CommandKind::receiptReplyTopic, "topic", p, n);
    case mqtt::subscribeSource: { // also the clock, which carries a text
        if (n == 3 && p[2] == (p[0] ^ p[1])) {
            return ok(CommandKind::subscribeSource, {{"source", std::uint64_t{p[1]}}});
        }
        if (n < 3 || p[n - 2] != 0x00) {
            return bad(n == 3 ? "bad check byte: expected " + hexByte(p[0] ^ p[1]) + ", found " +
                                    hexByte(p[2])
                              : "clock without 0x00 terminator and zone byte");
        }
        return ok(CommandKind::clock,
                  {{"ntpServer", textOf(p + 1, n - 3)}, {"zone", std::uint64_t{p[n - 1]}}});
    }
    case mqtt::receiptPublish:
        return parseOneByteSetting(CommandKind::receiptPublish, "publish", p, n);
    case mqtt::publishQoS:
        return parseOneByteSetting(CommandKind::publishQoS, "qos", p, n);
    case mqtt::heartbeatInterval:
    case mqtt::keepAlive: {
        if (n != 5) {
            return bad("interval with " + std::to_string(n) + " payload bytes, expected 5");
        }
        const std::uint64_t seconds = (std::uint64_t{p[1]} << 24) | (std::uint64_t{p[2]} << 16) |
                                      (std::uint64_t{p[3]} << 8) | p[4];
        return ok(p[0] == mqtt::heartbeatInterval ? CommandKind::heartbeatInterval
                                                  : CommandKind::keepAlive,
                  {{"seconds", seconds}});
    }
    case mqtt::dnsTest: {
        auto url = terminatedText(p + 1, n - 1);
        if (!url) {
            return bad("DNS test URL without 0x00 terminator");
        }
        return ok(CommandKind::dnsTest, {{"url", std::move(*url)}});
    }
    case mqtt::oneWayTLS[0]:
        if (n >= 3 && p[1] == mqtt::oneWayTLS[1] && p[2] == mqtt::oneWayTLS[2]) {
            return ok(CommandKind::oneWayTLS, {{"certificate", textOf(p + 3, n - 3)}});
        }
        break;
    default:
        break;
    }
    return unknownPart("unknown MQTT sub-code " + hexByte(p[0]));
}

Parsed parseLogin(const std::uint8_t* p, std::size_t n) {
    const auto* separator = std::find(p, p + n, std::uint8_t{0});
    if (separator == p + n) {
        return bad("login without 0x00 between user name and password");
    }
    const auto nameLength = static_cast<std::size_t>(separator - p);
    return ok(CommandKind::login, {{"username", textOf(p, nameLength)},
                                   {"password", textOf(separator + 1, n - nameLength - 1), true}});
}

Parsed parseIP(const std::uint8_t* f, std::size_t n) {
    if (n < 2 || f[0] > 1 || f[1] > 1) {
        return bad("IP command with unknown interface or mode");
    }
    Fields fields{{"interface", std::string(f[0] == 1 ? "wifi" : "ethernet")},
                  {"dynamic", f[1] == 0}};
    if (f[1] == 0) {
        if (n != 2) {
            return bad("dynamic IP command with extra bytes");
        }
        return ok(CommandKind::ipConfig, std::move(fields));
    }
    if (n != 22) {
        return bad("static IP command with " + std::to_string(n - 2) +
                   " address bytes, expected 20");
    }
    const char* keys[] = {"address", "mask", "gateway", "dns1", "dns2"};
    for (std::size_t k = 0; k < 5; ++k) {
        fields.push_back({keys[k], dottedQuad(f + 2 + 4 * k)});
    }
    return ok(CommandKind::ipConfig, std::move(fields));
}

Parsed parseBasic(const std::uint8_t* f, std::size_t n) {
    if (n != 9) {
        return bad("basic settings with " + std::to_string(n) + " field bytes, expected 9");
    }
    Fields fields;
    if (f[0] < kBaudRates.size()) {
        fields.push_back({"baud", std::uint64_t(kBaudRates[f[0]])});
    } else {
        fields.push_back({"baudCode", std::uint64_t{f[0]}});
    }
    fields.push_back({"cutter", f[1] == 0});
    fields.push_back({"beeper", f[2] == 0});
    fields.push_back({"density", std::uint64_t{f[5]}});
    fields.push_back({"codepage", std::uint64_t{f[6]}});
    fields.push_back({"font12x24", f[8] == 0});
    return ok(CommandKind::basicSettings, std::move(fields));
}

Parsed parseWiFi(const std::uint8_t* f, std::size_t n) {
    // S, SSID, 01, 01, P, password
    if (n < 4 || std::size_t{f[0]} + 4 > n) {
        return bad("Wi-Fi SSID length beyond the frame");
    }
    const std::size_t s = f[0];
    if (f[1 + s] != 0x01 || f[2 + s] != 0x01) {
        return bad("Wi-Fi command without 01 01 after the SSID");
    }
    if (s + 4 + f[3 + s] != n) {
        return bad("Wi-Fi lengths disagree with the frame length");
    }
    return ok(CommandKind::wifi,
              {{"ssid", textOf(f + 1, s)}, {"password", textOf(f + 4 + s, f[3 + s]), true}});
}

Parsed parseParameterFrame(const std::uint8_t* p, std::size_t n) {
    if (n < 3) {
        return bad("parameter frame shorter than 1F, letter and checksum");
    }
    if (p[0] != kUnitSeparator) {
        return bad("parameter frame without 1F before its letter");
    }
    const auto expected = xorChecksum(p, p + n - 1);
    if (p[n - 1] != expected) {
        return bad("bad checksum: expected " + hexByte(expected) + ", found " + hexByte(p[n - 1]));
    }
    const std::uint8_t* f = p + 2;
    const std::size_t fieldCount = n - 3;
    switch (p[1]) {
    case letter::printerName: {
        auto name = terminatedText(f, fieldCount);
        if (!name) {
            return bad("printer name without 0x00 terminator");
        }
        return ok(CommandKind::printerName, {{"name", std::move(*name)}});
    }
    case letter::ipConfig:
        return parseIP(f, fieldCount);
    case letter::basicSettings:
        return parseBasic(f, fieldCount);
    case letter::wifi:
        return parseWiFi(f, fieldCount);
    default:
        return unknownPart("unknown command letter " + hexByte(p[1]));
    }
}

class Scanner {
public:
    Scanner(const std::uint8_t* data, std::size_t size, bool atEnd)
        : d_(data), size_(size), atEnd_(atEnd) {}

    DecodeResult run() {
        DecodeResult result;
        std::size_t i = 0;
        std::optional<std::size_t> garbageStart;
        const auto flushGarbage = [&](std::size_t end) {
            if (garbageStart && end > *garbageStart) {
                result.commands.push_back({CommandKind::unknown,
                                           *garbageStart,
                                           end - *garbageStart,
                                           {{"bytes", Bytes(d_ + *garbageStart, d_ + end)}},
                                           "unrecognised bytes"});
            }
            garbageStart.reset();
        };
        while (i < size_) {
            auto step = at(i);
            if (step.needMore) {
                break;
            }
            if (!step.command) {
                if (!garbageStart) {
                    garbageStart = i;
                }
                ++i;
                continue;
            }
            flushGarbage(i);
            i += step.command->length;
            result.commands.push_back(std::move(*step.command));
        }
        flushGarbage(i);
        result.consumed = i;
        return result;
    }

private:
    struct Step {
        bool needMore = false;
        std::optional<DecodedCommand> command; // neither: not a command start
    };

    // A plausible command start: 12 54, or 1F 28. Both bytes must be there, so that the last
    // byte of a cut-off frame is not taken for a command of its own.
    bool isCandidate(std::size_t j) const {
        if (j + 1 >= size_ || (d_[j] != 0x12 && d_[j] != kUnitSeparator)) {
            return false;
        }
        return d_[j + 1] == (d_[j] == 0x12 ? 0x54 : kOpenParen);
    }

    std::size_t nextCandidate(std::size_t from) const {
        for (std::size_t j = from; j < size_; ++j) {
            if (isCandidate(j)) {
                return j;
            }
        }
        return size_;
    }

    Step command(std::size_t i, std::size_t length, Parsed parsed) const {
        if (parsed.kind == CommandKind::unknown || parsed.kind == CommandKind::malformed) {
            parsed.fields.push_back({"bytes", Bytes(d_ + i, d_ + i + length)});
        }
        return {false, DecodedCommand{parsed.kind, i, length, std::move(parsed.fields),
                                      std::move(parsed.reason)}};
    }

    // A command that cannot be delimited: covers everything up to the next plausible start.
    // In a stream, a last byte that may begin the next command (1F or 12) is left for later.
    Step undelimited(std::size_t i, CommandKind kind, std::string reason) const {
        std::size_t end = nextCandidate(i + 1);
        if (!atEnd_ && end == size_ && end - i > 1 &&
            (d_[end - 1] == kUnitSeparator || d_[end - 1] == 0x12)) {
            --end;
        }
        return command(i, end - i, {kind, {}, std::move(reason)});
    }

    // Needs bytes up to i + count: waits for them in a stream, else reports the shortfall.
    std::optional<Step> require(std::size_t i, std::size_t count, std::string_view what) const {
        if (i + count <= size_) {
            return std::nullopt;
        }
        if (!atEnd_) {
            return Step{true, std::nullopt};
        }
        return undelimited(i, CommandKind::malformed,
                           std::string(what) + ": needs " + std::to_string(count) + " bytes, " +
                               std::to_string(size_ - i) + " present");
    }

    Step at(std::size_t i) const {
        if (d_[i] == 0x12) {
            if (auto wait = require(i, 2, "truncated command")) {
                return *wait;
            }
            if (d_[i + 1] == 0x54) {
                return command(i, 2, ok(CommandKind::communicationTest));
            }
            return {};
        }
        if (d_[i] != kUnitSeparator) {
            return {};
        }
        if (auto wait = require(i, 2, "truncated command")) {
            return *wait;
        }
        if (d_[i + 1] != kOpenParen) {
            return {};
        }
        if (auto wait = require(i, 3, "truncated frame header")) {
            return *wait;
        }
        const std::uint8_t code = d_[i + 2];
        if (code == fn::tls) {
            return tlsCommand(i);
        }
        if (code != fn::parameter && code != fn::mqttSetting && code != fn::mqttLogin) {
            return undelimited(i, CommandKind::unknown, "unknown function code " + hexByte(code));
        }
        if (auto wait = require(i, 5, "truncated frame header")) {
            return *wait;
        }
        const std::size_t n = le16(d_ + i + 3);
        if (auto wait = require(i, 5 + n, "length beyond the data")) {
            return *wait;
        }
        const std::uint8_t* payload = d_ + i + 5;
        switch (code) {
        case fn::parameter:
            return command(i, 5 + n, parseParameterFrame(payload, n));
        case fn::mqttSetting:
            return command(i, 5 + n, parseMqttSetting(payload, n));
        default:
            return command(i, 5 + n, parseLogin(payload, n));
        }
    }

    Step tlsCommand(std::size_t i) const {
        if (auto wait = require(i, 5, "truncated TLS command")) {
            return *wait;
        }
        if (d_[i + 3] == 0x07 && d_[i + 4] == 0x09) {
            if (auto wait = require(i, 15, "truncated TLS-off command")) {
                return *wait;
            }
            const bool zeros = std::all_of(d_ + i + 5, d_ + i + 15, [](auto b) { return b == 0; });
            return command(i, 15,
                           zeros ? ok(CommandKind::tlsOff) : bad("TLS-off with non-zero bytes"));
        }
        if (d_[i + 3] == 0x07 && d_[i + 4] == 0x13) {
            if (auto wait = require(i, 15, "truncated mutual TLS header")) {
                return *wait;
            }
            if (d_[i + 5] != 0x11 || d_[i + 6] != 0x02) {
                return undelimited(i, CommandKind::unknown, "unknown TLS command");
            }
            std::size_t lengths[4];
            std::size_t total = 15;
            for (std::size_t k = 0; k < 4; ++k) {
                lengths[k] = le16(d_ + i + 7 + 2 * k);
                total += lengths[k];
            }
            if (auto wait = require(i, total, "mutual TLS parts beyond the data")) {
                return *wait;
            }
            const std::uint8_t* p = d_ + i + 15;
            Fields fields;
            const char* keys[] = {"caFile", "clientFile", "keyFile"};
            for (int k = 0; k < 3; ++k) {
                fields.push_back({keys[k], Bytes(p, p + lengths[k])});
                p += lengths[k];
            }
            fields.push_back({"password", textOf(p, lengths[3]), true});
            return command(i, total, ok(CommandKind::mutualTLS, std::move(fields)));
        }
        return undelimited(i, CommandKind::unknown, "unknown TLS command");
    }

    const std::uint8_t* d_;
    std::size_t size_;
    bool atEnd_;
};

} // namespace

DecodeResult decode(const std::uint8_t* data, std::size_t size, bool atEnd) {
    return Scanner(data, size, atEnd).run();
}

std::vector<DecodedCommand> decode(const Bytes& bytes) {
    return decode(bytes.data(), bytes.size(), true).commands;
}

std::vector<DecodedCommand> StreamDecoder::feed(const std::uint8_t* data, std::size_t size) {
    pending_.insert(pending_.end(), data, data + size);
    return run(false);
}

std::vector<DecodedCommand> StreamDecoder::finish() {
    return run(true);
}

std::vector<DecodedCommand> StreamDecoder::run(bool atEnd) {
    auto result = decode(pending_.data(), pending_.size(), atEnd);
    for (auto& command : result.commands) {
        command.offset += streamOffset_;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<long>(result.consumed));
    streamOffset_ += result.consumed;
    return std::move(result.commands);
}

} // namespace protocol
