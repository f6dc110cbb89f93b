#pragma once

#include "plans/field_text.hpp"
#include "ui/settings_screen_model.hpp"

namespace ui {

// The Network screen: the printer's name and the Ethernet addressing live in the sheet; the
// Wi-Fi addressing is the screen's own and starts afresh each time it is shown.
class NetworkSettingsModel : public SettingsScreenModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool useWiFiStaticIP MEMBER useWiFiStaticIP NOTIFY wifiChanged)
    Q_PROPERTY(QString wifiStaticIP MEMBER wifiStaticIP NOTIFY wifiChanged)
    Q_PROPERTY(QString wifiSubnet MEMBER wifiSubnet NOTIFY wifiChanged)
    Q_PROPERTY(QString wifiGateway MEMBER wifiGateway NOTIFY wifiChanged)

public:
    using SettingsScreenModel::SettingsScreenModel;
    ~NetworkSettingsModel() override { leaving(); }
    void keepValues(ScreenValues& values) const override {
        values.wifiAddress = {!useWiFiStaticIP, plans::fieldText(wifiStaticIP),
                              plans::fieldText(wifiSubnet), plans::fieldText(wifiGateway)};
    }

    Q_INVOKABLE void setPrinterName();
    Q_INVOKABLE void setEthernetDynamicIP();
    Q_INVOKABLE void setEthernetStaticIP();
    Q_INVOKABLE void setWiFiDynamicIP();
    Q_INVOKABLE void setWiFiStaticIP();

    bool useWiFiStaticIP = !ScreenValues{}.wifiAddress.isDynamic;
    QString wifiStaticIP = QString::fromStdString(ScreenValues{}.wifiAddress.ipAddress);
    QString wifiSubnet = QString::fromStdString(ScreenValues{}.wifiAddress.subnetMask);
    QString wifiGateway = QString::fromStdString(ScreenValues{}.wifiAddress.gateway);

signals:
    void wifiChanged();

protected:
    // Empty Ethernet texts get their defaults, written back to the sheet.
    void shown() override;
    QString restartMessage() const override {
        return QStringLiteral(
            "Network settings updated, please restart the printer to apply the settings");
    }

private:
    void sendIP(bool isWiFi, bool isDynamic, const QString& address, const QString& mask,
                const QString& gateway);
};

} // namespace ui
