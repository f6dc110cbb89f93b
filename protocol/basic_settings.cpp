#include "protocol/basic_settings.hpp"

#include "protocol/parameter_commands.hpp"

#include <algorithm>

namespace protocol {

namespace {

constexpr std::array<LanguageOption, 49> kLanguages{{
    {255, "Simplified Chinese"},
    {254, "Traditional Chinese"},
    {253, "UTF-8"},
    {252, "Japanese"},
    {251, "Korean"},
    {0, "CP437 [US, European Standard]"},
    {1, "KataKana [Katakana]"},
    {2, "CP850 [Multilingual]"},
    {3, "CP860 [Portuguese]"},
    {4, "CP863 [Canadian-French]"},
    {5, "CP865 [Nordic]"},
    {6, "WCP1251 [Slavic]"},
    {7, "CP866 [Slavic 2]"},
    {8, "MIK [Slavic/Bulgarian]"},
    {9, "CP755 [Eastern European, Latvian 2]"},
    {10, "Iran, Persian"},
    {15, "CP862 [Hebrew]"},
    {16, "WCP1252 [Latin 1]"},
    {17, "WCP1253 [Greek]"},
    {18, "CP852 [Latin 2]"},
    {19, "CP858 [Latin 1+Euro Symbols]"},
    {20, "Iran II [Persian]"},
    {21, "Latvian"},
    {22, "CP864 [Arabic]"},
    {23, "ISO-8859-1 [Western European]"},
    {24, "CP737 [Greek]"},
    {25, "WCP1257 [Baltic]"},
    {26, "Thai"},
    {27, "CP720 [Arabic]"},
    {28, "CP855"},
    {29, "CP857 [Turkish]"},
    {30, "WCP1250 [Central European]"},
    {31, "CP775"},
    {32, "WCP1254 [Turkish]"},
    {33, "WCP1255 [Hebrew]"},
    {34, "WCP1256 [Arabic]"},
    {35, "WCP1258 [Vietnamese]"},
    {36, "ISO-8859-2 [Latin 2]"},
    {37, "ISO-8859-3 [Latin 3]"},
    {38, "ISO-8859-4 [Baltic]"},
    {39, "ISO-8859-5 [Slavic]"},
    {40, "ISO-8859-6 [Arabic]"},
    {41, "ISO-8859-7 [Greek]"},
    {42, "ISO-8859-8 [Hebrew]"},
    {43, "ISO-8859-9 [Turkish]"},
    {44, "ISO-8859-15 [Latin 9]"},
    {45, "Thai 2"},
    {46, "CP856"},
    {47, "CP874"},
}};

} // namespace

std::span<const LanguageOption> languageOptions() {
    return kLanguages;
}

const LanguageOption* findLanguageById(std::uint8_t id) {
    const auto it = std::ranges::find(kLanguages, id, &LanguageOption::id);
    return it == kLanguages.end() ? nullptr : &*it;
}

const LanguageOption* findLanguageByTitle(std::string_view title) {
    const auto it = std::ranges::find(kLanguages, title, &LanguageOption::title);
    return it == kLanguages.end() ? nullptr : &*it;
}

std::string_view languageTitle(std::uint8_t id) {
    const auto* row = findLanguageById(id);
    return row ? row->title : kLanguages.front().title;
}

std::uint8_t baudRateCode(int baudRate) {
    const auto it = std::ranges::find(kBaudRates, baudRate);
    return it == kBaudRates.end() ? 0x01 : static_cast<std::uint8_t>(it - kBaudRates.begin());
}

Bytes makeBasicSettingsCommand(int baudRate, bool cutterEnabled, bool beeperEnabled, int density,
                               std::uint8_t characterSetId, bool useFont12x24) {
    // The on/off fields carry the inverse: 0x00 means the feature is on.
    // Twelve fields always fit the frame.
    return makeParameterFrame(letter::basicSettings,
                              {
                                  baudRateCode(baudRate),
                                  static_cast<std::uint8_t>(cutterEnabled ? 0x00 : 0x01),
                                  static_cast<std::uint8_t>(beeperEnabled ? 0x00 : 0x01),
                                  0x00,
                                  0x00,
                                  static_cast<std::uint8_t>(std::clamp(density, 0, 255)),
                                  characterSetId,
                                  0x00,
                                  static_cast<std::uint8_t>(useFont12x24 ? 0x00 : 0x01),
                              })
        .value();
}

} // namespace protocol
