#include "ui/basic_settings_model.hpp"

#include "plans/screen_plans.hpp"
#include "protocol/basic_settings.hpp"

namespace ui {

void BasicSettingsModel::setLanguage(int id) {
    if (id != language_ && protocol::findLanguageById(static_cast<std::uint8_t>(id)) != nullptr) {
        language_ = id;
        emit languageChanged();
    }
}

QString BasicSettingsModel::languageTitle() const {
    return QString::fromUtf8(protocol::languageTitle(static_cast<std::uint8_t>(language_)).data());
}

QVariantList BasicSettingsModel::languageOptions() {
    QVariantList options;
    for (const auto& option : protocol::languageOptions()) {
        options.append(QVariantMap{
            {QStringLiteral("id"), option.id},
            {QStringLiteral("title"),
             QString::fromUtf8(option.title.data(), static_cast<qsizetype>(option.title.size()))}});
    }
    return options;
}

QVariantList BasicSettingsModel::baudRates() {
    QVariantList rates;
    for (int rate : protocol::kBaudRates) {
        rates.append(rate);
    }
    return rates;
}

void BasicSettingsModel::set() {
    if (settings() == nullptr) {
        return;
    }
    const PrinterSettingsModel& values = *settings();
    run(plans::basicPlan({values.baudRate, values.cutterEnabled, values.beeperEnabled,
                          values.density, static_cast<std::uint8_t>(language_), useFont12x24}));
}

} // namespace ui
