#pragma once

#include <QHostAddress>
#include <QObject>

#include <chrono>
#include <deque>
#include <vector>

class QTcpSocket;

namespace discovery {

struct ProbeOptions {
    quint16 port = 9100;
    std::chrono::milliseconds timeout{400};
    int maxConcurrent = 128;
};

// Tries a TCP connection to one port of many addresses, at most maxConcurrent at once. An
// attempt ends when the connection is made (closed again at once, no byte sent), refused or
// unreachable, or when the time-out passes; each address costs at most one time-out. Runs on the
// thread's event loop and never blocks it.
class PortProbe : public QObject {
    Q_OBJECT

public:
    explicit PortProbe(QObject* parent = nullptr);
    ~PortProbe() override;

    // Starts over with these addresses; a probe still running is cancelled first.
    void start(std::vector<QHostAddress> addresses, const ProbeOptions& options);
    // Stops every attempt at once; no signal follows.
    void cancel();

    bool running() const { return running_; }
    int tried() const { return tried_; }
    int total() const { return total_; }
    // Attempts of the last probe that ended at the time-out.
    int timedOut() const { return timedOut_; }

signals:
    void found(const QHostAddress& address, quint16 port);
    void progress(int tried, int total);
    void finished();

private:
    enum class Outcome { connected, failed, timedOut };

    void launchMore();
    void launch(const QHostAddress& address);
    void finish(QTcpSocket* socket, QHostAddress address, Outcome outcome);

    ProbeOptions options_;
    std::deque<QHostAddress> waiting_;
    std::vector<QTcpSocket*> inFlight_;
    int tried_ = 0;
    int total_ = 0;
    int timedOut_ = 0;
    bool running_ = false;
    bool launching_ = false;
};

} // namespace discovery
