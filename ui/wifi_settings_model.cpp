#include "ui/wifi_settings_model.hpp"

#include "protocol/frame.hpp"
#include "protocol/limits.hpp"
#include "protocol/wifi_command.hpp"

namespace ui {

void WiFiSettingsModel::set() {
    if (settings() == nullptr) {
        return;
    }
    const std::string ssid = settings()->wifiName.toStdString();
    const std::string password = settings()->wifiPassword.toStdString();
    if (refuse(protocol::checkWiFiCredentials(ssid, password))) {
        return;
    }
    send(protocol::makeWiFiCommand(ssid, password), protocol::kWiFiLogPrefix);
    setShowRestartAlert(true);
}

} // namespace ui
