#include "plans/plan_run.hpp"

#include "connection/console.hpp"
#include "protocol/frame.hpp"

#include <QTimer>

namespace plans {

PlanRun::PlanRun(Plan plan, connection::Transport* transport, Scheduler scheduler)
    : plan_(std::move(plan)), transport_(transport), scheduler_(std::move(scheduler)) {
    if (!scheduler_) {
        // Precise: Qt lets a coarse timer of a few seconds fire up to 5 % early or late, which
        // would put commands planned 250 ms apart into one read of the printer.
        scheduler_ = [this](std::chrono::milliseconds delay, std::function<void()> step) {
            QTimer::singleShot(delay, Qt::PreciseTimer, this, std::move(step));
        };
    }
    const std::size_t count = plan_.steps.size();
    settledSteps_.assign(count, false);
    sent_.assign(count, 0);
    handedOver_.assign(count, false);
    due_.assign(count, false);
    if (transport != nullptr) {
        // A transport that goes away takes the reports of what it was still sending with it.
        // Nothing new starts inside the transport's destructor; later steps fail afterwards.
        connect(transport, &QObject::destroyed, this, [this] {
            runningReady_ = true;
            for (int i = 0; i < stepCount(); ++i) {
                if (handedOver_[static_cast<std::size_t>(i)]) {
                    report(i, connection::DeliveryReport::failure(
                                  QStringLiteral("Printer not connected"), 0, 0));
                }
            }
            if (held_) {
                failHeld();
            }
            runningReady_ = false;
            QMetaObject::invokeMethod(this, &PlanRun::runReady, Qt::QueuedConnection);
        });
    }
}

PlanRun::~PlanRun() = default;

void PlanRun::start() {
    if (plan_.steps.empty()) {
        finish();
        return;
    }
    QPointer<PlanRun> self(this);
    for (int i = 0; i < stepCount(); ++i) {
        const auto at = plan_.steps[static_cast<std::size_t>(i)].at;
        if (at.count() <= 0) {
            due_[static_cast<std::size_t>(i)] = true;
        } else {
            scheduler_(at, [self, i] {
                if (self) {
                    self->due_[static_cast<std::size_t>(i)] = true;
                    self->runReady();
                }
            });
        }
    }
    runReady();
}

void PlanRun::stop() {
    stopped_ = true;
    if (held_) {
        held_.reset();
        settle(next_ - 1);
    }
    while (next_ < stepCount()) {
        settle(next_++);
    }
}

void PlanRun::runReady() {
    if (runningReady_) {
        return; // a step settled inside the loop below, which goes on by itself
    }
    runningReady_ = true;
    QPointer<PlanRun> self(this);
    while (self && !stopped_ && !held_ && next_ < stepCount() &&
           due_[static_cast<std::size_t>(next_)]) {
        runStep(next_++);
    }
    if (self) {
        runningReady_ = false;
    }
}

void PlanRun::runStep(int index) {
    const Step& step = plan_.steps[static_cast<std::size_t>(index)];
    StepResult result = step.build();
    if (!result.bytes) {
        ++refused_;
        emit stepRefused(index, QString::fromStdString(result.refusal));
        settle(index);
        return;
    }
    if (outstanding_ > 0) {
        // Built with the values of its time, sent once the command ahead of it has left.
        held_ = std::move(*result.bytes);
        return;
    }
    handOver(index, *result.bytes);
}

void PlanRun::handOver(int index, const protocol::Bytes& bytes) {
    const Step& step = plan_.steps[static_cast<std::size_t>(index)];
    const auto log = [&] {
        if (!step.logPrefix.empty()) {
            connection::consoleLine(protocol::hexDumpLine(step.logPrefix, bytes));
        }
    };
    if (step.logFirst) {
        log();
    }
    const auto size = static_cast<qint64>(bytes.size());
    handedOver_[static_cast<std::size_t>(index)] = true;
    ++outstanding_;
    handedOverBytes_ += size;
    if (transport_) {
        QPointer<PlanRun> self(this);
        transport_->sendData(
            bytes,
            [self, index](const connection::DeliveryReport& delivery) {
                if (self) {
                    self->report(index, delivery);
                }
            },
            step.reportSuccess,
            [self, index](qint64 sent, qint64) {
                if (self) {
                    self->setSent(index, sent);
                }
            });
    } else {
        QMetaObject::invokeMethod(
            this,
            [this, index, size] {
                report(index, connection::DeliveryReport::failure(
                                  QStringLiteral("Printer not connected"), 0, size));
            },
            Qt::QueuedConnection);
    }
    if (!step.logFirst) {
        log();
    }
    emit stepHandedOver(index, size);
}

void PlanRun::report(int index, const connection::DeliveryReport& delivery) {
    if (settledSteps_[static_cast<std::size_t>(index)]) {
        return; // reported already, when its transport went away
    }
    handedOver_[static_cast<std::size_t>(index)] = false;
    --outstanding_;
    ++(delivery.delivered ? delivered_ : failed_);
    setSent(index, delivery.bytesSent);
    emit stepReported(index, delivery);
    if (outstanding_ == 0 && held_ && !stopped_) {
        if (transport_) {
            const protocol::Bytes bytes = *std::exchange(held_, std::nullopt);
            handOver(next_ - 1, bytes);
        } else {
            failHeld();
        }
    }
    settle(index);
}

void PlanRun::failHeld() {
    const auto size = static_cast<qint64>(std::exchange(held_, std::nullopt)->size());
    ++failed_;
    emit stepReported(next_ - 1, connection::DeliveryReport::failure(
                                     QStringLiteral("Printer not connected"), 0, size));
    settle(next_ - 1);
}

void PlanRun::setSent(int index, qint64 sent) {
    qint64& step = sent_[static_cast<std::size_t>(index)];
    sentBytes_ += sent - step;
    step = sent;
    emit bytesProgress(sentBytes_, handedOverBytes_);
}

void PlanRun::settle(int index) {
    settledSteps_[static_cast<std::size_t>(index)] = true;
    if (++settled_ == stepCount()) {
        finish();
        return;
    }
    runReady();
}

void PlanRun::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    emit finished();
    deleteLater();
}

} // namespace plans
