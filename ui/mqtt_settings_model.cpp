#include "ui/mqtt_settings_model.hpp"

#include "plans/field_text.hpp"
#include "protocol/certificate.hpp"

#include <QPointer>

namespace ui {

MQTTSettingsModel::MQTTSettingsModel(QObject* parent)
    : SettingsScreenModel(parent), alertMessage_(QString::fromUtf8(plans::kRestartNotice)) {}

void MQTTSettingsModel::setText(std::string& field, const QString& value) {
    std::string converted = plans::fieldText(value);
    if (converted != field) {
        field = std::move(converted);
        emit fieldsChanged();
    }
}

void MQTTSettingsModel::setSelectedSubTopicType(int value) {
    if (value >= 0 && value <= 2 && value != state_->topics.selectedSubTopicType) {
        state_->topics.selectedSubTopicType = static_cast<std::uint8_t>(value);
        emit fieldsChanged();
    }
}

void MQTTSettingsModel::setPublishReceiptInfo(bool value) {
    if (value != state_->topics.publishReceiptInfo) {
        state_->topics.publishReceiptInfo = value;
        emit fieldsChanged();
    }
}

void MQTTSettingsModel::setPubQos(int value) {
    if ((value == 1 || value == 2) && value != state_->topics.pubQos) {
        state_->topics.pubQos = static_cast<std::uint8_t>(value);
        emit fieldsChanged();
    }
}

void MQTTSettingsModel::setUseDefaultClientID(bool value) {
    if (value != state_->useDefaultClientID) {
        state_->useDefaultClientID = value;
        emit fieldsChanged();
    }
}

// The screen's one alert, "Settings": errors and the restart notice, each in its turn.
void MQTTSettingsModel::show(const QString& message) {
    alertMessage_ = message;
    emit alertsChanged();
    setShowRestartAlert(true);
    ++shownAlerts_;
    QPointer<MQTTSettingsModel> self(this);
    postAlert(QStringLiteral("Settings"), message, [self] {
        if (self && --self->shownAlerts_ == 0) {
            self->setShowRestartAlert(false);
        }
    });
}

void MQTTSettingsModel::confirmed() {
    show(QString::fromUtf8(plans::kRestartNotice));
}

void MQTTSettingsModel::applyBroker() {
    if (settings() == nullptr) {
        return;
    }
    // The broker values are the sheet's, the client ID choice the screen's.
    run(plans::brokerPlan([sheet = settings()->brokerFields(), screen = state_] {
        plans::BrokerFields fields = *sheet;
        fields.useDefaultClientID = screen->useDefaultClientID;
        return fields;
    }));
}

void MQTTSettingsModel::applyTopics() {
    run(plans::topicsPlan([state = state_] { return state->topics; }));
}

void MQTTSettingsModel::applyTiming() {
    run(plans::timingPlan([state = state_] { return state->timing; }));
}

// --- TLS ------------------------------------------------------------------------------------

void MQTTSettingsModel::adjustPort() {
    if (settings() != nullptr) {
        settings()->setMqttPort(QString::fromStdString(
            plans::adjustedPortForTlsMode(tlsMode_, settings()->mqttPort().toStdString())));
    }
}

void MQTTSettingsModel::keepValues(ScreenValues& values) const {
    values.topics = state_->topics;
    values.timing = state_->timing;
    values.useDefaultClientID = state_->useDefaultClientID;
    const auto text = [](const protocol::Bytes& bytes) {
        return std::string(bytes.begin(), bytes.end());
    };
    values.tls = {static_cast<plans::TlsSettings::Mode>(tlsMode_),
                  plans::fieldText(certificatePEM),
                  text(mutualFiles_[0]),
                  text(mutualFiles_[1]),
                  text(mutualFiles_[2]),
                  plans::fieldText(mutualPassword)};
}

void MQTTSettingsModel::setTlsMode(int mode) {
    if (mode == tlsMode_ || mode < 0 || mode > 2) {
        return;
    }
    tlsMode_ = mode;
    adjustPort();
    emit fieldsChanged();
}

bool MQTTSettingsModel::tlsApplyEnabled() const {
    switch (tlsMode_) {
    case 1:
        return !protocol::trimWhitespace(certificatePEM.toStdString()).empty();
    case 2:
        return !mutualFiles_[0].empty() && !mutualFiles_[1].empty() && !mutualFiles_[2].empty();
    default:
        return true;
    }
}

void MQTTSettingsModel::applyTls() {
    adjustPort();
    switch (tlsMode_) {
    case 0:
        run(plans::tlsOffPlan());
        break;
    case 1:
        run(plans::oneWayTlsPlan(plans::fieldText(certificatePEM)));
        break;
    default:
        run(plans::mutualTlsPlan(mutualFiles_[0], mutualFiles_[1], mutualFiles_[2],
                                 plans::fieldText(mutualPassword)));
        break;
    }
}

// --- certificate import ---------------------------------------------------------------------

void MQTTSettingsModel::importFailed(const QString& description) {
    show(QStringLiteral("Import cancelled or failed: ") + description);
}

void MQTTSettingsModel::importFile(const QString& path) {
    auto read = plans::readCertificateFile(path);
    if (const auto* problem = std::get_if<QString>(&read)) {
        show(QStringLiteral("Failed to import file: ") + *problem);
        return;
    }
    plans::ImportedFile file = std::get<plans::ImportedFile>(std::move(read));
    if (mutualImportSlot >= 1 && mutualImportSlot <= 3) {
        mutualFiles_[mutualImportSlot - 1] = std::move(file.bytes);
        mutualNames_[mutualImportSlot - 1] = file.name;
    } else {
        certificatePEM = QString::fromStdString(
            plans::oneWayCertificateFromFile(file.bytes, file.extension.toStdString()));
    }
    emit fieldsChanged();
}

QString MQTTSettingsModel::mutualFileLabel(int slot) const {
    if (slot < 1 || slot > 3 || mutualNames_[slot - 1].isEmpty()) {
        return QStringLiteral("No file selected");
    }
    return mutualNames_[slot - 1] + QStringLiteral(" \u00B7 ") +
           QString::number(mutualFiles_[slot - 1].size()) + QStringLiteral(" B");
}

} // namespace ui
