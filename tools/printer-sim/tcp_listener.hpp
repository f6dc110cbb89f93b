#pragma once

#include <QHostAddress>
#include <QObject>

#include <string>

class QSocketNotifier;

namespace printer_sim {

// A listening TCP socket that reports each connection with the peer address accept() gave.
// QTcpServer asks the socket for its peer later instead, and a peer that has already reset by
// then has none; a printer log line with an empty peer helps nobody.
class TcpListener : public QObject {
    Q_OBJECT
public:
    explicit TcpListener(QObject* parent = nullptr);
    ~TcpListener() override;

    // False with errorString() set when the address cannot be bound.
    bool listen(const QHostAddress& address, quint16 port);
    const std::string& errorString() const { return error_; }
    QHostAddress address() const { return address_; }
    quint16 port() const { return port_; }

signals:
    // `descriptor` is a connected, non-blocking socket; the receiver owns it.
    void accepted(int descriptor, const QHostAddress& peerAddress, quint16 peerPort);

private:
    void acceptAll();

    int fd_ = -1;
    QHostAddress address_;
    quint16 port_ = 0;
    std::string error_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace printer_sim
