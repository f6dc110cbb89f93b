#include "protocol/limits.hpp"

#include "protocol/certificate.hpp"

#include <cstdio>

namespace protocol {

namespace {
std::optional<std::string> refuse(std::string_view message) {
    return std::string(message);
}
} // namespace

std::optional<std::string> checkText(std::string_view field, std::string_view text,
                                     std::size_t maxBytes) {
    if (!isValidUtf8(text)) {
        return std::string(field) + " is not valid UTF-8 text";
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "U+%04X", byte);
            return std::string(field) + " contains the control character " + code;
        }
    }
    if (text.size() > maxBytes) {
        return std::string(field) + " too long (max " + std::to_string(maxBytes) + " bytes)";
    }
    return std::nullopt;
}

std::optional<std::string> checkPrinterName(std::string_view name) {
    return checkText("Printer name", name, kPrinterNameMax);
}

std::optional<std::string> checkWiFiCredentials(std::string_view ssid, std::string_view password) {
    if (auto problem = checkText("WIFI Name", ssid, kWiFiCredentialsMax)) {
        return problem;
    }
    if (auto problem = checkText("WIFI Password", password, kWiFiCredentialsMax)) {
        return problem;
    }
    return ssid.size() + password.size() > kWiFiCredentialsMax ? refuse(kWiFiTooLong)
                                                               : std::nullopt;
}

std::optional<std::string> checkOneWayCertificate(std::string_view certificate) {
    if (!isValidUtf8(certificate)) {
        return std::string("Certificate is not valid UTF-8 text");
    }
    return certificate.size() > kOneWayCertificateMax ? refuse(kCertificateTooLarge) : std::nullopt;
}

std::optional<std::string> checkMutualTLS(const Bytes& caFile, const Bytes& clientFile,
                                          const Bytes& keyFile, std::string_view password) {
    if (auto problem = checkText("TLS password", password, std::string_view::npos)) {
        return problem;
    }
    for (std::size_t size : {caFile.size(), clientFile.size(), keyFile.size(), password.size()}) {
        if (size > kMutualPartMax) {
            return refuse(kCertificateFileTooLarge);
        }
    }
    return std::nullopt;
}

bool isDottedQuad(std::string_view text) {
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        const auto end = text.find('.', start);
        const auto part = text.substr(start, end == std::string_view::npos ? end : end - start);
        if (part.empty() || part.size() > 3) {
            return false;
        }
        int value = 0;
        for (char c : part) {
            if (c < '0' || c > '9') {
                return false;
            }
            value = value * 10 + (c - '0');
        }
        if (value > 255 || ++parts > 4) {
            return false;
        }
        if (end == std::string_view::npos) {
            return parts == 4;
        }
        start = end + 1;
    }
}

std::optional<std::string> checkStaticAddresses(std::string_view ipAddress,
                                                std::string_view subnetMask,
                                                std::string_view gateway) {
    if (isDottedQuad(ipAddress) && isDottedQuad(subnetMask) && isDottedQuad(gateway)) {
        return std::nullopt;
    }
    return refuse(kInvalidStaticAddress);
}

} // namespace protocol
