#pragma once

#include "connection/manager_alert.hpp"
#include "connection/target.hpp"
#include "protocol/bytes.hpp"

#include <QString>
#include <chrono>
#include <functional>

namespace connection {

// What became of one send: delivered (the printer's side took the bytes: acknowledged by its TCP
// stack, confirmed by the Bluetooth peer, sent down the serial line or the bulk endpoint), or
// failed with the text to show and how many of the bytes the printer took first.
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

// "the printer took no data for 15 s": why a send failed that made no progress for `limit`.
QString noProgressText(std::chrono::milliseconds limit);
// " (120 of 8571 bytes)": how far a failed send got.
QString bytesOfText(qint64 sent, qint64 total);

// One printer link, whatever carries it. Each manager keeps its own published state, status
// texts, console lines and alert; this is what the window and printerctl need in common: a
// connect with one report, sends with one report each and a deadline, and an immediate
// disconnect. Everything here is called and reported on the main thread.
class Transport : public ManagerAlert {
    Q_OBJECT
    Q_PROPERTY(bool linkUp READ isLinkUp NOTIFY linkUpChanged)

public:
    // A send during which the printer takes nothing for this long fails, on every transport: a
    // printer that stops reading must not hold its sender (or a fleet) forever.
    static constexpr std::chrono::milliseconds kNoProgressLimit{15'000};

    using ManagerAlert::ManagerAlert;

    // Whether the link is up (the panel's "connected").
    virtual bool isLinkUp() const = 0;

    // Connects to `target`, a printer of this transport's kind. The attempt ends with exactly
    // one `connectFinished`, always after this call has returned: ready once commands can be
    // sent, or failed with the text the transport's alert shows too. A disconnect or another
    // connect before then ends it as failed.
    virtual void connectTo(const Target& target) = 0;

    // Hands the bytes over. `onReport` runs exactly once, always after this call has returned.
    // Without a link the manager reports it its own way (alert or console line) and the report
    // says so. `reportSuccess` is set only for the communication test (the USB manager then
    // confirms a good send with an alert).
    virtual void sendData(const protocol::Bytes& bytes, DeliveryHandler onReport = {},
                          bool reportSuccess = false, ProgressHandler onProgress = {}) = 0;

    // Marks the link down at once and returns; bytes handed over before still go out, in order.
    virtual void disconnect() = 0;

    // Tests shorten the deadline of a send.
    void setNoProgressLimit(std::chrono::milliseconds limit) { noProgressLimit_ = limit; }
    std::chrono::milliseconds noProgressLimit() const { return noProgressLimit_; }

signals:
    void linkUpChanged();
    void connectFinished(bool ready, const QString& error);

protected:
    // A new connect attempt; one still open ends first, as cancelled.
    void beginConnect();
    // Ends the open attempt with its report (posted); nothing when none is open.
    void endConnect(bool ready, const QString& error = {});
    bool connectOpen() const { return connectOpen_; }

private:
    bool connectOpen_ = false;
    std::chrono::milliseconds noProgressLimit_ = kNoProgressLimit;
};

} // namespace connection
