#pragma once

#include "connection/manager_alert.hpp"
#include "protocol/bytes.hpp"

#include <QString>
#include <functional>

namespace connection {

// What became of one send: delivered (the bytes left this program towards the printer: reached
// the TCP stack, confirmed by the Bluetooth peer, written to the serial line or the bulk
// endpoint), or failed with the text to show and how many of the bytes went out first.
struct DeliveryReport {
    bool delivered = false;
    QString error;
    qint64 bytesSent = 0;
    qint64 total = 0;

    static DeliveryReport success(qint64 total) { return {true, {}, total, total}; }
    static DeliveryReport failure(QString error, qint64 bytesSent, qint64 total) {
        return {false, std::move(error), bytesSent, total};
    }
};

using DeliveryHandler = std::function<void(const DeliveryReport&)>;
// How much of one send has gone out so far: called any number of times before its report (the
// last call may say all of it), always on the main thread.
using ProgressHandler = std::function<void(qint64 bytesSent, qint64 total)>;

// One printer link, whatever carries it. Each manager keeps its own published state, status
// texts, console lines and alert; this is what the window and printerctl need in common.
// Everything here is called and reported on the main thread.
class Transport : public ManagerAlert {
    Q_OBJECT
    Q_PROPERTY(bool linkUp READ isLinkUp NOTIFY linkUpChanged)

public:
    using ManagerAlert::ManagerAlert;

    // Whether the link is up (the panel's "connected").
    virtual bool isLinkUp() const = 0;

    // Hands the bytes over. `onReport` runs exactly once, always after this call has returned.
    // Without a link the manager reports it its own way (alert or console line) and the report
    // says so. `reportSuccess` is set only for the communication test (the USB manager then
    // confirms a good send with an alert).
    virtual void sendData(const protocol::Bytes& bytes, DeliveryHandler onReport = {},
                          bool reportSuccess = false, ProgressHandler onProgress = {}) = 0;

    // Marks the link down at once and returns; bytes handed over before still go out, in order.
    virtual void disconnect() = 0;

signals:
    void linkUpChanged();
};

} // namespace connection
