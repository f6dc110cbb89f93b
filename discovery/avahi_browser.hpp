#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <functional>
#include <vector>

namespace discovery {

// The DNS-SD service types a receipt printer announces: raw port printing, and LPD.
inline const QStringList kPrinterServiceTypes = {QStringLiteral("_pdl-datastream._tcp"),
                                                 QStringLiteral("_printer._tcp")};

// Browses DNS-SD service types through the Avahi daemon on the D-Bus system bus and resolves
// each service to an IPv4 address, port and name. Avahi does the multicast; we only ask it.
// Every D-Bus call is asynchronous.
class AvahiBrowser : public QObject {
    Q_OBJECT

public:
    explicit AvahiBrowser(QObject* parent = nullptr);
    ~AvahiBrowser() override;

    void start(const QStringList& serviceTypes = kPrinterServiceTypes);
    void stop();

    // Every browser has either listed what the network answered at first or failed, and no
    // service is still being resolved.
    bool settled() const;

signals:
    void resolved(const QHostAddress& address, quint16 port, const QString& name);
    // Avahi cannot be reached (not running, or no system bus); said once per start.
    void unavailable(const QString& reason);
    void settledChanged();

private slots:
    void onBrowserSignal(const QDBusMessage& message);

private:
    // Sends `call`; `answered` gets Avahi's reply (or the error) unless a stop came first.
    // `pending` counts it until then.
    void ask(const QDBusMessage& call, int& pending,
             std::function<void(const QDBusMessage& reply)> answered);
    void createBrowser(const QString& serviceType);
    void handle(const QDBusMessage& message);
    void resolve(const QDBusMessage& itemNew);
    void reportUnavailable(const QString& reason);
    void checkSettled();

    QDBusConnection bus_;
    bool running_ = false;
    bool saidUnavailable_ = false;
    bool wasSettled_ = false;
    int creating_ = 0; // ServiceBrowserNew calls not answered yet
    int pendingResolves_ = 0;
    QSet<QString> browsers_; // object paths of our browsers
    QSet<QString> listed_;   // browsers that reported AllForNow or Failure
    // Avahi may signal before ServiceBrowserNew's answer tells us the browser's path.
    std::vector<QDBusMessage> early_;
    int generation_ = 0; // answers to calls of an earlier start are dropped
};

} // namespace discovery
