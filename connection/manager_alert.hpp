#pragma once

#include <QObject>
#include <QString>

namespace connection {

// The alert every manager publishes: a message, and a flag that raises it. The flag is lowered
// by the window when the user dismisses the alert; the message stays until the next one.
class ManagerAlert : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool showAlert READ showAlert WRITE setShowAlert NOTIFY showAlertChanged)
    Q_PROPERTY(QString alertMessage READ alertMessage NOTIFY alertMessageChanged)

public:
    using QObject::QObject;

    bool showAlert() const { return showAlert_; }
    void setShowAlert(bool show);
    QString alertMessage() const { return alertMessage_; }

    // Sets the message, then raises the flag, both on the main thread and always later, never
    // inside the caller's own work.
    void showError(const QString& message);

signals:
    void showAlertChanged();
    void alertMessageChanged();
    // An alert was raised, even one with the same text as the one still up.
    void alertRaised(const QString& message);

protected:
    void setAlertMessage(const QString& message);
    // Sets the message and raises the flag now (the caller is already a later task).
    void raiseNow(const QString& message);

private:
    bool showAlert_ = false;
    QString alertMessage_;
};

} // namespace connection
