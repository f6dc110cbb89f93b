#include "ui/network_settings_model.hpp"

#include "protocol/frame.hpp"
#include "protocol/limits.hpp"
#include "protocol/parameter_commands.hpp"

namespace ui {

void NetworkSettingsModel::shown() {
    PrinterSettingsModel& values = *settings();
    // Only a text with no characters at all counts as empty: spaces are the user's.
    const auto fill = [](QString& text, const char* fallback) {
        if (text.isEmpty()) {
            text = QLatin1String(fallback);
        }
    };
    fill(values.staticIP, "192.168.1.100");
    fill(values.subnet, "255.255.255.0");
    fill(values.gateway, "192.168.1.1");
    emit values.valuesChanged();
}

void NetworkSettingsModel::setPrinterName() {
    if (settings() == nullptr) {
        return;
    }
    const std::string name = settings()->printerName.toStdString();
    if (refuse(protocol::checkPrinterName(name))) {
        return;
    }
    send(protocol::makePrinterNameCommand(name), {});
}

void NetworkSettingsModel::sendIP(bool isWiFi, bool isDynamic, const QString& address,
                                  const QString& mask, const QString& gateway) {
    const std::string a = address.toStdString();
    const std::string m = mask.toStdString();
    const std::string g = gateway.toStdString();
    if (!isDynamic && refuse(protocol::checkStaticAddresses(a, m, g))) {
        return;
    }
    send(protocol::makeIPCommand(isWiFi, isDynamic, a, m, g), protocol::kIPLogPrefix);
    setShowRestartAlert(true);
}

void NetworkSettingsModel::setEthernetDynamicIP() {
    sendIP(false, true, {}, {}, {});
}

void NetworkSettingsModel::setEthernetStaticIP() {
    if (settings() != nullptr) {
        sendIP(false, false, settings()->staticIP, settings()->subnet, settings()->gateway);
    }
}

void NetworkSettingsModel::setWiFiDynamicIP() {
    sendIP(true, true, {}, {}, {});
}

void NetworkSettingsModel::setWiFiStaticIP() {
    sendIP(true, false, wifiStaticIP, wifiSubnet, wifiGateway);
}

} // namespace ui
