#pragma once

#include "protocol/bytes.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Turns command bytes back into the commands they hold. Total: any input yields a result, and
// after bytes it cannot place it resumes at the next plausible command (12 54, or 1F 28).
namespace protocol {

enum class CommandKind {
    communicationTest,
    brokerAddress,
    login,
    clientId,
    subscribeSource,
    receiptPublish,
    publishQoS,
    heartbeatTopic,
    receiptReplyTopic,
    heartbeatInterval,
    keepAlive,
    clock,
    dnsTest,
    oneWayTLS,
    tlsOff,
    mutualTLS,
    basicSettings,
    printerName,
    ipConfig,
    wifi,
    unknown,   // well delimited, but not a command we know
    malformed, // looks like a command but breaks its own rules
};

// Stable short name, as printed and in JSON ("mqtt.broker", "basic", "malformed", ...).
std::string_view commandName(CommandKind kind);

struct Absent {
    friend bool operator==(Absent, Absent) = default;
};
using FieldValue = std::variant<Absent, bool, std::uint64_t, std::string, Bytes>;

struct Field {
    std::string key;
    FieldValue value;
    bool secret = false; // a password: rendered as its length unless asked
};

struct DecodedCommand {
    CommandKind kind = CommandKind::unknown;
    std::size_t offset = 0; // where it starts in the input
    std::size_t length = 0; // how many input bytes it covers
    std::vector<Field> fields;
    std::string reason; // why it is unknown or malformed

    const Field* field(std::string_view key) const;
    std::optional<std::string> text(std::string_view key) const;
    std::optional<std::uint64_t> number(std::string_view key) const;
    std::optional<bool> flag(std::string_view key) const;
    bool isAbsent(std::string_view key) const;
};

struct DecodeResult {
    std::vector<DecodedCommand> commands;
    std::size_t consumed = 0; // bytes accounted for; with atEnd, all of them
};

// With atEnd false, decoding stops in front of a command whose bytes have not all arrived yet,
// and `consumed` tells where to continue once more bytes are there.
DecodeResult decode(const std::uint8_t* data, std::size_t size, bool atEnd);
std::vector<DecodedCommand> decode(const Bytes& bytes);

// Decodes a byte stream that arrives in pieces (a TCP connection, a serial line).
class StreamDecoder {
public:
    std::vector<DecodedCommand> feed(const std::uint8_t* data, std::size_t size);
    // The stream ended: whatever is still pending is reported as it stands.
    std::vector<DecodedCommand> finish();
    std::size_t pendingBytes() const { return pending_.size(); }

private:
    std::vector<DecodedCommand> run(bool atEnd);
    Bytes pending_;
    std::size_t streamOffset_ = 0; // stream position of pending_[0]
};

struct RenderOptions {
    bool showSecrets = false;
};
// One readable line, e.g. `wifi ssid="home" password=(6 bytes)`.
std::string renderLine(const DecodedCommand& command, RenderOptions options = {});
// One JSON object on one line.
std::string renderJson(const DecodedCommand& command, RenderOptions options = {});

std::string jsonQuoted(std::string_view text);

} // namespace protocol
