// Readable and JSON renderings of decoded commands.
#include "protocol/basic_settings.hpp"
#include "protocol/certificate.hpp"
#include "protocol/decoder.hpp"
#include "protocol/frame.hpp"

#include <cstdio>

namespace protocol {

std::string jsonQuoted(std::string_view text) {
    std::string out = "\"";
    const auto escapeByte = [&](unsigned char c) {
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04X", c);
        out += code;
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            escapeByte(c);
        } else if (c >= 0x80) {
            // Keep valid UTF-8 sequences; show a stray byte as the Latin-1 character it would be.
            const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > 1 && i + length <= text.size() && isValidUtf8(text.substr(i, length))) {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
            escapeByte(c);
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
    return out;
}

namespace {

std::string bytesText(std::size_t n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

std::string byteCount(std::size_t n) {
    return "(" + bytesText(n) + ")";
}

std::string shortHex(const Bytes& bytes) {
    constexpr std::size_t shown = 32;
    if (bytes.size() <= shown) {
        return hexText(bytes);
    }
    return hexText(Bytes(bytes.begin(), bytes.begin() + shown)) + " …";
}

std::string zoneText(std::uint64_t zone) {
    const auto minutes = zone * 15;
    std::string text = "UTC+" + std::to_string(minutes / 60);
    if (minutes % 60 != 0) {
        text += ":" + std::to_string(minutes % 60);
    }
    return text;
}

// The value of one field as the readable line shows it.
std::string readableValue(CommandKind kind, const Field& f, RenderOptions options) {
    if (std::holds_alternative<Absent>(f.value)) {
        return "(none)";
    }
    if (const auto* b = std::get_if<bool>(&f.value)) {
        if (f.key == "font12x24") {
            return *b ? "12x24" : "9x17";
        }
        if (f.key == "dynamic") {
            return *b ? "dhcp" : "static";
        }
        return *b ? "on" : "off";
    }
    if (const auto* bytes = std::get_if<Bytes>(&f.value)) {
        return f.key == "bytes" ? shortHex(*bytes) : byteCount(bytes->size());
    }
    if (const auto* text = std::get_if<std::string>(&f.value)) {
        if (f.secret && !options.showSecrets) {
            return byteCount(text->size());
        }
        if (kind == CommandKind::ipConfig) { // interface names and dotted addresses, unquoted
            return *text;
        }
        if (f.key == "certificate") {
            const auto firstLine = std::string_view(*text).substr(0, text->find('\n'));
            return byteCount(text->size()) + " " + jsonQuoted(firstLine.substr(0, 64));
        }
        return jsonQuoted(*text);
    }
    const auto n = std::get<std::uint64_t>(f.value);
    if (f.key == "density") {
        static constexpr const char* names[] = {"light", "medium", "dark"};
        return n < 3 ? names[n] : std::to_string(n);
    }
    if (f.key == "codepage") {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", static_cast<unsigned>(n));
        const auto* row = findLanguageById(static_cast<std::uint8_t>(n));
        return std::string(hex) + " " + (row ? jsonQuoted(row->title) : "(not in table)");
    }
    if (f.key == "source") {
        static constexpr const char* names[] = {"cpu-uuid", "mac", "imei"};
        return n < 3 ? names[n] : std::to_string(n);
    }
    if (f.key == "publish") {
        return n == 1 ? "on" : n == 0 ? "off" : std::to_string(n);
    }
    if (f.key == "zone") {
        return std::to_string(n) + " (" + zoneText(n) + ")";
    }
    return std::to_string(n);
}

std::string readableKey(const Field& f) {
    if (f.key == "font12x24") {
        return "font";
    }
    if (f.key == "dynamic") {
        return "mode";
    }
    return f.key;
}

} // namespace

std::string renderLine(const DecodedCommand& command, RenderOptions options) {
    std::string line(commandName(command.kind));
    if (!command.reason.empty()) {
        line += " (" + command.reason + ")";
    }
    for (const auto& f : command.fields) {
        if (f.key == "bytes") {
            line += " " + bytesText(command.length) + ": ";
            line += readableValue(command.kind, f, options);
            continue;
        }
        line += " " + readableKey(f) + "=" + readableValue(command.kind, f, options);
    }
    return line;
}

std::string renderJson(const DecodedCommand& command, RenderOptions options) {
    std::string json = "{\"offset\":" + std::to_string(command.offset) +
                       ",\"length\":" + std::to_string(command.length) +
                       ",\"command\":" + jsonQuoted(commandName(command.kind));
    if (!command.reason.empty()) {
        json += ",\"reason\":" + jsonQuoted(command.reason);
    }
    json += ",\"fields\":{";
    bool first = true;
    for (const auto& f : command.fields) {
        json += first ? "" : ",";
        first = false;
        const auto* secret =
            f.secret && !options.showSecrets ? std::get_if<std::string>(&f.value) : nullptr;
        if (secret != nullptr) {
            json += jsonQuoted(f.key + "Length") + ":" + std::to_string(secret->size());
            continue;
        }
        json += jsonQuoted(f.key) + ":";
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, Absent>) {
                    json += "null";
                } else if constexpr (std::is_same_v<T, bool>) {
                    json += v ? "true" : "false";
                } else if constexpr (std::is_same_v<T, std::uint64_t>) {
                    json += std::to_string(v);
                } else if constexpr (std::is_same_v<T, std::string>) {
                    json += jsonQuoted(v);
                } else {
                    json += jsonQuoted(hexText(v));
                }
            },
            f.value);
    }
    json += "}}";
    return json;
}

} // namespace protocol
