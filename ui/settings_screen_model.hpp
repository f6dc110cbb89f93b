#pragma once

#include "plans/plan.hpp"
#include "plans/plan_run.hpp"
#include "ui/printer_settings_model.hpp"

#include <QObject>
#include <QPointer>
#include <QtQml/qqmlregistration.h>

namespace ui {

// What every category screen shares: the sheet it edits values of, the way its plans run (over
// the transport the sheet was opened with), the progress of a transfer, and its alerts: the
// restart confirmation once the printer has the commands, the reason a command was refused
// before anything was sent, and how far a send got when it failed. Alerts go to the window's
// queue, so none replaces another.
class SettingsScreenModel : public QObject {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(
        ui::PrinterSettingsModel* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(
        bool showRestartAlert READ showRestartAlert WRITE setShowRestartAlert NOTIFY alertsChanged)
    Q_PROPERTY(bool showRefusal READ showRefusal WRITE setShowRefusal NOTIFY alertsChanged)
    Q_PROPERTY(QString refusal READ refusal NOTIFY alertsChanged)
    Q_PROPERTY(bool transferring READ transferring NOTIFY progressChanged)
    Q_PROPERTY(double bytesSent READ bytesSent NOTIFY progressChanged)
    Q_PROPERTY(double bytesTotal READ bytesTotal NOTIFY progressChanged)

public:
    using QObject::QObject;
    ~SettingsScreenModel() override;

    PrinterSettingsModel* settings() const { return settings_; }
    void setSettings(PrinterSettingsModel* settings);
    bool showRestartAlert() const { return showRestartAlert_; }
    void setShowRestartAlert(bool show);
    bool showRefusal() const { return showRefusal_; }
    void setShowRefusal(bool show);
    QString refusal() const { return refusal_; }
    bool transferring() const { return runs_ > 0; }
    double bytesSent() const { return static_cast<double>(sent_); }
    double bytesTotal() const { return static_cast<double>(total_); }

    // Writes the values this screen keeps as its own (none by default).
    virtual void keepValues(ScreenValues& values) const { Q_UNUSED(values); }

    // Where the delayed steps of this screen's plans are scheduled; tests drive their own clock.
    void setScheduler(plans::PlanRun::Scheduler scheduler) { scheduler_ = std::move(scheduler); }

signals:
    void settingsChanged();
    void alertsChanged();
    void progressChanged();
    // A plan of this screen started running (tests watch its steps).
    void planStarted(plans::PlanRun* run);

protected:
    // Runs the plan on the transport of the sheet. The run outlives the screen: steps still due
    // when it goes keep reading their fields (shared state) and sending.
    void run(plans::Plan plan);
    // A step refused: shown at once, with the title "Not Sent" unless a screen has its own way.
    virtual void stepRefused(const QString& message);
    // The printer has every command of a plan whose steps confirm.
    virtual void confirmed();
    // The confirmation this screen shows; empty: none.
    virtual QString restartMessage() const { return {}; }
    // Called once the sheet is known: the screen is being shown.
    virtual void shown() {}
    // A screen with values of its own calls this first in its destructor: the sheet keeps them
    // (for a profile saved later).
    void leaving();
    // Puts an alert in the window's queue (when there is a window); `dismissed` runs when the
    // user closes it.
    void postAlert(const QString& title, const QString& message, std::function<void()> dismissed);

private:
    // The window's model: the sheet's, or the one kept from it once the sheet has gone.
    ContentViewModel* content() const;

    QPointer<PrinterSettingsModel> settings_;
    QPointer<ContentViewModel> content_;
    QString connectionType_;
    plans::PlanRun::Scheduler scheduler_;
    bool showRestartAlert_ = false;
    bool showRefusal_ = false;
    QString refusal_;
    int runs_ = 0; // runs under way
    qint64 sent_ = 0;
    qint64 total_ = 0;
};

} // namespace ui
