#include "ui/settings_section.hpp"

namespace ui {

QString rawValue(SettingsSection section) {
    switch (section) {
    case SettingsSection::hub:
        return QStringLiteral("hub");
    case SettingsSection::basic:
        return QStringLiteral("basic");
    case SettingsSection::network:
        return QStringLiteral("network");
    case SettingsSection::wifi:
        return QStringLiteral("wifi");
    case SettingsSection::mqtt:
        return QStringLiteral("mqtt");
    case SettingsSection::saveProfile:
        return QStringLiteral("saveProfile");
    case SettingsSection::applyProfile:
        return QStringLiteral("applyProfile");
    }
    return {};
}

std::optional<SettingsSection> settingsSectionFromRaw(const QString& raw) {
    for (SettingsSection section : kAllSettingsSections) {
        if (rawValue(section) == raw) {
            return section;
        }
    }
    return std::nullopt;
}

QString navigationTitle(SettingsSection section) {
    switch (section) {
    case SettingsSection::hub:
        return QStringLiteral("Parameter Settings");
    case SettingsSection::basic:
        return QStringLiteral("Basic Settings");
    case SettingsSection::network:
        return QStringLiteral("Network Settings");
    case SettingsSection::wifi:
        return QStringLiteral("WIFI Settings");
    case SettingsSection::mqtt:
        return QStringLiteral("MQTT Settings");
    case SettingsSection::saveProfile:
        return QStringLiteral("Save as Profile");
    case SettingsSection::applyProfile:
        return QStringLiteral("Apply Profile");
    }
    return {};
}

} // namespace ui
