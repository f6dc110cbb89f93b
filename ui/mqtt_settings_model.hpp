#pragma once

#include "protocol/bytes.hpp"
#include "ui/settings_screen_model.hpp"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace ui {

// The MQTT screen's state and its four Apply actions. The broker fields live in the sheet; the
// rest is the screen's own. An Apply sends its commands spaced in time; each delayed step reads
// its fields when it runs (the login's bytes excepted, fixed at the press) and is never
// cancelled. Errors and the restart notice share one alert, and the notice replaces an error an
// earlier step of the same Apply raised.
class MQTTSettingsModel : public SettingsScreenModel {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString pane MEMBER pane NOTIFY fieldsChanged)
    Q_PROPERTY(QString alertMessage READ alertMessage NOTIFY alertsChanged)
    Q_PROPERTY(QString testWebUrl MEMBER testWebUrl NOTIFY fieldsChanged)
    Q_PROPERTY(QString ntpServer MEMBER ntpServer NOTIFY fieldsChanged)
    Q_PROPERTY(QString dateZone MEMBER dateZone NOTIFY fieldsChanged)
    Q_PROPERTY(int selectedSubTopicType MEMBER selectedSubTopicType NOTIFY fieldsChanged)
    Q_PROPERTY(bool publishReceiptInfo MEMBER publishReceiptInfo NOTIFY fieldsChanged)
    Q_PROPERTY(int pubQos MEMBER pubQos NOTIFY fieldsChanged)
    Q_PROPERTY(QString heartbeatInterval MEMBER heartbeatInterval NOTIFY fieldsChanged)
    Q_PROPERTY(QString heartbeatPubTopic MEMBER heartbeatPubTopic NOTIFY fieldsChanged)
    Q_PROPERTY(QString receiptReplyTopic MEMBER receiptReplyTopic NOTIFY fieldsChanged)
    Q_PROPERTY(QString keepAliveInterval MEMBER keepAliveInterval NOTIFY fieldsChanged)
    Q_PROPERTY(bool useDefaultClientID MEMBER useDefaultClientID NOTIFY fieldsChanged)
    Q_PROPERTY(QString certificatePEM MEMBER certificatePEM NOTIFY fieldsChanged)
    Q_PROPERTY(int tlsMode READ tlsMode WRITE setTlsMode NOTIFY fieldsChanged)
    Q_PROPERTY(QString mutualPassword MEMBER mutualPassword NOTIFY fieldsChanged)
    Q_PROPERTY(int mutualImportSlot MEMBER mutualImportSlot NOTIFY fieldsChanged)
    Q_PROPERTY(bool tlsApplyEnabled READ tlsApplyEnabled NOTIFY fieldsChanged)

public:
    // Runs `step` `delayMs` after now on the main thread; tests drive their own clock.
    using Scheduler = std::function<void(int delayMs, std::function<void()> step)>;

    explicit MQTTSettingsModel(QObject* parent = nullptr);
    // Steps still pending when the screen goes keep running on a copy of its last values.
    ~MQTTSettingsModel() override;
    void setScheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }

    QString alertMessage() const { return alertMessage_; }
    int tlsMode() const { return tlsMode_; }
    // A mode change adjusts the port field as Apply TLS does.
    void setTlsMode(int mode);
    bool tlsApplyEnabled() const;

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

    // Larger files are refused at import without being read whole.
    static constexpr qint64 kImportLimit = qint64{1} << 20;

    QString pane = QStringLiteral("broker");
    QString testWebUrl;
    QString ntpServer;
    QString dateZone;
    int selectedSubTopicType = 0;
    bool publishReceiptInfo = false;
    int pubQos = 1;
    QString heartbeatInterval = QStringLiteral("30");
    QString heartbeatPubTopic = QStringLiteral("HearBeat");
    QString receiptReplyTopic = QStringLiteral("PrintSuccess");
    QString keepAliveInterval = QStringLiteral("30");
    bool useDefaultClientID = true;
    QString certificatePEM;
    QString mutualPassword;
    int mutualImportSlot = 1;

signals:
    void fieldsChanged();

private:
    // What pending steps hold: the model they read and send through, and how many wait.
    struct StepTarget {
        MQTTSettingsModel* model = nullptr;
        int pending = 0;
    };

    QString sheetClientId() const;
    // Prints the console line, hands the bytes over, then raises the restart notice if asked.
    void sendMQTTCommand(const protocol::Bytes& bytes, bool restartNotice);
    void show(const QString& message);
    void adjustPort();
    // Runs `step` on whichever model holds the screen's values when the time comes.
    void later(int delayMs, std::function<void(MQTTSettingsModel&)> step);

    int tlsMode_ = 0;
    QString alertMessage_;
    protocol::Bytes mutualFiles_[3];
    QString mutualNames_[3];
    Scheduler scheduler_;
    std::shared_ptr<StepTarget> target_ = std::make_shared<StepTarget>();
    // The sheet's client ID as it was when the screen went; read by a step that outlives it.
    std::optional<QString> detachedClientId_;
};

} // namespace ui
