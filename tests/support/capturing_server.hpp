#pragma once

#include <QTcpServer>
#include <QTcpSocket>

namespace testing_support {

// A printer on 127.0.0.1 for the Qt transports: accepts connections and keeps what they send.
struct CapturingServer {
    CapturingServer() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            QTcpSocket* peer = server.nextPendingConnection();
            QObject::connect(peer, &QIODevice::readyRead, peer,
                             [this, peer] { received += peer->readAll(); });
            QObject::connect(peer, &QAbstractSocket::disconnected, peer, [this] { ++closedPeers; });
        });
    }
    std::uint16_t port() const { return server.serverPort(); }

    QTcpServer server;
    QByteArray received;
    int closedPeers = 0;
};

} // namespace testing_support
