#include "protocol/certificate.hpp"

#include <cctype>

namespace protocol {

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < text.size()) {
        const unsigned char c = at(i);
        std::size_t extra = 0;
        unsigned int lowest = 0; // smallest code point this length may encode (no overlongs)
        unsigned int codePoint = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, lowest = 0x80, codePoint = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, lowest = 0x800, codePoint = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, lowest = 0x10000, codePoint = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((at(i + k) & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (at(i + k) & 0x3F);
        }
        if (codePoint < lowest || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

namespace {

std::string latin1ToUtf8(const Bytes& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        if (b < 0x80) {
            text.push_back(static_cast<char>(b));
        } else {
            text.push_back(static_cast<char>(0xC0 | (b >> 6)));
            text.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
    return text;
}

} // namespace

std::string base64Lines(const Bytes& bytes, std::size_t lineLength) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string plain;
    plain.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (n > 1) {
            group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        }
        if (n > 2) {
            group |= bytes[i + 2];
        }
        plain.push_back(alphabet[(group >> 18) & 0x3F]);
        plain.push_back(alphabet[(group >> 12) & 0x3F]);
        plain.push_back(n > 1 ? alphabet[(group >> 6) & 0x3F] : '=');
        plain.push_back(n > 2 ? alphabet[group & 0x3F] : '=');
    }
    if (lineLength == 0) {
        return plain;
    }
    std::string lines;
    lines.reserve(plain.size() + plain.size() / lineLength);
    for (std::size_t i = 0; i < plain.size(); i += lineLength) {
        if (i != 0) {
            lines.push_back('\n');
        }
        lines.append(plain, i, lineLength);
    }
    return lines;
}

std::string normalizeCertificateFile(const Bytes& bytes, std::string_view extension) {
    std::string text(bytes.begin(), bytes.end());
    if (!isValidUtf8(text)) {
        text = latin1ToUtf8(bytes);
    }
    if (text.find("BEGIN") != std::string::npos) {
        return text;
    }
    std::string lowered(extension);
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string label = lowered == "key" ? "PRIVATE KEY" : "CERTIFICATE";
    return "-----BEGIN " + label + "-----\n" + base64Lines(bytes, 64) + "\n-----END " + label +
           "-----\n";
}

std::string_view trimWhitespace(std::string_view text) {
    // ASCII white space and line breaks, plus U+0085, U+00A0 and the Unicode spaces and line
    // separators a pasted certificate may carry.
    static constexpr std::string_view multiByteSpaces[] = {
        "\xC2\x85",     "\xC2\xA0",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
        "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
        "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
        "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80"};
    const auto isAsciiSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    bool changed = true;
    while (changed && !text.empty()) {
        changed = false;
        if (isAsciiSpace(text.front())) {
            text.remove_prefix(1), changed = true;
        } else if (isAsciiSpace(text.back())) {
            text.remove_suffix(1), changed = true;
        } else {
            for (auto space : multiByteSpaces) {
                if (text.starts_with(space)) {
                    text.remove_prefix(space.size()), changed = true;
                } else if (text.ends_with(space)) {
                    text.remove_suffix(space.size()), changed = true;
                }
            }
        }
    }
    return text;
}

} // namespace protocol
