#pragma once

#include "protocol/bytes.hpp"

#include <optional>
#include <string>
#include <string_view>

// What a frame cannot carry. The builders stay total; callers run the check first and show its
// message instead of sending a frame whose length field would disagree with its content.
// Each check returns the message to show, or nothing when the input fits.
namespace protocol {

inline constexpr std::string_view kPrinterNameTooLong = "Printer name too long (max 251 bytes)";
inline constexpr std::string_view kWiFiTooLong =
    "WIFI name and password too long (max 248 bytes together)";
inline constexpr std::string_view kCertificateTooLarge = "Certificate too large (max 65532 bytes)";
inline constexpr std::string_view kCertificateFileTooLarge =
    "Certificate file too large (max 65535 bytes)";
inline constexpr std::string_view kInvalidStaticAddress =
    "Please enter a valid IP address, subnet mask and gateway";

inline constexpr std::size_t kPrinterNameMax = 251;
inline constexpr std::size_t kWiFiCredentialsMax = 248;
inline constexpr std::size_t kOneWayCertificateMax = 65532;
inline constexpr std::size_t kMutualPartMax = 65535;

std::optional<std::string> checkPrinterName(std::string_view name);
std::optional<std::string> checkWiFiCredentials(std::string_view ssid, std::string_view password);
std::optional<std::string> checkOneWayCertificate(std::string_view certificate);
std::optional<std::string> checkMutualTLS(const Bytes& caFile, const Bytes& clientFile,
                                          const Bytes& keyFile, std::string_view password);
// Each text must be four dotted decimal numbers 0...255, digits only.
std::optional<std::string> checkStaticAddresses(std::string_view ipAddress,
                                                std::string_view subnetMask,
                                                std::string_view gateway);
bool isDottedQuad(std::string_view text);

} // namespace protocol
