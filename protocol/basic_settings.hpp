#pragma once

#include "protocol/bytes.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

// The one command that sets the printer's basic parameters together (parameter frame, letter
// "s", N = 0x0C), and the character-set table the language picker shows.
namespace protocol {

struct LanguageOption {
    std::uint8_t id; // the byte sent
    std::string_view title;
    friend bool operator==(const LanguageOption&, const LanguageOption&) = default;
};

// All 49 rows, in picker order.
std::span<const LanguageOption> languageOptions();
// Title of the first row with this id; "Simplified Chinese" when none has it.
std::string_view languageTitle(std::uint8_t id);
// The row with exactly this title, if any.
const LanguageOption* findLanguageByTitle(std::string_view title);
const LanguageOption* findLanguageById(std::uint8_t id);

// The rates the screen offers, in order; index = code.
inline constexpr std::array<int, 8> kBaudRates = {4800,  9600,   19200,  38400,
                                                  57600, 115200, 230400, 256000};
inline constexpr std::uint8_t kDefaultLanguageId = 0xFF;

// Code of a rate in kBaudRates; 0x01 (9600) for any other rate.
std::uint8_t baudRateCode(int baudRate);

// Density 0 light, 1 medium, 2 dark; a value outside 0...255 is clamped into the byte.
Bytes makeBasicSettingsCommand(int baudRate, bool cutterEnabled, bool beeperEnabled, int density,
                               std::uint8_t characterSetId, bool useFont12x24);

} // namespace protocol
