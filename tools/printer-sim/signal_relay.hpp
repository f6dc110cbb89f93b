#pragma once

#include <QObject>

class QSocketNotifier;

namespace printer_sim {

// Turns SIGINT, SIGTERM and SIGUSR1 into Qt signals delivered by the event loop, so that output
// and shutdown run as ordinary code and never inside a signal handler. The handler only writes
// the signal number into a pipe the event loop watches. One instance per process.
class SignalRelay : public QObject {
    Q_OBJECT
public:
    explicit SignalRelay(QObject* parent = nullptr); // throws std::runtime_error
    ~SignalRelay() override;

signals:
    void stopRequested(int signalNumber);
    void dumpRequested();

private:
    void drain();

    int readFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace printer_sim
