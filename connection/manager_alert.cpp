#include "connection/manager_alert.hpp"

#include <QMetaObject>

namespace connection {

void ManagerAlert::setShowAlert(bool show) {
    if (show != showAlert_) {
        showAlert_ = show;
        emit showAlertChanged();
    }
}

void ManagerAlert::setAlertMessage(const QString& message) {
    if (message != alertMessage_) {
        alertMessage_ = message;
        emit alertMessageChanged();
    }
}

void ManagerAlert::raiseNow(const QString& message) {
    setAlertMessage(message);
    setShowAlert(true);
    emit alertRaised(message);
}

void ManagerAlert::showError(const QString& message) {
    QMetaObject::invokeMethod(
        this, [this, message] { raiseNow(message); }, Qt::QueuedConnection);
}

} // namespace connection
