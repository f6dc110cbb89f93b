#include "ui/printer_settings_model.hpp"

#include "plans/field_text.hpp"
#include "ui/settings_screen_model.hpp"

namespace ui {

void PrinterSettingsModel::setText(std::string& field, const QString& value,
                                   void (PrinterSettingsModel::*changed)()) {
    std::string converted = plans::fieldText(value);
    if (converted != field) {
        field = std::move(converted);
        emit(this->*changed)();
    }
}

void PrinterSettingsModel::setContent(ContentViewModel* content) {
    if (content != content_) {
        content_ = content;
        emit contentChanged();
    }
}

void PrinterSettingsModel::setConnectionType(const QString& type) {
    if (type != connectionType_) {
        connectionType_ = type;
        emit connectionTypeChanged();
    }
}

void PrinterSettingsModel::setInitialSection(const QString& rawSection) {
    if (const auto section = settingsSectionFromRaw(rawSection)) {
        initialSection_ = *section;
        currentSection_ = *section;
        emit currentSectionChanged();
    }
}

void PrinterSettingsModel::enter(const QString& rawSection) {
    if (const auto section = settingsSectionFromRaw(rawSection);
        section && *section != currentSection_) {
        currentSection_ = *section;
        emit currentSectionChanged();
    }
}

void PrinterSettingsModel::screenShown(SettingsScreenModel* screen) {
    std::erase_if(screens_, [](const QPointer<SettingsScreenModel>& s) { return s.isNull(); });
    screens_.emplace_back(screen);
}

void PrinterSettingsModel::screenLeft(SettingsScreenModel* screen) {
    screen->keepValues(screenValues_);
    std::erase(screens_, screen);
}

plans::Profile PrinterSettingsModel::profile() const {
    ScreenValues values = screenValues_;
    for (const auto& screen : screens_) {
        if (screen) {
            screen->keepValues(values);
        }
    }
    plans::Profile p;
    p.basic = plans::BasicFields{baudRate, cutterEnabled,   beeperEnabled,
                                 density,  values.language, values.useFont12x24};
    p.name = plans::fieldText(printerName);
    p.ethernet = plans::AddressFields{!useStaticIP, plans::fieldText(staticIP),
                                      plans::fieldText(subnet), plans::fieldText(gateway)};
    p.wifiAddress = values.wifiAddress;
    p.wifi = plans::WifiCredentials{plans::fieldText(wifiName), plans::fieldText(wifiPassword)};
    p.broker = *broker_;
    p.broker->useDefaultClientID = values.useDefaultClientID;
    p.topics = values.topics;
    p.timing = values.timing;
    p.tls = values.tls;
    return p;
}

QVariantList PrinterSettingsModel::hubRows() {
    const auto row = [](const char* icon, const QString& title, const QString& subtitle,
                        SettingsSection section) {
        return QVariantMap{{QStringLiteral("icon"), QLatin1String(icon)},
                           {QStringLiteral("title"), title},
                           {QStringLiteral("subtitle"), subtitle},
                           {QStringLiteral("section"), rawValue(section)}};
    };
    return {
        row("slider.horizontal.3", QStringLiteral("Basic Settings"),
            QStringLiteral("Baud rate, cutter, beeper, density, language"), SettingsSection::basic),
        row("network", QStringLiteral("Network Settings"),
            QStringLiteral("Printer name, Ethernet & Wi\u2011Fi IP"), SettingsSection::network),
        row("wifi", QStringLiteral("WIFI Settings"), QStringLiteral("SSID and password (2.4 GHz)"),
            SettingsSection::wifi),
        row("antenna.radiowaves.left.and.right", QStringLiteral("MQTT Settings"),
            QStringLiteral("Broker, topics, heartbeat, TLS"), SettingsSection::mqtt),
    };
}

} // namespace ui
