#pragma once

#include "connection/target.hpp"
#include "connection/transports.hpp"
#include "plans/plan_run.hpp"
#include "tools/printerctl/command_line.hpp"

#include <QCoreApplication>
#include <QPointer>
#include <functional>
#include <memory>

namespace printerctl {

// One printer's run of a plan, through the same transport the window uses: connect to the target,
// run the plan once the transport reports the link ready (its steps with their spacing), wait for
// every step's delivery report, disconnect. The first failure (a refused or dropped link, a
// time-out, a failed or stuck send) ends it; later steps are not sent. Only the target's own
// transport is made. Needs a running Qt event loop.
class TargetSession {
public:
    struct Outcome {
        bool ok = false;
        int delivered = 0;   // steps the transport delivered
        int failedStep = -1; // the first step not delivered; -1: the link failed before any ran
        QString error;
    };
    // Called once, from the event loop, after the link was closed; the session may then be
    // destroyed (not from inside the call).
    using Done = std::function<void(const Outcome&)>;

    TargetSession(
        connection::Target target, plans::Plan plan, Done done,
        std::chrono::milliseconds noProgressLimit = connection::Transport::kNoProgressLimit);
    ~TargetSession();
    TargetSession(const TargetSession&) = delete;
    TargetSession& operator=(const TargetSession&) = delete;

    void start();
    const connection::Target& target() const { return target_; }
    int stepCount() const { return static_cast<int>(plan_.steps.size()); }

    // A step was delivered (for progress).
    std::function<void(int step)> onStep;

private:
    void startPlan();
    void fail(const QString& message, int step = -1);
    void finish();

    connection::Target target_;
    plans::Plan plan_;
    Done done_;
    std::unique_ptr<connection::Transports> transports_;
    connection::Transport* transport_; // the target's, owned by transports_
    QPointer<plans::PlanRun> run_;
    Outcome outcome_;
    bool started_ = false;
    bool finished_ = false;
};

// The Qt application of a command that needs an event loop; Qt is told only the program's name.
std::unique_ptr<QCoreApplication> startEventLoop();

// A single command's run (--tcp, --serial, --usb, --ble). Returns the exit status: 0 done, 1
// transport or send failure, 2 invalid target.
//   --tcp HOST[:PORT]  port 9100 by default
//   --serial PATH      any terminal device, opened as a USB serial line
//   --usb PORT-ID      a port id as `printerctl list usb` shows it
//   --ble ADDRESS      a printer's Bluetooth address; a scan must see it first
int sendRequest(const SendRequest& request);

// `printerctl list usb`: the USB ports as the window would list them, one per line.
int listUsbPorts();

// `printerctl list ble`: the printers a scan of `seconds` sees: address, name, RSSI.
int listBlePrinters(int seconds);

} // namespace printerctl
