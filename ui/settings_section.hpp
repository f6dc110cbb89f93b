#pragma once

#include <QString>
#include <array>
#include <optional>

namespace ui {

// The places the settings sheet can show: its hub, or one category screen.
enum class SettingsSection { hub, basic, network, wifi, mqtt };

inline constexpr std::array<SettingsSection, 5> kAllSettingsSections = {
    SettingsSection::hub, SettingsSection::basic, SettingsSection::network, SettingsSection::wifi,
    SettingsSection::mqtt};

QString rawValue(SettingsSection section);
std::optional<SettingsSection> settingsSectionFromRaw(const QString& raw);
// The sheet's navigation title while the section is shown.
QString navigationTitle(SettingsSection section);

} // namespace ui
