#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>
#include <deque>
#include <functional>

namespace ui {

// The window's alerts, shown one at a time in the order they were raised; each stays until the
// user dismisses it, so a later alert never replaces one not yet read.
class AlertQueue : public QObject {
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(bool showing READ showing NOTIFY currentChanged)
    Q_PROPERTY(QString title READ title NOTIFY currentChanged)
    Q_PROPERTY(QString message READ message NOTIFY currentChanged)

public:
    using Dismissed = std::function<void()>;

    using QObject::QObject;

    bool showing() const { return !alerts_.empty(); }
    QString title() const { return showing() ? alerts_.front().title : QString(); }
    QString message() const { return showing() ? alerts_.front().message : QString(); }
    // Whether an alert with `title` is still waiting or shown.
    bool holds(const QString& title) const;

    void post(const QString& title, const QString& message, Dismissed onDismissed = {});
    // The user closed the alert shown: the next one comes up.
    Q_INVOKABLE void dismiss();

signals:
    void currentChanged();

private:
    struct Alert {
        QString title;
        QString message;
        Dismissed onDismissed;
    };
    std::deque<Alert> alerts_;
};

} // namespace ui
