#pragma once

#include "ui/settings_screen_model.hpp"

namespace ui {

// The Wi-Fi screen: the network name and password live in the sheet.
class WiFiSettingsModel : public SettingsScreenModel {
    Q_OBJECT
    QML_ELEMENT

public:
    using SettingsScreenModel::SettingsScreenModel;

    // "Set": the credentials as they stand now.
    Q_INVOKABLE void set();

protected:
    QString restartMessage() const override {
        return QStringLiteral(
            "WIFI settings updated, please restart the printer to apply the settings");
    }
};

} // namespace ui
