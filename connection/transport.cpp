#include "connection/transport.hpp"

#include <QMetaObject>

namespace connection {

QString noProgressText(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    return ms % 1000 == 0 ? QStringLiteral("the printer took no data for %1 s").arg(ms / 1000)
                          : QStringLiteral("the printer took no data for %1 ms").arg(ms);
}

QString bytesOfText(qint64 sent, qint64 total) {
    return QStringLiteral(" (%1 of %2 bytes)").arg(sent).arg(total);
}

void Transport::beginConnect() {
    endConnect(false, QStringLiteral("Connection cancelled"));
    connectOpen_ = true;
}

void Transport::endConnect(bool ready, const QString& error) {
    if (!connectOpen_) {
        return;
    }
    connectOpen_ = false;
    QMetaObject::invokeMethod(
        this, [this, ready, error] { emit connectFinished(ready, error); }, Qt::QueuedConnection);
}

} // namespace connection
