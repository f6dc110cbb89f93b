#pragma once

#include "protocol/bytes.hpp"
#include "ui/printer_settings_model.hpp"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>
#include <string_view>

namespace ui {

// What every category screen shares: the sheet it edits values of, the way its commands leave
// (over the transport the sheet was opened with), its restart alert, and the alert that says
// why a command was refused before anything was sent.
class SettingsScreenModel : public QObject {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(
        ui::PrinterSettingsModel* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(
        bool showRestartAlert READ showRestartAlert WRITE setShowRestartAlert NOTIFY alertsChanged)
    Q_PROPERTY(bool showRefusal READ showRefusal WRITE setShowRefusal NOTIFY alertsChanged)
    Q_PROPERTY(QString refusal READ refusal NOTIFY alertsChanged)

public:
    using QObject::QObject;

    PrinterSettingsModel* settings() const { return settings_; }
    void setSettings(PrinterSettingsModel* settings);
    bool showRestartAlert() const { return showRestartAlert_; }
    void setShowRestartAlert(bool show);
    bool showRefusal() const { return showRefusal_; }
    void setShowRefusal(bool show);
    QString refusal() const { return refusal_; }

signals:
    void settingsChanged();
    void alertsChanged();

protected:
    // Hands the bytes to the manager of the sheet's transport (which reports a missing link
    // itself) and prints the console line when `logPrefix` is not empty: after handing over, or
    // before with `logFirst` (the MQTT screen's order).
    void send(const protocol::Bytes& bytes, std::string_view logPrefix, bool logFirst = false);
    // Shows why nothing was sent; returns true when `problem` holds one.
    bool refuse(const std::optional<std::string>& problem);
    // Called once the sheet is known: the screen is being shown.
    virtual void shown() {}

    // Where commands go when the sheet itself is gone (steps that outlive their screen).
    void routeLike(const SettingsScreenModel& other);

private:
    QPointer<PrinterSettingsModel> settings_;
    QPointer<ContentViewModel> content_;
    QString connectionType_;
    bool showRestartAlert_ = false;
    bool showRefusal_ = false;
    QString refusal_;
};

} // namespace ui
