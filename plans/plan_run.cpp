#include "plans/plan_run.hpp"

#include "connection/console.hpp"
#include "protocol/frame.hpp"

#include <QTimer>

namespace plans {

PlanRun::PlanRun(Plan plan, connection::Transport* transport, Scheduler scheduler)
    : plan_(std::move(plan)), transport_(transport), scheduler_(std::move(scheduler)) {
    if (!scheduler_) {
        scheduler_ = [this](std::chrono::milliseconds delay, std::function<void()> step) {
            QTimer::singleShot(delay, this, std::move(step));
        };
    }
    settledSteps_.assign(plan_.steps.size(), false);
    sent_.assign(plan_.steps.size(), 0);
    if (transport != nullptr) {
        // A transport that goes away takes the reports of what it was still sending with it.
        connect(transport, &QObject::destroyed, this, [this] {
            for (int i = 0; i < stepCount(); ++i) {
                if (handedOver_[static_cast<std::size_t>(i)]) {
                    report(i, connection::DeliveryReport::failure(
                                  QStringLiteral("Printer not connected"), 0, 0));
                }
            }
        });
    }
    handedOver_.assign(plan_.steps.size(), false);
    ran_.assign(plan_.steps.size(), false);
}

void PlanRun::stop() {
    stopped_ = true;
    for (int i = 0; i < stepCount(); ++i) {
        if (!ran_[static_cast<std::size_t>(i)] && !settledSteps_[static_cast<std::size_t>(i)]) {
            ran_[static_cast<std::size_t>(i)] = true;
            settle(i);
        }
    }
}

PlanRun::~PlanRun() = default;

void PlanRun::start() {
    if (plan_.steps.empty()) {
        finish();
        return;
    }
    QPointer<PlanRun> self(this);
    for (int i = 0; i < stepCount() && self; ++i) {
        const auto at = plan_.steps[static_cast<std::size_t>(i)].at;
        if (at.count() <= 0) {
            runStep(i);
        } else {
            scheduler_(at, [self, i] {
                if (self) {
                    self->runStep(i);
                }
            });
        }
    }
}

void PlanRun::runStep(int index) {
    if (stopped_ || ran_[static_cast<std::size_t>(index)]) {
        return;
    }
    ran_[static_cast<std::size_t>(index)] = true;
    const Step& step = plan_.steps[static_cast<std::size_t>(index)];
    StepResult result = step.build();
    if (!result.bytes) {
        ++refused_;
        emit stepRefused(index, QString::fromStdString(result.refusal));
        settle(index);
        return;
    }
    const protocol::Bytes& bytes = *result.bytes;
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
    ++(delivery.delivered ? delivered_ : failed_);
    setSent(index, delivery.bytesSent);
    emit stepReported(index, delivery);
    settle(index);
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
    }
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
