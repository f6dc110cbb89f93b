#include "ui/settings_screen_model.hpp"

namespace ui {

SettingsScreenModel::~SettingsScreenModel() {
    leaving();
}

void SettingsScreenModel::leaving() {
    if (settings_) {
        settings_->screenLeft(this);
        settings_ = nullptr;
    }
}

void SettingsScreenModel::setSettings(PrinterSettingsModel* settings) {
    if (settings == settings_) {
        return;
    }
    if (settings_) {
        settings_->screenLeft(this);
    }
    settings_ = settings;
    if (settings_) {
        settings_->screenShown(this);
        content_ = settings_->content();
        connectionType_ = settings_->connectionType();
    }
    emit settingsChanged();
    if (settings_) {
        shown();
    }
}

void SettingsScreenModel::setShowRestartAlert(bool show) {
    if (show != showRestartAlert_) {
        showRestartAlert_ = show;
        emit alertsChanged();
    }
}

void SettingsScreenModel::setShowRefusal(bool show) {
    if (show != showRefusal_) {
        showRefusal_ = show;
        emit alertsChanged();
    }
}

ContentViewModel* SettingsScreenModel::content() const {
    return settings_ ? settings_->content() : content_.data();
}

void SettingsScreenModel::postAlert(const QString& title, const QString& message,
                                    std::function<void()> dismissed) {
    if (ContentViewModel* content = this->content()) {
        content->alerts()->post(title, message, std::move(dismissed));
    }
}

void SettingsScreenModel::stepRefused(const QString& message) {
    refusal_ = message;
    showRefusal_ = true;
    emit alertsChanged();
    QPointer<SettingsScreenModel> self(this);
    postAlert(QStringLiteral("Not Sent"), message, [self] {
        if (self) {
            self->setShowRefusal(false);
        }
    });
}

void SettingsScreenModel::confirmed() {
    const QString message = restartMessage();
    if (message.isEmpty()) {
        return;
    }
    setShowRestartAlert(true);
    QPointer<SettingsScreenModel> self(this);
    postAlert(QStringLiteral("Settings Successful"), message, [self] {
        if (self) {
            self->setShowRestartAlert(false);
        }
    });
}

void SettingsScreenModel::run(plans::Plan plan) {
    // The sheet fixed its transport when it opened; it stays the one this screen sends over.
    ContentViewModel* content = this->content();
    const auto type = connection::connectionTypeFromRaw(
        (settings_ ? settings_->connectionType() : connectionType_).toStdString());
    connection::Transport* transport =
        content != nullptr && type ? &content->transports()[*type] : nullptr;
    std::vector<bool> confirms;
    for (const plans::Step& step : plan.steps) {
        confirms.push_back(step.confirms);
    }
    auto* run = new plans::PlanRun(std::move(plan), transport, scheduler_);
    // What the run's reports decide: the confirmation only when every command it handed over
    // reached the printer, else how far it got; never both.
    struct Outcome {
        bool confirmedStepDelivered = false;
        QString firstFailure;
    };
    auto outcome = std::make_shared<Outcome>();
    connect(run, &plans::PlanRun::stepRefused, this,
            [this](int, const QString& message) { stepRefused(message); });
    connect(run, &plans::PlanRun::stepReported, this,
            [outcome, confirms](int index, const connection::DeliveryReport& report) {
                if (report.delivered) {
                    outcome->confirmedStepDelivered |= confirms[static_cast<std::size_t>(index)];
                } else if (outcome->firstFailure.isEmpty()) {
                    outcome->firstFailure = report.error;
                }
            });
    connect(run, &plans::PlanRun::bytesProgress, this, [this](qint64 sent, qint64 total) {
        sent_ = sent;
        total_ = total;
        emit progressChanged();
    });
    connect(run, &plans::PlanRun::finished, this, [this, run, outcome] {
        --runs_;
        emit progressChanged();
        // Every command the plan meant to send, those a failure stopped included.
        const int meant = run->stepCount() - run->refusedSteps();
        if (run->failedSteps() > 0) {
            postAlert(QStringLiteral("Not Sent"),
                      QStringLiteral("%1 of %2 commands reached the printer.\n%3")
                          .arg(run->deliveredSteps())
                          .arg(meant)
                          .arg(outcome->firstFailure),
                      {});
        } else if (outcome->confirmedStepDelivered) {
            confirmed();
        }
    });
    ++runs_;
    sent_ = 0;
    total_ = 0;
    emit progressChanged();
    emit planStarted(run);
    run->start();
}

} // namespace ui
