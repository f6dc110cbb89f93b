#include "discovery/avahi_browser.hpp"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>

namespace discovery {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Avahi");
const QString kServer = QStringLiteral("org.freedesktop.Avahi.Server");
const QString kBrowserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
constexpr int kAnyInterface = -1; // AVAHI_IF_UNSPEC
constexpr int kIPv4 = 0;          // AVAHI_PROTO_INET
// Avahi gives up resolving after about 5 s of its own; this only bounds a daemon that hangs.
constexpr int kCallTimeoutMs = 10000;

const char* const kBrowserSignals[] = {"ItemNew", "AllForNow", "Failure"};

} // namespace

AvahiBrowser::AvahiBrowser(QObject* parent) : QObject(parent), bus_(QDBusConnection::systemBus()) {}

AvahiBrowser::~AvahiBrowser() {
    stop();
}

void AvahiBrowser::start(const QStringList& serviceTypes) {
    stop();
    bus_ = QDBusConnection::systemBus();
    running_ = true;
    saidUnavailable_ = false;
    wasSettled_ = false;
    if (!bus_.isConnected()) {
        // Reported from the event loop, as a failed call would be.
        QMetaObject::invokeMethod(
            this, [this] { reportUnavailable(QStringLiteral("no D-Bus system bus")); },
            Qt::QueuedConnection);
        return;
    }
    // Any path: our browsers' paths are only known once Avahi answers.
    for (const char* name : kBrowserSignals) {
        bus_.connect(kService, QString(), kBrowserInterface, QString::fromLatin1(name), this,
                     SLOT(onBrowserSignal(QDBusMessage)));
    }
    for (const auto& type : serviceTypes) {
        createBrowser(type);
    }
}

void AvahiBrowser::stop() {
    if (!running_) {
        return;
    }
    running_ = false;
    ++generation_;
    if (bus_.isConnected()) {
        for (const char* name : kBrowserSignals) {
            bus_.disconnect(kService, QString(), kBrowserInterface, QString::fromLatin1(name), this,
                            SLOT(onBrowserSignal(QDBusMessage)));
        }
        for (const auto& path : std::as_const(browsers_)) {
            bus_.asyncCall(QDBusMessage::createMethodCall(kService, path, kBrowserInterface,
                                                          QStringLiteral("Free")));
        }
    }
    browsers_.clear();
    listed_.clear();
    early_.clear();
    creating_ = 0;
    pendingResolves_ = 0;
}

bool AvahiBrowser::settled() const {
    return !running_ || saidUnavailable_ ||
           (creating_ == 0 && pendingResolves_ == 0 && listed_.size() == browsers_.size());
}

void AvahiBrowser::ask(const QDBusMessage& call, int& pending,
                       std::function<void(const QDBusMessage& reply)> answered) {
    ++pending;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, &pending, answered = std::move(answered), generation = generation_] {
                watcher->deleteLater();
                if (generation != generation_) {
                    return;
                }
                --pending;
                answered(watcher->reply());
                checkSettled();
            });
}

void AvahiBrowser::createBrowser(const QString& serviceType) {
    auto call = QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServer,
                                               QStringLiteral("ServiceBrowserNew"));
    call << kAnyInterface << kIPv4 << serviceType << QString() << 0u;
    ask(call, creating_, [this](const QDBusMessage& reply) {
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
            reportUnavailable(reply.errorMessage());
            return;
        }
        browsers_.insert(qdbus_cast<QDBusObjectPath>(reply.arguments().first()).path());
        for (const auto& message : std::exchange(early_, {})) {
            onBrowserSignal(message);
        }
    });
}

void AvahiBrowser::onBrowserSignal(const QDBusMessage& message) {
    if (!running_) {
        return;
    }
    if (!browsers_.contains(message.path())) {
        if (creating_ > 0) {
            early_.push_back(message);
        }
        return;
    }
    handle(message);
}

void AvahiBrowser::handle(const QDBusMessage& message) {
    const auto member = message.member();
    if (member == QLatin1String("ItemNew")) {
        resolve(message);
    } else {
        listed_.insert(message.path());
    }
    checkSettled();
}

void AvahiBrowser::resolve(const QDBusMessage& itemNew) {
    const auto item = itemNew.arguments(); // interface, protocol, name, type, domain, flags
    if (item.size() < 5) {
        return;
    }
    auto call = QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServer,
                                               QStringLiteral("ResolveService"));
    call << item[0] << item[1] << item[2] << item[3] << item[4] << kIPv4 << 0u;
    // A service that went away before it resolved is simply not listed.
    ask(call, pendingResolves_, [this](const QDBusMessage& reply) {
        // interface, protocol, name, type, domain, host, aprotocol, address, port, txt, flags
        const auto values = reply.arguments();
        if (reply.type() == QDBusMessage::ReplyMessage && values.size() >= 9) {
            const QHostAddress address(values[7].toString());
            const auto port = static_cast<quint16>(values[8].toUInt());
            if (address.protocol() == QAbstractSocket::IPv4Protocol && port != 0) {
                emit resolved(address, port, values[2].toString());
            }
        }
    });
}

void AvahiBrowser::reportUnavailable(const QString& reason) {
    if (saidUnavailable_) {
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
