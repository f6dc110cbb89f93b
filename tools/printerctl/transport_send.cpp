#include "tools/printerctl/transport_send.hpp"

#include "connection/console.hpp"
#include "connection/transports.hpp"
#include "discovery/escaped_text.hpp"
#include "plans/plan_run.hpp"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>

namespace printerctl {

namespace {

using connection::Target;

} // namespace

TargetSession::TargetSession(Target target, plans::Plan plan, Done done,
                             std::chrono::milliseconds noProgressLimit)
    : target_(std::move(target)), plan_(std::move(plan)), done_(std::move(done)),
      transports_(std::make_unique<connection::Transports>(
          target_.kind == Target::Kind::ble
              ? connection::Transports::CentralFactory(connection::makeSystemBleCentral)
              : connection::Transports::CentralFactory(connection::makeInactiveBleCentral))),
      transport_(&(*transports_)[target_.connectionType()]) {
    transport_->setNoProgressLimit(noProgressLimit);
    // Success is the outcome here: the USB manager's confirmation alert would read as a failure.
    for (auto& step : plan_.steps) {
        step.reportSuccess = false;
    }
    QObject::connect(transport_, &connection::Transport::connectFinished, transport_,
                     [this](bool ready, const QString& error) {
                         if (ready) {
                             startPlan();
                         } else {
                             fail(error);
                         }
                     });
    // A link that drops between two commands: the alert says why, the link state that it did.
    QObject::connect(transport_, &connection::ManagerAlert::alertRaised, transport_,
                     [this](const QString& message) { fail(message); });
    QObject::connect(transport_, &connection::Transport::linkUpChanged, transport_, [this] {
        if (started_ && !transport_->isLinkUp()) {
            fail(QStringLiteral("The link to the printer went down"));
        }
    });
}

TargetSession::~TargetSession() = default;

void TargetSession::start() {
    transport_->connectTo(target_);
}

void TargetSession::startPlan() {
    if (started_ || finished_) {
        return;
    }
    started_ = true;
    run_ = new plans::PlanRun(plan_, transport_);
    QObject::connect(run_, &plans::PlanRun::stepRefused, run_,
                     [this](int index, const QString& message) { fail(message, index); });
    QObject::connect(run_, &plans::PlanRun::stepReported, run_,
                     [this](int index, const connection::DeliveryReport& report) {
                         if (report.delivered) {
                             ++outcome_.delivered;
                             if (onStep) {
                                 onStep(index);
                             }
                         } else {
                             fail(report.error, index);
                         }
                     });
    QObject::connect(run_, &plans::PlanRun::finished, run_, [this] {
        run_ = nullptr;
        finish();
    });
    // After the link's own report has been handled in full (its console line first).
    QTimer::singleShot(0, run_, &plans::PlanRun::start);
}

void TargetSession::fail(const QString& message, int step) {
    if (finished_) {
        return;
    }
    if (outcome_.error.isEmpty()) {
        outcome_.error = message;
        // A link that drops while the plan runs stops it at the first command not delivered
        // (one transport delivers in order).
        outcome_.failedStep =
            step >= 0 || !started_ ? step : std::min(outcome_.delivered, stepCount() - 1);
    }
    finish();
}

void TargetSession::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    outcome_.ok = outcome_.error.isEmpty();
    // Steps not yet due are not sent once one failed: the run goes, and its timers with it.
    if (run_ != nullptr) {
        run_->deleteLater();
        run_ = nullptr;
    }
    transport_->disconnect();
    // Let the alert or console lines already posted come out first.
    QTimer::singleShot(0, transport_, [this] { done_(outcome_); });
}

std::unique_ptr<QCoreApplication> startEventLoop() {
    static int argc = 1;
    static char name[] = "printerctl";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QCoreApplication>(argc, argv);
}

int sendRequest(const SendRequest& request) {
    static const std::map<Transport, Target::Kind> kinds = {
        {Transport::tcp, Target::Kind::tcp},
        {Transport::serial, Target::Kind::serial},
        {Transport::usb, Target::Kind::usb},
        {Transport::ble, Target::Kind::ble}};
    auto made = connection::makeTarget(kinds.at(request.transport), request.target);
    // Only a TCP address can be wrong before a connection is tried.
    if (const auto* error = std::get_if<QString>(&made)) {
        std::cerr << "printerctl: --tcp " << request.target << ": " << error->toStdString()
                  << std::endl;
        return 2;
    }
    const Target target = std::get<Target>(std::move(made));
    const auto app = startEventLoop();
    TargetSession session(target, request.plan, [](const TargetSession::Outcome& outcome) {
        if (!outcome.ok) {
            std::cerr << outcome.error.toStdString() << std::endl;
        }
        QCoreApplication::exit(outcome.ok ? 0 : 1);
    });
    session.start();
    return QCoreApplication::exec();
}

int listUsbPorts() {
    const auto app = startEventLoop();
    connection::USBSerialManager usb;
    QObject::connect(&usb, &connection::USBSerialManager::portsRefreshed, &usb, [&usb] {
        for (const auto& port : usb.availablePorts()) {
            char ids[16];
            std::snprintf(ids, sizeof ids, "%04x:%04x", port.vendorId, port.productId);
            // Names and serials come from the devices: data, one field each.
            std::cout << discovery::escapedText(port.id).toStdString() << '\t'
                      << discovery::escapedText(port.name).toStdString() << '\t'
                      << connection::rawValue(port.kind).toStdString() << '\t' << ids << '\t'
                      << discovery::escapedText(port.serial).toStdString() << '\n';
        }
        for (const QString& problem : usb.accessProblems()) {
            std::cerr << "printerctl: " << problem.toStdString() << '\n';
        }
        if (usb.availablePorts().empty()) {
            std::cerr << usb.connectionStatus().toStdString() << '\n';
        }
        std::cout.flush();
        QCoreApplication::exit(0);
    });
    usb.refreshPorts();
    return QCoreApplication::exec();
}

int listBlePrinters(int seconds) {
    const auto app = startEventLoop();
    // The scan's own lines would mix with the list: they go to standard error.
    connection::setConsoleSink([](std::string_view line) { std::cerr << line << std::endl; });
    connection::BluetoothManager bluetooth;
    bluetooth.setTimings(
        {std::chrono::seconds(seconds), std::chrono::seconds(5), std::chrono::milliseconds(500)});
    QObject::connect(&bluetooth, &connection::ManagerAlert::showAlertChanged, &bluetooth, [&] {
        if (bluetooth.showAlert()) {
            std::cerr << bluetooth.alertMessage().toStdString() << std::endl;
            QCoreApplication::exit(1);
        }
    });
    QObject::connect(&bluetooth, &connection::BluetoothManager::radioStateReported, &bluetooth,
                     [&](connection::RadioState state) {
                         if (state != connection::RadioState::poweredOn) {
                             return;
                         }
                         QTimer::singleShot(std::chrono::seconds(seconds), &bluetooth, [&] {
                             for (const auto& device : bluetooth.discoveredDevices()) {
                                 std::cout << device.identifier.toStdString() << '\t'
                                           << discovery::escapedText(device.displayName())
                                                  .toStdString()
                                           << '\t'
                                           << bluetooth.deviceRSSI().value(device.identifier)
                                           << '\n';
                             }
                             std::cout.flush();
                             QCoreApplication::exit(0);
                         });
                     });
    return QCoreApplication::exec();
}

} // namespace printerctl
