#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

namespace discovery {

// The DNS-SD service types a receipt printer announces: raw port printing, and LPD.
inline const QStringList kPrinterServiceTypes = {QStringLiteral("_pdl-datastream._tcp"),
                                                 QStringLiteral("_printer._tcp")};

// Browses DNS-SD service types through the Avahi daemon on the D-Bus system bus and looks up
// each service's IPv4 address, port and name. Avahi does the multicast; we only ask it. Every
// D-Bus call is asynchronous.
//
// A service is looked up in two steps: its host and port (Avahi's resolver, without waiting for
// an address), then the host's IPv4 address through a record browser, which also says when the
// network has answered without one (an IPv6-only printer), instead of Avahi's resolver waiting
// 5 s for an address that never comes.
class AvahiBrowser : public QObject {
    Q_OBJECT

public:
    // Services looked up at once. Each holds at most one call awaiting its reply and one Avahi
    // object: far below the bus's pending replies per connection (128 by default) and Avahi's
    // objects per client (250), which refuse the excess outright.
    static constexpr int kMaxLookups = 32;

    // What became of the services the browsers reported in this search.
    struct Tally {
        int services = 0;
        int resolved = 0;
        int withoutIPv4 = 0; // the network answered, with no IPv4 address for the host
        int failed = 0;      // Avahi or the bus refused or gave up
        QString firstError;
    };

    explicit AvahiBrowser(QObject* parent = nullptr);
    ~AvahiBrowser() override;

    void start(const QStringList& serviceTypes = kPrinterServiceTypes);
    void stop();

    // Every browser has either listed what the network answered at first or failed, and every
    // service it reported is looked up; or Avahi cannot be reached.
    bool settled() const;
    // Avahi answered this search's first request: DNS-SD did search.
    bool answered() const { return answered_; }
    const Tally& tally() const { return tally_; }
    // Services reported but not looked up yet, or still being looked up.
    int unfinished() const { return static_cast<int>(waiting_.size()) + lookups_; }

signals:
    void resolved(const QHostAddress& address, quint16 port, const QString& name);
    // Avahi cannot be reached (not running, no system bus) or went away; said once per start.
    void unavailable(const QString& reason);
    void settledChanged();

private slots:
    void onSignal(const QDBusMessage& message);

private:
    using SignalHandler = std::function<void(const QDBusMessage& signal)>;
    using ReplyHandler = std::function<void(const QDBusMessage& reply)>;

    // Sends `call`; `answered` gets Avahi's reply (or the error) unless a stop came first.
    void ask(const QDBusMessage& call, ReplyHandler answered);
    // Creates an Avahi browser object; its signals go to `handler` from then on, those that
    // came before the reply included. `failed` gets the error reply.
    void createObject(const QDBusMessage& call, SignalHandler handler, ReplyHandler failed);
    // Forgets the object and frees it in Avahi; `freed` runs on Avahi's answer.
    void freeObject(
        const QString& path, std::function<void()> freed = [] {});

    void onServiceSignal(const QDBusMessage& signal);
    void lookUpWaiting();
    void lookUp(const QVariantList& item);
    void findIPv4Address(const QVariantList& item, const QString& host, const QString& name,
                         quint16 port);
    enum class Outcome { resolved, withoutIPv4, failed };
    void endLookup(Outcome outcome, const QString& error = {});
    void reportUnavailable(const QString& reason);
    void checkSettled();

    QDBusConnection bus_;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool running_ = false;
    bool answered_ = false;
    bool saidUnavailable_ = false;
    bool wasSettled_ = false;
    int browsers_ = 0; // service browsers asked for
    int listed_ = 0;   // service browsers that reported AllForNow or Failure (or refused)
    int creating_ = 0; // object creations not answered yet
    int lookups_ = 0;  // services being looked up
    std::deque<QVariantList> waiting_; // ItemNew arguments of services not looked up yet
    Tally tally_;
    struct AvahiObject {
        QString interface;
        SignalHandler handler;
    };
    QHash<QString, AvahiObject> objects_; // our Avahi objects by path
    // Avahi may signal before the creating call's answer tells us the object's path.
    std::vector<QDBusMessage> early_;
    int generation_ = 0; // answers to calls of an earlier start are dropped
};

} // namespace discovery
