#include "ui/mqtt_settings_model.hpp"

#include "protocol/certificate.hpp"
#include "protocol/frame.hpp"
#include "protocol/limits.hpp"
#include "protocol/mqtt_apply.hpp"
#include "protocol/mqtt_commands.hpp"
#include "protocol/number_text.hpp"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

namespace ui {
namespace {

namespace mqtt = protocol::mqtt;

QString text(std::string_view view) {
    return QString::fromUtf8(view.data(), static_cast<qsizetype>(view.size()));
}

} // namespace

MQTTSettingsModel::MQTTSettingsModel(QObject* parent)
    : SettingsScreenModel(parent), testWebUrl(text(mqtt::kDefaultTestWebUrl)),
      ntpServer(text(mqtt::kDefaultNtpServer)), dateZone(text(mqtt::kDefaultZone)),
      alertMessage_(text(mqtt::kRestartNotice)) {
    target_->model = this;
    // The steps are not cancelled when the screen goes: the target moves to a copy.
    scheduler_ = [](int delayMs, std::function<void()> step) {
        QTimer::singleShot(delayMs, QCoreApplication::instance(), std::move(step));
    };
}

MQTTSettingsModel::~MQTTSettingsModel() {
    if (target_->pending == 0 || target_->model != this) {
        return;
    }
    auto* copy = new MQTTSettingsModel(nullptr);
    copy->routeLike(*this);
    copy->target_ = target_;
    copy->scheduler_ = scheduler_;
    copy->detachedClientId_ = sheetClientId();
    copy->useDefaultClientID = useDefaultClientID;
    copy->selectedSubTopicType = selectedSubTopicType;
    copy->publishReceiptInfo = publishReceiptInfo;
    copy->pubQos = pubQos;
    copy->heartbeatPubTopic = heartbeatPubTopic;
    copy->receiptReplyTopic = receiptReplyTopic;
    copy->heartbeatInterval = heartbeatInterval;
    copy->keepAliveInterval = keepAliveInterval;
    copy->ntpServer = ntpServer;
    copy->dateZone = dateZone;
    copy->testWebUrl = testWebUrl;
    target_->model = copy;
}

QString MQTTSettingsModel::sheetClientId() const {
    if (detachedClientId_) {
        return *detachedClientId_;
    }
    return settings() != nullptr ? settings()->mqttClientId : QString();
}

void MQTTSettingsModel::later(int delayMs, std::function<void(MQTTSettingsModel&)> step) {
    if (delayMs == 0) {
        step(*this);
        return;
    }
    ++target_->pending;
    scheduler_(delayMs, [target = target_, step = std::move(step)] {
        MQTTSettingsModel* model = target->model;
        step(*model);
        if (--target->pending == 0 && model->target_ == target && model->parent() == nullptr &&
            model->detachedClientId_) {
            // The copy that outlived its screen has nothing left to do.
            target->model = nullptr;
            delete model;
        }
    });
}

void MQTTSettingsModel::show(const QString& message) {
    alertMessage_ = message;
    emit alertsChanged();
    setShowRestartAlert(true);
}

void MQTTSettingsModel::sendMQTTCommand(const protocol::Bytes& bytes, bool restartNotice) {
    send(bytes, protocol::kMqttLogPrefix, true);
    if (restartNotice) {
        show(text(mqtt::kRestartNotice));
    }
}

// --- broker ---------------------------------------------------------------------------------

void MQTTSettingsModel::applyBroker() {
    if (settings() == nullptr) {
        return;
    }
    const PrinterSettingsModel& values = *settings();
    const auto port = protocol::parseUInt16(values.mqttPort.toStdString());
    if (!port || values.mqttServer.isEmpty()) {
        show(text(mqtt::kInvalidServerOrPort));
    } else {
        sendMQTTCommand(protocol::makeBrokerAddressCommand(values.mqttServer.toStdString(), *port),
                        false);
        // The login's bytes are those of the press; later edits do not change them.
        if (const auto login = protocol::makeLoginCommand(values.mqttUsername.toStdString(),
                                                          values.mqttPassword.toStdString())) {
            later(mqtt::kLoginDelayMs,
                  [bytes = *login](MQTTSettingsModel& m) { m.sendMQTTCommand(bytes, false); });
        } else {
            show(text(mqtt::kLoginTooLong));
        }
    }
    later(mqtt::kClientIdDelayMs, [](MQTTSettingsModel& m) {
        mqtt::BrokerFields fields;
        fields.clientId = m.sheetClientId().toStdString();
        fields.useDefaultClientID = m.useDefaultClientID;
        m.sendMQTTCommand(mqtt::clientIdCommand(fields), true);
    });
}

// --- topics and timing: one step every 250 ms, each reading its field when it runs ----------

void MQTTSettingsModel::applyTopics() {
    const int step = mqtt::kTopicStepMs;
    later(0, [](MQTTSettingsModel& m) {
        m.sendMQTTCommand(
            protocol::makeSubscribeSourceCommand(static_cast<std::uint8_t>(m.selectedSubTopicType)),
            false);
    });
    later(step, [](MQTTSettingsModel& m) {
        m.sendMQTTCommand(protocol::makeReceiptPublishCommand(m.publishReceiptInfo), false);
    });
    later(2 * step, [](MQTTSettingsModel& m) {
        m.sendMQTTCommand(protocol::makePublishQoSCommand(static_cast<std::uint8_t>(m.pubQos)),
                          false);
    });
    later(3 * step, [](MQTTSettingsModel& m) {
        m.sendMQTTCommand(protocol::makeTopicCommand(protocol::mqtt::heartbeatTopic,
                                                     m.heartbeatPubTopic.toStdString()),
                          false);
    });
    later(4 * step, [](MQTTSettingsModel& m) {
        m.sendMQTTCommand(protocol::makeTopicCommand(protocol::mqtt::receiptReplyTopic,
                                                     m.receiptReplyTopic.toStdString()),
                          true);
    });
}

void MQTTSettingsModel::applyTiming() {
    const int step = mqtt::kTopicStepMs;
    // A step that fails shows its message; the later steps still run.
    const auto run = [](MQTTSettingsModel& m, const mqtt::Step& result) {
        if (result.command) {
            m.sendMQTTCommand(*result.command, false);
        } else {
            m.show(QString::fromStdString(result.error));
        }
    };
    later(0, [run](MQTTSettingsModel& m) {
        run(m, mqtt::heartbeatStep(m.heartbeatInterval.toStdString()));
    });
    later(step, [run](MQTTSettingsModel& m) {
        run(m, mqtt::keepAliveStep(m.keepAliveInterval.toStdString()));
    });
    later(2 * step, [](MQTTSettingsModel& m) {
        m.sendMQTTCommand(protocol::makeClockCommand(m.ntpServer.toStdString(),
                                                     mqtt::zoneByte(m.dateZone.toStdString())),
                          false);
    });
    later(3 * step, [](MQTTSettingsModel& m) {
        m.sendMQTTCommand(protocol::makeDNSTestCommand(m.testWebUrl.toStdString()), true);
    });
}

// --- TLS ------------------------------------------------------------------------------------

void MQTTSettingsModel::adjustPort() {
    if (settings() == nullptr) {
        return;
    }
    const QString adjusted = QString::fromStdString(
        mqtt::adjustedPortForTlsMode(tlsMode_, settings()->mqttPort.toStdString()));
    if (adjusted != settings()->mqttPort) {
        settings()->mqttPort = adjusted;
        emit settings()->valuesChanged();
    }
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
    mqtt::ApplyPlan plan;
    switch (tlsMode_) {
    case 0:
        plan = mqtt::planTlsOff();
        break;
    case 1: {
        const std::string certificate = certificatePEM.toStdString();
        // A certificate the frame cannot carry is refused rather than sent with a wrong length.
        if (const auto problem =
                protocol::checkOneWayCertificate(protocol::trimWhitespace(certificate))) {
            show(QString::fromStdString(*problem));
            return;
        }
        plan = mqtt::planOneWayTls(certificate);
        break;
    }
    default: {
        const std::string password = mutualPassword.toStdString();
        if (const auto problem = protocol::checkMutualTLS(mutualFiles_[0], mutualFiles_[1],
                                                          mutualFiles_[2], password)) {
            show(QString::fromStdString(*problem));
            return;
        }
        plan = mqtt::planMutualTls(mutualFiles_[0], mutualFiles_[1], mutualFiles_[2], password);
        break;
    }
    }
    for (const std::string& error : plan.errors) {
        show(QString::fromStdString(error));
    }
    for (const mqtt::TimedCommand& command : plan.commands) {
        sendMQTTCommand(command.bytes, command.restartNotice);
    }
}

// --- certificate import ---------------------------------------------------------------------

void MQTTSettingsModel::importFailed(const QString& description) {
    show(QStringLiteral("Import cancelled or failed: ") + description);
}

void MQTTSettingsModel::importFile(const QString& path) {
    QFile file(path);
    const QFileInfo info(path);
    if (info.exists() && info.size() > kImportLimit) {
        show(QStringLiteral("Failed to import file: the file is larger than 1 MiB (%1 bytes); a "
                            "certificate or key is a few kilobytes")
                 .arg(info.size()));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        show(QStringLiteral("Failed to import file: ") + file.errorString());
        return;
    }
    // Read at most one byte past the limit: a file that grew since the check is still refused.
    const QByteArray data = file.read(kImportLimit + 1);
    if (data.size() > kImportLimit) {
        show(QStringLiteral("Failed to import file: the file is larger than 1 MiB"));
        return;
    }
    if (data.isEmpty() && file.error() != QFileDevice::NoError) {
        show(QStringLiteral("Failed to import file: ") + file.errorString());
        return;
    }
    protocol::Bytes bytes(data.begin(), data.end());
    if (mutualImportSlot >= 1 && mutualImportSlot <= 3) {
        mutualFiles_[mutualImportSlot - 1] = std::move(bytes);
        mutualNames_[mutualImportSlot - 1] = info.fileName();
    } else {
        certificatePEM = QString::fromStdString(
            protocol::normalizeCertificateFile(bytes, info.suffix().toStdString()));
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
