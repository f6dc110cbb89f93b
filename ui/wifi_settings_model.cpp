#include "ui/wifi_settings_model.hpp"

#include "plans/screen_plans.hpp"

namespace ui {

void WiFiSettingsModel::set() {
    if (settings() == nullptr) {
        return;
    }
    run(plans::wifiPlan(settings()->wifiName.toStdString(),
                        settings()->wifiPassword.toStdString()));
}

} // namespace ui
