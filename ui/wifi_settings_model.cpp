#include "ui/wifi_settings_model.hpp"

#include "plans/field_text.hpp"
#include "plans/screen_plans.hpp"

namespace ui {

void WiFiSettingsModel::set() {
    if (settings() == nullptr) {
        return;
    }
    run(plans::wifiPlan(plans::fieldText(settings()->wifiName),
                        plans::fieldText(settings()->wifiPassword)));
}

} // namespace ui
