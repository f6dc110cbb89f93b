#include "protocol/limits.hpp"

namespace protocol {

namespace {
std::optional<std::string> refuse(std::string_view message) {
    return std::string(message);
}
} // namespace

std::optional<std::string> checkPrinterName(std::string_view name) {
    return name.size() > kPrinterNameMax ? refuse(kPrinterNameTooLong) : std::nullopt;
}

std::optional<std::string> checkWiFiCredentials(std::string_view ssid, std::string_view password) {
    return ssid.size() + password.size() > kWiFiCredentialsMax ? refuse(kWiFiTooLong)
                                                               : std::nullopt;
}

std::optional<std::string> checkOneWayCertificate(std::string_view certificate) {
    return certificate.size() > kOneWayCertificateMax ? refuse(kCertificateTooLarge) : std::nullopt;
}

std::optional<std::string> checkMutualTLS(const Bytes& caFile, const Bytes& clientFile,
                                          const Bytes& keyFile, std::string_view password) {
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
