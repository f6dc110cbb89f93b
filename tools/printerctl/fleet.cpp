#include "tools/printerctl/fleet.hpp"

#include "connection/console.hpp"
#include "protocol/frame.hpp"
#include "tools/printerctl/transport_send.hpp"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <unistd.h>

namespace printerctl {
namespace {

using connection::Target;

class Fleet {
public:
    explicit Fleet(const ApplyRequest& request)
        : request_(request), showProgress_(isatty(STDERR_FILENO) == 1) {
        for (const Target& target : request.targets) {
            const bool sideBySide =
                target.kind == Target::Kind::tcp || target.kind == Target::Kind::serial;
            (sideBySide ? sideBySide_ : oneAtATime_).push_back(target);
        }
    }

    int run() {
        startMore();
        return QCoreApplication::exec();
    }

private:
    int steps() const { return static_cast<int>(request_.plan.plan.steps.size()); }

    void startMore() {
        while (runningSideBySide_ < request_.jobs && !sideBySide_.empty()) {
            ++runningSideBySide_;
            launch(sideBySide_.front(), true);
            sideBySide_.pop_front();
        }
        if (!oneRunning_ && !oneAtATime_.empty()) {
            oneRunning_ = true;
            launch(oneAtATime_.front(), false);
            oneAtATime_.pop_front();
        }
        if (finished_ == static_cast<int>(request_.targets.size())) {
            if (showProgress_) {
                std::cerr << "\r\033[K" << std::flush;
            }
            QCoreApplication::exit(failed_ == 0 ? 0 : 1);
        }
    }

    void launch(const Target& target, bool sideBySide) {
        const int id = nextId_++;
        auto session = std::make_unique<TargetSession>(
            target, request_.plan.plan,
            [this, id, sideBySide](const TargetSession::Outcome& outcome) {
                report(sessions_.at(id)->target(), outcome);
                // Not from inside the session's own call.
                QTimer::singleShot(0, qApp, [this, id] { sessions_.erase(id); });
                --(sideBySide ? runningSideBySide_ : oneRunning_);
                startMore();
            },
            request_.noProgressLimit);
        session->onStep = [this](int) {
            ++deliveredSteps_;
            progress();
        };
        TargetSession& started = *session;
        sessions_.emplace(id, std::move(session));
        started.start();
    }

    void report(const Target& target, const TargetSession::Outcome& outcome) {
        ++finished_;
        failed_ += outcome.ok ? 0 : 1;
        QString error = outcome.error;
        if (outcome.failedStep >= 0) {
            // Which section's command it was, so the technician knows what the printer has.
            error = QString::fromStdString(
                        request_.plan.stepSection[static_cast<std::size_t>(outcome.failedStep)]) +
                    QStringLiteral(": ") + error;
        }
        error.replace(QLatin1Char('\n'), QLatin1Char(' '));
        if (showProgress_) {
            std::cerr << "\r\033[K" << std::flush;
        }
        if (request_.json) {
            QJsonObject line{{"target", QString::fromStdString(target.text)},
                             {"ok", outcome.ok},
                             {"delivered", outcome.delivered},
                             {"steps", steps()}};
            if (!outcome.ok) {
                line.insert("error", error);
            }
            std::cout << QJsonDocument(line).toJson(QJsonDocument::Compact).toStdString()
                      << std::endl;
        } else {
            std::cout << target.text << '\t' << (outcome.ok ? "ok" : "failed") << '\t'
                      << outcome.delivered << '/' << steps();
            if (!outcome.ok) {
                std::cout << '\t' << error.toStdString();
            }
            std::cout << std::endl;
        }
        progress();
    }

    void progress() {
        if (!showProgress_) {
            return;
        }
        std::cerr << "\r\033[Kapplying: " << finished_ << " of " << request_.targets.size()
                  << " printers done";
        if (failed_ > 0) {
            std::cerr << " (" << failed_ << " failed)";
        }
        std::cerr << ", " << deliveredSteps_ << " of " << request_.targets.size() * steps()
                  << " commands delivered" << std::flush;
    }

    const ApplyRequest& request_;
    const bool showProgress_;
    std::deque<Target> sideBySide_;
    std::deque<Target> oneAtATime_;
    std::map<int, std::unique_ptr<TargetSession>> sessions_;
    int nextId_ = 0;
    int runningSideBySide_ = 0;
    int oneRunning_ = 0;
    int finished_ = 0;
    int failed_ = 0;
    long long deliveredSteps_ = 0;
};

} // namespace

int applyProfile(const ApplyRequest& request) {
    if (!request.warning.isEmpty()) {
        std::cerr << "printerctl: warning: " << request.warning.toStdString() << std::endl;
    }
    if (request.dryRun) {
        for (const auto& step : request.plan.plan.steps) {
            std::cout << protocol::hexText(*step.build().bytes) << '\n';
        }
        return 0;
    }
    const auto app = startEventLoop();
    // Every printer's link and command lines, interleaved, would bury the one line per printer.
    connection::setConsoleSink([](std::string_view) {});
    Fleet fleet(request);
    return fleet.run();
}

int checkProfile(const ProfileCheckRequest& request) {
    auto loaded = plans::readProfileFile(QString::fromLocal8Bit(request.path.c_str()));
    if (const auto* problems = std::get_if<QStringList>(&loaded)) {
        for (const QString& problem : *problems) {
            std::cerr << request.path << ": " << problem.toStdString() << '\n';
        }
        return 2;
    }
    const auto& profile = std::get<plans::LoadedProfile>(loaded);
    if (!profile.warning.isEmpty()) {
        std::cerr << "printerctl: warning: " << profile.warning.toStdString() << '\n';
    }
    const plans::ProfilePlan plan = plans::profilePlan(profile.profile);
    std::string sections;
    for (const auto& section : plans::sectionPlans(profile.profile)) {
        sections += (sections.empty() ? "" : ", ") + section.key;
    }
    const auto last =
        plan.plan.steps.empty() ? std::chrono::milliseconds{0} : plan.plan.steps.back().at;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f", static_cast<double>(last.count()) / 1000.0);
    std::cout << request.path << ": ok: " << plan.plan.steps.size() << " commands over " << seconds
              << " s: " << (sections.empty() ? "nothing" : sections) << '\n';
    return 0;
}

} // namespace printerctl
