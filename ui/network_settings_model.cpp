#include "ui/network_settings_model.hpp"

#include "plans/field_text.hpp"
#include "plans/screen_plans.hpp"

namespace ui {

void NetworkSettingsModel::shown() {
    PrinterSettingsModel& values = *settings();
    // Only a text with no characters at all counts as empty: spaces are the user's.
    const auto fill = [&values](QString& text, const char* fallback,
                                void (PrinterSettingsModel::*changed)()) {
        if (text.isEmpty()) {
            text = QLatin1String(fallback);
            emit(values.*changed)();
        }
    };
    fill(values.staticIP, "192.168.1.100", &PrinterSettingsModel::staticIPChanged);
    fill(values.subnet, "255.255.255.0", &PrinterSettingsModel::subnetChanged);
    fill(values.gateway, "192.168.1.1", &PrinterSettingsModel::gatewayChanged);
}

void NetworkSettingsModel::setPrinterName() {
    if (settings() == nullptr) {
        return;
    }
    run(plans::printerNamePlan(plans::fieldText(settings()->printerName)));
}

void NetworkSettingsModel::sendIP(bool isWiFi, bool isDynamic, const QString& address,
                                  const QString& mask, const QString& gateway) {
    run(plans::ipPlan(isWiFi, {isDynamic, plans::fieldText(address), plans::fieldText(mask),
                               plans::fieldText(gateway)}));
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
