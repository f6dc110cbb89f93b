#pragma once

#include "plans/mqtt_plans.hpp"
#include "plans/profile.hpp"
#include "ui/content_view_model.hpp"
#include "ui/settings_section.hpp"

#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>
#include <memory>

namespace ui {

class SettingsScreenModel;

// The values the category screens keep as their own: as the screens hold them now, or held them
// when they were last left. A default ScreenValues holds the values each screen starts from
// (afresh each time it is shown).
struct ScreenValues {
    std::uint8_t language = 0xFF;
    bool useFont12x24 = true;
    plans::AddressFields wifiAddress{true, "192.168.1.101", "255.255.255.0", "192.168.1.1"};
    plans::TopicFields topics;
    plans::TimingFields timing;
    bool useDefaultClientID = true;
    plans::TlsSettings tls;
};

// The settings sheet: where it stands (hub or a category), and the working copies of the values
// the category screens edit. A new sheet starts from the fixed starting values every time;
// nothing is read from the printer and nothing is kept between openings.
class PrinterSettingsModel : public QObject {
    Q_OBJECT
    QML_ELEMENT
    // The window the sheet was opened from: its managers carry the commands.
    Q_PROPERTY(ui::ContentViewModel* content READ content WRITE setContent NOTIFY contentChanged)
    // The transport in use, fixed when the sheet opens.
    Q_PROPERTY(QString connectionType READ connectionType WRITE setConnectionType NOTIFY
                   connectionTypeChanged)
    Q_PROPERTY(QString initialSection READ initialSection WRITE setInitialSection NOTIFY
                   currentSectionChanged)
    Q_PROPERTY(QString currentSection READ currentSection NOTIFY currentSectionChanged)
    Q_PROPERTY(QString navigationTitle READ navigationTitle NOTIFY currentSectionChanged)
    Q_PROPERTY(QVariantList hubRows READ hubRows CONSTANT)

    Q_PROPERTY(int baudRate MEMBER baudRate NOTIFY baudRateChanged)
    Q_PROPERTY(bool cutterEnabled MEMBER cutterEnabled NOTIFY cutterEnabledChanged)
    Q_PROPERTY(bool beeperEnabled MEMBER beeperEnabled NOTIFY beeperEnabledChanged)
    Q_PROPERTY(int density MEMBER density NOTIFY densityChanged)
    Q_PROPERTY(bool useStaticIP MEMBER useStaticIP NOTIFY useStaticIPChanged)
    Q_PROPERTY(QString staticIP MEMBER staticIP NOTIFY staticIPChanged)
    Q_PROPERTY(QString subnet MEMBER subnet NOTIFY subnetChanged)
    Q_PROPERTY(QString gateway MEMBER gateway NOTIFY gatewayChanged)
    Q_PROPERTY(QString printerName MEMBER printerName NOTIFY printerNameChanged)
    Q_PROPERTY(QString wifiName MEMBER wifiName NOTIFY wifiNameChanged)
    Q_PROPERTY(QString wifiPassword MEMBER wifiPassword NOTIFY wifiPasswordChanged)
    Q_PROPERTY(QString mqttServer READ mqttServer WRITE setMqttServer NOTIFY mqttServerChanged)
    Q_PROPERTY(QString mqttPort READ mqttPort WRITE setMqttPort NOTIFY mqttPortChanged)
    Q_PROPERTY(
        QString mqttUsername READ mqttUsername WRITE setMqttUsername NOTIFY mqttUsernameChanged)
    Q_PROPERTY(
        QString mqttPassword READ mqttPassword WRITE setMqttPassword NOTIFY mqttPasswordChanged)
    Q_PROPERTY(
        QString mqttClientId READ mqttClientId WRITE setMqttClientId NOTIFY mqttClientIdChanged)

public:
    using QObject::QObject;

    ContentViewModel* content() const { return content_; }
    void setContent(ContentViewModel* content);
    QString connectionType() const { return connectionType_; }
    void setConnectionType(const QString& type);
    QString initialSection() const { return rawValue(initialSection_); }
    // Sets where the sheet opens; the shown section follows.
    void setInitialSection(const QString& rawSection);
    QString currentSection() const { return rawValue(currentSection_); }
    QString navigationTitle() const { return ui::navigationTitle(currentSection_); }
    static QVariantList hubRows();

    // A hub row was pressed: its screen replaces the hub at once.
    Q_INVOKABLE void enter(const QString& rawSection);

    // The broker values live in shared state: an MQTT step that runs after the sheet closed
    // still reads the values it was left with.
    QString mqttServer() const { return text(broker_->server); }
    void setMqttServer(const QString& value) {
        setText(broker_->server, value, &PrinterSettingsModel::mqttServerChanged);
    }
    QString mqttPort() const { return text(broker_->port); }
    void setMqttPort(const QString& value) {
        setText(broker_->port, value, &PrinterSettingsModel::mqttPortChanged);
    }
    QString mqttUsername() const { return text(broker_->username); }
    void setMqttUsername(const QString& value) {
        setText(broker_->username, value, &PrinterSettingsModel::mqttUsernameChanged);
    }
    QString mqttPassword() const { return text(broker_->password); }
    void setMqttPassword(const QString& value) {
        setText(broker_->password, value, &PrinterSettingsModel::mqttPasswordChanged);
    }
    QString mqttClientId() const { return text(broker_->clientId); }
    void setMqttClientId(const QString& value) {
        setText(broker_->clientId, value, &PrinterSettingsModel::mqttClientIdChanged);
    }
    std::shared_ptr<const plans::BrokerFields> brokerFields() const { return broker_; }

    // Every section as the screens hold it: the sheet's values, and the screens' own as they
    // stand in the screen shown or stood when each was last left.
    plans::Profile profile() const;
    // A screen shows this sheet's values (registers itself), or is going (keeps its own values).
    void screenShown(SettingsScreenModel* screen);
    void screenLeft(SettingsScreenModel* screen);

    int baudRate = 115200;
    bool cutterEnabled = true;
    bool beeperEnabled = true;
    int density = 1; // medium
    bool useStaticIP = false;
    QString staticIP;
    QString subnet;
    QString gateway;
    QString printerName = QStringLiteral("Thermal");
    QString wifiName;
    QString wifiPassword;

signals:
    void contentChanged();
    void connectionTypeChanged();
    void currentSectionChanged();
    void baudRateChanged();
    void cutterEnabledChanged();
    void beeperEnabledChanged();
    void densityChanged();
    void useStaticIPChanged();
    void staticIPChanged();
    void subnetChanged();
    void gatewayChanged();
    void printerNameChanged();
    void wifiNameChanged();
    void wifiPasswordChanged();
    void mqttServerChanged();
    void mqttPortChanged();
    void mqttUsernameChanged();
    void mqttPasswordChanged();
    void mqttClientIdChanged();

private:
    static QString text(const std::string& value) { return QString::fromStdString(value); }
    void setText(std::string& field, const QString& value, void (PrinterSettingsModel::*changed)());

    // The server is a documentation address (RFC 5737) that the user replaces with theirs; the
    // login fields start with visible sample values, which the user sees before anything is sent.
    std::shared_ptr<plans::BrokerFields> broker_ = [] {
        auto fields = std::make_shared<plans::BrokerFields>();
        fields->server = "203.0.113.10";
        fields->username = "test";
        fields->password = "pass";
        return fields;
    }();
    QPointer<ContentViewModel> content_;
    QString connectionType_;
    ScreenValues screenValues_;
    std::vector<QPointer<SettingsScreenModel>> screens_;
    SettingsSection initialSection_ = SettingsSection::hub;
    SettingsSection currentSection_ = SettingsSection::hub;
};

} // namespace ui
