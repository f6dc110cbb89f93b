#include "discovery/avahi_browser.hpp"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QtEndian>

namespace discovery {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Avahi");
const QString kServer = QStringLiteral("org.freedesktop.Avahi.Server");
const QString kServiceBrowser = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
const QString kRecordBrowser = QStringLiteral("org.freedesktop.Avahi.RecordBrowser");
constexpr int kAnyInterface = -1;       // AVAHI_IF_UNSPEC
constexpr int kIPv4 = 0;                // AVAHI_PROTO_INET
constexpr uint kNoTxtNoAddress = 4 | 8; // AVAHI_LOOKUP_NO_TXT | AVAHI_LOOKUP_NO_ADDRESS
constexpr quint16 kClassIN = 1;
constexpr quint16 kTypeA = 1;
// Avahi answers each call at once or after its own 5 s; this only bounds a daemon that hangs.
constexpr int kCallTimeoutMs = 10000;

const char* const kBrowserSignals[] = {"ItemNew", "AllForNow", "Failure"};

QDBusMessage serverCall(const char* method) {
    return QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServer,
                                          QString::fromLatin1(method));
}

} // namespace

AvahiBrowser::AvahiBrowser(QObject* parent) : QObject(parent), bus_(QDBusConnection::systemBus()) {}

AvahiBrowser::~AvahiBrowser() {
    stop();
}

void AvahiBrowser::start(const QStringList& serviceTypes) {
    stop();
    bus_ = QDBusConnection::systemBus();
    running_ = true;
    answered_ = false;
    saidUnavailable_ = false;
    wasSettled_ = false;
    tally_ = {};
    if (!bus_.isConnected()) {
        // Reported from the event loop, as a failed call would be.
        QMetaObject::invokeMethod(
            this, [this] { reportUnavailable(QStringLiteral("no D-Bus system bus")); },
            Qt::QueuedConnection);
        return;
    }
    // A daemon that stops (or is stopped) during the search never sends what we wait for.
    watcher_ =
        new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { reportUnavailable(QStringLiteral("Avahi stopped during the search")); });
    // Any path: our objects' paths are only known once Avahi answers.
    for (const auto& interface : {kServiceBrowser, kRecordBrowser}) {
        for (const char* name : kBrowserSignals) {
            bus_.connect(kService, QString(), interface, QString::fromLatin1(name), this,
                         SLOT(onSignal(QDBusMessage)));
        }
    }
    for (const auto& type : serviceTypes) {
        ++browsers_;
        auto call = serverCall("ServiceBrowserNew");
        call << kAnyInterface << kIPv4 << type << QString() << 0u;
        createObject(
            call, [this](const QDBusMessage& signal) { onServiceSignal(signal); },
            [this](const QDBusMessage& reply) {
                reportUnavailable(
                    QStringLiteral("Avahi is not running (%1)").arg(reply.errorMessage()));
            });
    }
}

void AvahiBrowser::stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    ++generation_;
    delete std::exchange(watcher_, nullptr);
    if (bus_.isConnected()) {
        for (const auto& interface : {kServiceBrowser, kRecordBrowser}) {
            for (const char* name : kBrowserSignals) {
                bus_.disconnect(kService, QString(), interface, QString::fromLatin1(name), this,
                                SLOT(onSignal(QDBusMessage)));
            }
        }
        for (auto it = objects_.cbegin(); it != objects_.cend(); ++it) {
            bus_.asyncCall(QDBusMessage::createMethodCall(kService, it.key(), it->interface,
                                                          QStringLiteral("Free")));
        }
    }
    objects_.clear();
    early_.clear();
    waiting_.clear();
    browsers_ = listed_ = creating_ = lookups_ = 0;
}

bool AvahiBrowser::settled() const {
    return !running_ || saidUnavailable_ ||
           (creating_ == 0 && listed_ == browsers_ && waiting_.empty() && lookups_ == 0);
}

void AvahiBrowser::ask(const QDBusMessage& call, ReplyHandler answered) {
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, answered = std::move(answered), generation = generation_] {
                watcher->deleteLater();
                if (generation != generation_) {
                    return;
                }
                if (watcher->reply().type() == QDBusMessage::ReplyMessage) {
                    answered_ = true;
                }
                answered(watcher->reply());
                checkSettled();
            });
}

void AvahiBrowser::createObject(const QDBusMessage& call, SignalHandler handler,
                                ReplyHandler failed) {
    ++creating_;
    const auto interface =
        call.member() == QLatin1String("RecordBrowserNew") ? kRecordBrowser : kServiceBrowser;
    ask(call, [this, interface, handler = std::move(handler),
               failed = std::move(failed)](const QDBusMessage& reply) {
        --creating_;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            failed(reply);
        } else {
            const auto path = qdbus_cast<QDBusObjectPath>(reply.arguments().first()).path();
            objects_.insert(path, {interface, handler});
            std::vector<QDBusMessage> mine;
            std::erase_if(early_, [&](const QDBusMessage& message) {
                return message.path() == path && (mine.push_back(message), true);
            });
            for (const auto& message : mine) {
                onSignal(message);
            }
        }
        if (creating_ == 0) {
            early_.clear(); // late signals of objects already freed
        }
    });
}

void AvahiBrowser::freeObject(const QString& path, std::function<void()> freed) {
    const auto object = objects_.take(path);
    ask(QDBusMessage::createMethodCall(kService, path, object.interface, QStringLiteral("Free")),
        [freed = std::move(freed)](const QDBusMessage&) { freed(); });
}

void AvahiBrowser::onSignal(const QDBusMessage& message) {
    if (!running_) {
        return;
    }
    const auto it = objects_.constFind(message.path());
    if (it == objects_.cend()) {
        if (creating_ > 0) {
            early_.push_back(message);
        }
        return;
    }
    const auto handler = it->handler; // it may free itself
    handler(message);
    checkSettled();
}

void AvahiBrowser::onServiceSignal(const QDBusMessage& signal) {
    if (signal.member() == QLatin1String("ItemNew")) {
        // interface, protocol, name, type, domain, flags
        if (signal.arguments().size() >= 5) {
            ++tally_.services;
            waiting_.push_back(signal.arguments());
            lookUpWaiting();
        }
    } else {
        ++listed_;
    }
}

void AvahiBrowser::lookUpWaiting() {
    while (running_ && lookups_ < kMaxLookups && !waiting_.empty()) {
        ++lookups_;
        const auto item = std::move(waiting_.front());
        waiting_.pop_front();
        lookUp(item);
    }
}

void AvahiBrowser::lookUp(const QVariantList& item) {
    auto call = serverCall("ResolveService");
    call << item[0] << item[1] << item[2] << item[3] << item[4] << kIPv4 << kNoTxtNoAddress;
    ask(call, [this, item](const QDBusMessage& reply) {
        // interface, protocol, name, type, domain, host, aprotocol, address, port, txt, flags
        const auto values = reply.arguments();
        if (reply.type() != QDBusMessage::ReplyMessage || values.size() < 9) {
            endLookup(Outcome::failed, reply.errorMessage());
            return;
        }
        findIPv4Address(item, values[5].toString(), values[2].toString(),
                        static_cast<quint16>(values[8].toUInt()));
    });
}

void AvahiBrowser::findIPv4Address(const QVariantList& item, const QString& host,
                                   const QString& name, quint16 port) {
    auto call = serverCall("RecordBrowserNew");
    call << item[0] << item[1] << host << QVariant::fromValue(kClassIN)
         << QVariant::fromValue(kTypeA) << 0u;
    createObject(
        call,
        [this, name, port](const QDBusMessage& signal) {
            // ItemNew: interface, protocol, name, class, type, rdata, flags
            const auto member = signal.member();
            const auto values = signal.arguments();
            Outcome outcome = Outcome::failed;
            QString error;
            if (member == QLatin1String("ItemNew")) {
                const auto rdata = values.size() >= 6 ? values[5].toByteArray() : QByteArray();
                if (rdata.size() != 4) {
                    return;
                }
                emit resolved(QHostAddress(qFromBigEndian<quint32>(rdata.constData())), port, name);
                outcome = Outcome::resolved;
            } else if (member == QLatin1String("AllForNow")) {
                outcome = Outcome::withoutIPv4;
            } else {
                error = values.isEmpty() ? QString() : values[0].toString();
            }
            // The lookup's place is kept until Avahi has freed the browser, so that no more
            // objects than kMaxLookups ever exist at once.
            freeObject(signal.path(), [this, outcome, error] { endLookup(outcome, error); });
        },
        [this](const QDBusMessage& reply) { endLookup(Outcome::failed, reply.errorMessage()); });
}

void AvahiBrowser::endLookup(Outcome outcome, const QString& error) {
    --lookups_;
    switch (outcome) {
    case Outcome::resolved:
        ++tally_.resolved;
        break;
    case Outcome::withoutIPv4:
        ++tally_.withoutIPv4;
        break;
    case Outcome::failed:
        ++tally_.failed;
        if (tally_.firstError.isEmpty()) {
            tally_.firstError = error;
        }
        break;
    }
    lookUpWaiting();
}

void AvahiBrowser::reportUnavailable(const QString& reason) {
    if (saidUnavailable_ || !running_) {
        return;
    }
    saidUnavailable_ = true;
    emit unavailable(reason);
    checkSettled();
}

void AvahiBrowser::checkSettled() {
    const bool now = settled();
    if (now != wasSettled_) {
        wasSettled_ = now;
        emit settledChanged();
    }
}

} // namespace discovery
