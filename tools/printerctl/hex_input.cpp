#include "tools/printerctl/hex_input.hpp"

namespace printerctl {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '\v' || c == '\f';
}

} // namespace

HexParse parseHexText(std::string_view text) {
    HexParse result;
    std::size_t lineStart = 0;
    while (lineStart < text.size()) {
        auto lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos) {
            lineEnd = text.size();
        }
        auto line = text.substr(lineStart, lineEnd - lineStart);
        lineStart = lineEnd + 1;
        if (const auto colon = line.rfind(": "); colon != std::string_view::npos) {
            line.remove_prefix(colon + 2);
        }
        std::size_t i = 0;
        while (i < line.size()) {
            if (isSeparator(line[i])) {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < line.size() && !isSeparator(line[end])) {
                ++end;
            }
            auto token = line.substr(i, end - i);
            i = end;
            const auto original = token;
            if (token.starts_with("0x") || token.starts_with("0X")) {
                token.remove_prefix(2);
            }
            if (token.empty() || token.size() % 2 != 0) {
                result.badToken = std::string(original);
                return result;
            }
            for (std::size_t k = 0; k < token.size(); k += 2) {
                const int high = hexValue(token[k]), low = hexValue(token[k + 1]);
                if (high < 0 || low < 0) {
                    result.badToken = std::string(original);
                    return result;
                }
                result.bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
            }
        }
    }
    return result;
}

} // namespace printerctl
