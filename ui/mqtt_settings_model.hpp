#pragma once

#include "plans/certificate_file.hpp"
#include "plans/mqtt_plans.hpp"
#include "ui/settings_screen_model.hpp"

#include <QDir>
#include <QString>
#include <QUrl>
#include <memory>

namespace ui {

// The MQTT screen's state and its four Apply actions. The broker fields live in the sheet; the
// rest is the screen's own. Each Apply runs its plan: commands spaced in time, each delayed step
// reading its fields when it runs (shared state, so steps that outlive the screen still read the
// last values), never cancelled. Errors and the restart notice share one alert, and the notice
// replaces an error an earlier step of the same Apply raised.
class MQTTSettingsModel : public SettingsScreenModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString pane MEMBER pane NOTIFY fieldsChanged)
    Q_PROPERTY(QString alertMessage READ alertMessage NOTIFY alertsChanged)
    Q_PROPERTY(QString testWebUrl READ testWebUrl WRITE setTestWebUrl NOTIFY fieldsChanged)
    Q_PROPERTY(QString ntpServer READ ntpServer WRITE setNtpServer NOTIFY fieldsChanged)
    Q_PROPERTY(QString dateZone READ dateZone WRITE setDateZone NOTIFY fieldsChanged)
    Q_PROPERTY(int selectedSubTopicType READ selectedSubTopicType WRITE setSelectedSubTopicType
                   NOTIFY fieldsChanged)
    Q_PROPERTY(bool publishReceiptInfo READ publishReceiptInfo WRITE setPublishReceiptInfo NOTIFY
                   fieldsChanged)
    Q_PROPERTY(int pubQos READ pubQos WRITE setPubQos NOTIFY fieldsChanged)
    Q_PROPERTY(QString heartbeatInterval READ heartbeatInterval WRITE setHeartbeatInterval NOTIFY
                   fieldsChanged)
    Q_PROPERTY(QString heartbeatPubTopic READ heartbeatPubTopic WRITE setHeartbeatPubTopic NOTIFY
                   fieldsChanged)
    Q_PROPERTY(QString receiptReplyTopic READ receiptReplyTopic WRITE setReceiptReplyTopic NOTIFY
                   fieldsChanged)
    Q_PROPERTY(QString keepAliveInterval READ keepAliveInterval WRITE setKeepAliveInterval NOTIFY
                   fieldsChanged)
    Q_PROPERTY(bool useDefaultClientID READ useDefaultClientID WRITE setUseDefaultClientID NOTIFY
                   fieldsChanged)
    Q_PROPERTY(QString certificatePEM MEMBER certificatePEM NOTIFY fieldsChanged)
    Q_PROPERTY(int tlsMode READ tlsMode WRITE setTlsMode NOTIFY fieldsChanged)
    Q_PROPERTY(QString mutualPassword MEMBER mutualPassword NOTIFY fieldsChanged)
    Q_PROPERTY(int mutualImportSlot MEMBER mutualImportSlot NOTIFY fieldsChanged)
    Q_PROPERTY(bool tlsApplyEnabled READ tlsApplyEnabled NOTIFY fieldsChanged)
    // Where the file chooser opens.
    Q_PROPERTY(QUrl homeFolder READ homeFolder CONSTANT)

public:
    explicit MQTTSettingsModel(QObject* parent = nullptr);
    ~MQTTSettingsModel() override { leaving(); }
    void keepValues(ScreenValues& values) const override;

    QString alertMessage() const { return alertMessage_; }
    static QUrl homeFolder() { return QUrl::fromLocalFile(QDir::homePath()); }
    int tlsMode() const { return tlsMode_; }
    // A mode change adjusts the port field as Apply TLS does.
    void setTlsMode(int mode);
    bool tlsApplyEnabled() const;

    QString testWebUrl() const { return text(state_->timing.testWebUrl); }
    void setTestWebUrl(const QString& value) { setText(state_->timing.testWebUrl, value); }
    QString ntpServer() const { return text(state_->timing.ntpServer); }
    void setNtpServer(const QString& value) { setText(state_->timing.ntpServer, value); }
    QString dateZone() const { return text(state_->timing.dateZone); }
    void setDateZone(const QString& value) { setText(state_->timing.dateZone, value); }
    QString heartbeatInterval() const { return text(state_->timing.heartbeatInterval); }
    void setHeartbeatInterval(const QString& value) {
        setText(state_->timing.heartbeatInterval, value);
    }
    QString keepAliveInterval() const { return text(state_->timing.keepAliveInterval); }
    void setKeepAliveInterval(const QString& value) {
        setText(state_->timing.keepAliveInterval, value);
    }
    int selectedSubTopicType() const { return state_->topics.selectedSubTopicType; }
    void setSelectedSubTopicType(int value);
    bool publishReceiptInfo() const { return state_->topics.publishReceiptInfo; }
    void setPublishReceiptInfo(bool value);
    int pubQos() const { return state_->topics.pubQos; }
    void setPubQos(int value);
    QString heartbeatPubTopic() const { return text(state_->topics.heartbeatPubTopic); }
    void setHeartbeatPubTopic(const QString& value) {
        setText(state_->topics.heartbeatPubTopic, value);
    }
    QString receiptReplyTopic() const { return text(state_->topics.receiptReplyTopic); }
    void setReceiptReplyTopic(const QString& value) {
        setText(state_->topics.receiptReplyTopic, value);
    }
    bool useDefaultClientID() const { return state_->useDefaultClientID; }
    void setUseDefaultClientID(bool value);

    Q_INVOKABLE void applyBroker();
    Q_INVOKABLE void applyTopics();
    Q_INVOKABLE void applyTiming();
    Q_INVOKABLE void applyTls();

    // The file chooser finished: with an error, or with the file to import into
    // `mutualImportSlot` (0 the one-way certificate text, 1 to 3 the mutual files).
    Q_INVOKABLE void importFailed(const QString& description);
    Q_INVOKABLE void importFile(const QString& path);
    // "No file selected", or "ca.crt · 1200 B".
    Q_INVOKABLE QString mutualFileLabel(int slot) const;
    const protocol::Bytes& mutualFile(int slot) const { return mutualFiles_[slot - 1]; }

    static constexpr qint64 kImportLimit = plans::kImportLimit;

    QString pane = QStringLiteral("broker");
    QString certificatePEM;
    QString mutualPassword;
    int mutualImportSlot = 1;

signals:
    void fieldsChanged();

protected:
    void stepRefused(const QString& message) override { show(message); }
    void confirmed() override;

private:
    // What the delayed steps read when they run; it outlives the screen with them.
    struct State {
        plans::TopicFields topics;
        plans::TimingFields timing;
        bool useDefaultClientID = true;
    };

    static QString text(const std::string& value) { return QString::fromStdString(value); }
    void setText(std::string& field, const QString& value);
    void show(const QString& message);
    void adjustPort();

    std::shared_ptr<State> state_ = std::make_shared<State>();
    int tlsMode_ = 0;
    QString alertMessage_;
    int shownAlerts_ = 0; // in the window's queue
    protocol::Bytes mutualFiles_[3];
    QString mutualNames_[3];
};

} // namespace ui
