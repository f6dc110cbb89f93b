#pragma once

#include "ui/content_view_model.hpp"
#include "ui/settings_section.hpp"

#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

namespace ui {

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

    Q_PROPERTY(int baudRate MEMBER baudRate NOTIFY valuesChanged)
    Q_PROPERTY(bool cutterEnabled MEMBER cutterEnabled NOTIFY valuesChanged)
    Q_PROPERTY(bool beeperEnabled MEMBER beeperEnabled NOTIFY valuesChanged)
    Q_PROPERTY(int density MEMBER density NOTIFY valuesChanged)
    Q_PROPERTY(bool useStaticIP MEMBER useStaticIP NOTIFY valuesChanged)
    Q_PROPERTY(QString staticIP MEMBER staticIP NOTIFY valuesChanged)
    Q_PROPERTY(QString subnet MEMBER subnet NOTIFY valuesChanged)
    Q_PROPERTY(QString gateway MEMBER gateway NOTIFY valuesChanged)
    Q_PROPERTY(QString printerName MEMBER printerName NOTIFY valuesChanged)
    Q_PROPERTY(QString wifiName MEMBER wifiName NOTIFY valuesChanged)
    Q_PROPERTY(QString wifiPassword MEMBER wifiPassword NOTIFY valuesChanged)
    Q_PROPERTY(QString mqttServer MEMBER mqttServer NOTIFY valuesChanged)
    Q_PROPERTY(QString mqttPort MEMBER mqttPort NOTIFY valuesChanged)
    Q_PROPERTY(QString mqttUsername MEMBER mqttUsername NOTIFY valuesChanged)
    Q_PROPERTY(QString mqttPassword MEMBER mqttPassword NOTIFY valuesChanged)
    Q_PROPERTY(QString mqttClientId MEMBER mqttClientId NOTIFY valuesChanged)

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
    // A documentation address (RFC 5737) that the user replaces with their broker.
    QString mqttServer = QStringLiteral("203.0.113.10");
    QString mqttPort = QStringLiteral("1883");
    QString mqttUsername = QStringLiteral("test");
    QString mqttPassword = QStringLiteral("pass");
    QString mqttClientId;

signals:
    void contentChanged();
    void connectionTypeChanged();
    void currentSectionChanged();
    void valuesChanged();

private:
    QPointer<ContentViewModel> content_;
    QString connectionType_;
    SettingsSection initialSection_ = SettingsSection::hub;
    SettingsSection currentSection_ = SettingsSection::hub;
};

} // namespace ui
