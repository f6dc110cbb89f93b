#pragma once

#include "protocol/bytes.hpp"

#include <optional>
#include <string>
#include <string_view>

// What a frame cannot carry, and what a text for the printer may hold. A builder gives no frame
// for input that does not fit; these checks say why first, in the words the user is shown.
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
// The MQTT texts in the 16-bit setting frame: the sub-code, the text, its terminator and the
// trailing field (two port bytes, one zone byte, or none) within 65,535 bytes.
inline constexpr std::size_t kBrokerServerMax = 65531;
inline constexpr std::size_t kNtpServerMax = 65532;
inline constexpr std::size_t kMqttTextMax = 65533; // client ID, topics, DNS test page

// A text the printer stores or uses: UTF-8, no control character (C0 or DEL: a NUL would end
// the text early on the printer, a line break or escape would garble what it shows or sends),
// and at most `maxBytes` bytes. The message names the field: "Client ID too long (max 65533
// bytes)", "Printer name contains the control character U+0000".
std::optional<std::string> checkText(std::string_view field, std::string_view text,
                                     std::size_t maxBytes);

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
