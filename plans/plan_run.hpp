#pragma once

#include "connection/transport.hpp"
#include "plans/plan.hpp"

#include <QObject>
#include <QPointer>
#include <chrono>
#include <functional>
#include <optional>

namespace plans {

// One run of a plan on one transport: each step at its time (steps due at once run inside
// `start`), its console line, its bytes handed to the transport, and the transport's report.
// A step never leaves before its time, and never before the step ahead of it has reported: the
// printer gets each command in a write of its own, in plan order, however late a timer fired or
// however long a large command took. The run outlives whoever started it: it holds the plan's
// field readers and only a weak reference to the transport, and deletes itself once every step
// has run and reported.
class PlanRun : public QObject {
    Q_OBJECT

public:
    // Runs `step` `delay` after now on the main thread, never earlier; tests drive their own
    // clock.
    using Scheduler =
        std::function<void(std::chrono::milliseconds delay, std::function<void()> step)>;

    PlanRun(Plan plan, connection::Transport* transport, Scheduler scheduler = {});
    ~PlanRun() override;

    // Connect to the signals first: steps due at once run here.
    void start();

    // Steps not yet due are not run; `finished` follows once the steps already handed over
    // have reported. (A profile stops at its first failure: the rest would only fail too.)
    void stop();

    int stepCount() const { return static_cast<int>(plan_.steps.size()); }
    int deliveredSteps() const { return delivered_; }
    int failedSteps() const { return failed_; }
    int refusedSteps() const { return refused_; }

signals:
    // The step refused with the message the user is shown; nothing was sent for it.
    void stepRefused(int index, const QString& message);
    // The step's bytes were handed to the transport (its console line printed).
    void stepHandedOver(int index, qint64 size);
    void stepReported(int index, const connection::DeliveryReport& report);
    // How many of the bytes handed over so far have gone out.
    void bytesProgress(qint64 sent, qint64 handedOver);
    // Every step has run and reported; the run deletes itself after this.
    void finished();

private:
    // Runs the next steps whose time has come, in order.
    void runReady();
    // Builds the step's bytes from the values as they stand now, and hands them over once no
    // earlier command is still on its way.
    void runStep(int index);
    void handOver(int index, const protocol::Bytes& bytes);
    // The held step fails unsent: its transport has gone.
    void failHeld();
    void report(int index, const connection::DeliveryReport& report);
    void settle(int index);
    void finish();

    Plan plan_;
    QPointer<connection::Transport> transport_;
    Scheduler scheduler_;
    void setSent(int index, qint64 sent);

    std::vector<bool> handedOver_; // handed to the transport, not yet reported
    std::vector<qint64> sent_;     // per step, what has gone out so far
    qint64 sentBytes_ = 0;         // the sum of sent_
    qint64 handedOverBytes_ = 0;
    std::vector<bool> settledSteps_; // refused, reported, or never run after a stop
    std::vector<bool> due_;
    int next_ = 0;                        // the first step not yet run
    int outstanding_ = 0;                 // steps handed over, not yet reported
    std::optional<protocol::Bytes> held_; // step next_ - 1, built, waiting for `outstanding_`
    bool runningReady_ = false;
    bool stopped_ = false;
    int settled_ = 0;
    int delivered_ = 0;
    int failed_ = 0;
    int refused_ = 0;
    bool finished_ = false;
};

} // namespace plans
