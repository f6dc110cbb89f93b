#include "tools/printer-sim/signal_relay.hpp"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace printer_sim {

namespace {

constexpr std::array kRelayedSignals = {SIGINT, SIGTERM, SIGUSR1};

volatile std::sig_atomic_t gWriteFd = -1;

extern "C" void relaySignal(int signalNumber) {
    const int savedErrno = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte; signals still queued in it are handled anyway.
    [[maybe_unused]] const auto written = write(gWriteFd, &byte, 1);
    errno = savedErrno;
}

} // namespace

SignalRelay::SignalRelay(QObject* parent) : QObject(parent) {
    int fds[2];
    if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("cannot create the signal pipe: ") +
                                 std::strerror(errno));
    }
    readFd_ = fds[0];
    gWriteFd = fds[1];
    notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalRelay::drain);

    struct sigaction action {};
    action.sa_handler = relaySignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : kRelayedSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

SignalRelay::~SignalRelay() {
    for (const int signalNumber : kRelayedSignals) {
        std::signal(signalNumber, SIG_DFL);
    }
    close(gWriteFd);
    gWriteFd = -1;
    close(readFd_);
}

void SignalRelay::drain() {
    unsigned char received[64];
    ssize_t n;
    while ((n = read(readFd_, received, sizeof received)) > 0 || (n < 0 && errno == EINTR)) {
        for (ssize_t k = 0; k < n; ++k) {
            if (received[k] == SIGUSR1) {
                emit dumpRequested();
            } else {
                emit stopRequested(received[k]);
            }
        }
    }
}

} // namespace printer_sim
