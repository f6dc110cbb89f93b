#pragma once

#include "plans/plan.hpp"
#include "plans/plan_run.hpp"
#include "ui/printer_settings_model.hpp"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

namespace ui {

// What every category screen shares: the sheet it edits values of, the way its plans run (over
// the transport the sheet was opened with), its restart alert, and the alert that says why a
// command was refused before anything was sent.
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

    // Where the delayed steps of this screen's plans are scheduled; tests drive their own clock.
    void setScheduler(plans::PlanRun::Scheduler scheduler) { scheduler_ = std::move(scheduler); }

signals:
    void settingsChanged();
    void alertsChanged();
    // A plan of this screen started running (tests watch its steps).
    void planStarted(plans::PlanRun* run);

protected:
    // Runs the plan on the transport of the sheet. The run outlives the screen: steps still due
    // when it goes keep reading their fields (shared state) and sending.
    void run(plans::Plan plan);
    // A step refused: the screen's second alert shows why.
    virtual void stepRefused(const QString& message);
    // A step that carries the screen's confirmation was handed over.
    virtual void stepConfirmed() { setShowRestartAlert(true); }
    // Called once the sheet is known: the screen is being shown.
    virtual void shown() {}

private:
    QPointer<PrinterSettingsModel> settings_;
    QPointer<ContentViewModel> content_;
    QString connectionType_;
    plans::PlanRun::Scheduler scheduler_;
    bool showRestartAlert_ = false;
    bool showRefusal_ = false;
    QString refusal_;
};

} // namespace ui
