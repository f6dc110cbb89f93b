#include "ui/settings_screen_model.hpp"

#include "connection/console.hpp"
#include "connection/send_over_connection.hpp"
#include "protocol/frame.hpp"

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

void SettingsScreenModel::send(const protocol::Bytes& bytes, std::string_view logPrefix,
                               bool logFirst) {
    const auto log = [&] {
        if (!logPrefix.empty()) {
            connection::consoleLine(protocol::hexDumpLine(logPrefix, bytes));
        }
    };
    if (logFirst) {
        log();
    }
    ContentViewModel* content = settings_ ? settings_->content() : content_.data();
    const auto type = connection::connectionTypeFromRaw(
        (settings_ ? settings_->connectionType() : connectionType_).toStdString());
    if (content != nullptr && type) {
        connection::sendOverConnection(*type, content->networkManager(),
                                       content->bluetoothManager(), content->usbSerialManager(),
                                       bytes, false);
    }
    if (!logFirst) {
        log();
    }
}

void SettingsScreenModel::routeLike(const SettingsScreenModel& other) {
    content_ = other.settings_ ? other.settings_->content() : other.content_.data();
    connectionType_ = other.settings_ ? other.settings_->connectionType() : other.connectionType_;
}

bool SettingsScreenModel::refuse(const std::optional<std::string>& problem) {
    if (!problem) {
        return false;
    }
    refusal_ = QString::fromStdString(*problem);
    showRefusal_ = true;
    emit alertsChanged();
    return true;
}

} // namespace ui
