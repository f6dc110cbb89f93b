#pragma once

#include "connection/transport.hpp"

#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QTcpSocket;

namespace connection {

class SocketDeliveries;

// The TCP transport: one client connection to a printer's raw port, its state as a flag and a
// status line, and an alert for problems. Write only: what the printer sends back is discarded.
// Every published property changes on the main thread only.
class NetworkManager : public Transport {
    Q_OBJECT
    Q_PROPERTY(bool isConnected READ isConnected NOTIFY isConnectedChanged)
    Q_PROPERTY(QString connectionStatus READ connectionStatus NOTIFY connectionStatusChanged)

public:
    // What the connection reports, in the order a connection may go through them.
    enum class State { setup, preparing, waiting, ready, failed, cancelled };

    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{10000};

    explicit NetworkManager(QObject* parent = nullptr);
    ~NetworkManager() override;

    bool isConnected() const { return isConnected_; }
    QString connectionStatus() const { return connectionStatus_; }

    // The alert text for an address or port the manager would refuse, checked in the manager's
    // order; nothing when both are fine.
    static std::optional<QString> validateEndpoint(const QString& ipAddress, const QString& port);

    Q_INVOKABLE void connect(const QString& ipAddress, const QString& port);
    void connectTo(const Target& target) override;
    Q_INVOKABLE void disconnect() override;
    // Delivered once the printer's TCP stack has acknowledged every byte; failed when the link
    // breaks first, or when the printer takes nothing for the transport's limit (the link is
    // then dropped).
    void sendData(const protocol::Bytes& bytes, DeliveryHandler onReport = {},
                  bool reportSuccess = false, ProgressHandler onProgress = {}) override;
    bool isLinkUp() const override { return isConnected_; }
    // Runs `check` `delay` after now on the main thread; tests drive the time-out themselves.
    using Scheduler =
        std::function<void(std::chrono::milliseconds delay, std::function<void()> check)>;
    void setScheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }

signals:
    void isConnectedChanged();
    void connectionStatusChanged();

private:
    void handleStateChange(State state, const QString& error);
    void postStateChange(quint64 attempt, State state, const QString& error = {});
    void checkTimeout(quint64 attempt);
    // Lets go of the socket: closed once what was handed over has gone, or at once.
    void cancelSocket(bool abortNow);
    void setIsConnected(bool connected);
    void setConnectionStatus(const QString& status);

    bool isConnected_ = false;
    QString connectionStatus_;
    QPointer<QTcpSocket> socket_;
    SocketDeliveries* deliveries_ = nullptr; // a child of socket_, valid while socket_ is set
    // Each connect starts a new attempt; reports and time-out checks of older attempts are void.
    quint64 attempt_ = 0;
    bool attemptEnded_ = false; // the current attempt failed or was given up
    Scheduler scheduler_;
};

} // namespace connection
