#include "ui/settings_screen_model.hpp"

namespace ui {

void SettingsScreenModel::setSettings(PrinterSettingsModel* settings) {
    if (settings == settings_) {
        return;
    }
    settings_ = settings;
    if (settings_) {
        content_ = settings_->content();
        connectionType_ = settings_->connectionType();
    }
    emit settingsChanged();
    if (settings_) {
        shown();
    }
}

void SettingsScreenModel::setShowRestartAlert(bool show) {
    if (show != showRestartAlert_) {
        showRestartAlert_ = show;
        emit alertsChanged();
    }
}

void SettingsScreenModel::setShowRefusal(bool show) {
    if (show != showRefusal_) {
        showRefusal_ = show;
        emit alertsChanged();
    }
}

void SettingsScreenModel::stepRefused(const QString& message) {
    refusal_ = message;
    showRefusal_ = true;
    emit alertsChanged();
}

void SettingsScreenModel::run(plans::Plan plan) {
    // The sheet fixed its transport when it opened; it stays the one this screen sends over.
    ContentViewModel* content = settings_ ? settings_->content() : content_.data();
    const auto type = connection::connectionTypeFromRaw(
        (settings_ ? settings_->connectionType() : connectionType_).toStdString());
    connection::Transport* transport =
        content != nullptr && type ? &content->transports()[*type] : nullptr;
    std::vector<bool> confirms;
    for (const plans::Step& step : plan.steps) {
        confirms.push_back(step.confirms);
    }
    auto* run = new plans::PlanRun(std::move(plan), transport, scheduler_);
    connect(run, &plans::PlanRun::stepRefused, this,
            [this](int, const QString& message) { stepRefused(message); });
    connect(run, &plans::PlanRun::stepHandedOver, this, [this, confirms](int index, qint64) {
        if (confirms[static_cast<std::size_t>(index)]) {
            stepConfirmed();
        }
    });
    emit planStarted(run);
    run->start();
}

} // namespace ui
