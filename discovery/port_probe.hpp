#pragma once

#include <QHostAddress>
#include <QObject>

#include <chrono>
#include <deque>
#include <list>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace discovery {

struct ProbeOptions {
    quint16 port = 9100;
    std::chrono::milliseconds timeout{400};
    int maxConcurrent = 128;
};

// Tries a TCP connection to one port of many addresses, at most maxConcurrent at once. An
// attempt ends when the connection is made (closed again at once, no byte sent), refused or
// unreachable, or when the time-out passes; each address costs at most one time-out. An attempt
// that timed out is kept open for one more time-out outside the count, so that a printer slower
// than the time-out is named (answeredLate) instead of missed without a word. A failure of this
// computer (no socket to be had, a connection our own system refuses) ends the probe with the
// cause (failure). Runs on the thread's event loop and never blocks it.
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
    // Addresses whose connection was made only after the time-out.
    const std::vector<QHostAddress>& answeredLate() const { return answeredLate_; }
    // Why the last probe stopped before trying every address; empty when it did not.
    const QString& failure() const { return failure_; }
    // Connection attempts open now, late ones included.
    int open() const { return static_cast<int>(attempts_.size()); }

signals:
    void found(const QHostAddress& address, quint16 port);
    void progress(int tried, int total);
    void finished();

private:
    struct Attempt;

    void launchMore();
    void launch(const QHostAddress& address);
    void onWritable(Attempt* attempt);
    void onDeadline(Attempt* attempt);
    void decide(const QHostAddress& address, int error, bool timedOut = false);
    void close(Attempt* attempt);
    void fail(const QString& what, int error);

    ProbeOptions options_;
    std::deque<QHostAddress> waiting_;
    std::list<std::unique_ptr<Attempt>> attempts_;
    int connecting_ = 0; // attempts not timed out yet: the ones maxConcurrent counts
    int tried_ = 0;
    int total_ = 0;
    int timedOut_ = 0;
    std::vector<QHostAddress> answeredLate_;
    QString failure_;
    bool running_ = false;
    bool launching_ = false;
};

} // namespace discovery
