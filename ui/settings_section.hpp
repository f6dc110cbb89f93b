#pragma once

#include <QString>
#include <array>
#include <optional>

namespace ui {

// The places the settings sheet can show: its hub, one category screen, or the saving or applying
// of a profile.
enum class SettingsSection { hub, basic, network, wifi, mqtt, saveProfile, applyProfile };

inline constexpr std::array<SettingsSection, 7> kAllSettingsSections = {
    SettingsSection::hub,         SettingsSection::basic, SettingsSection::network,
    SettingsSection::wifi,        SettingsSection::mqtt,  SettingsSection::saveProfile,
    SettingsSection::applyProfile};

QString rawValue(SettingsSection section);
std::optional<SettingsSection> settingsSectionFromRaw(const QString& raw);
// The sheet's navigation title while the section is shown.
QString navigationTitle(SettingsSection section);

} // namespace ui
