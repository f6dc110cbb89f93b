#pragma once

#include "protocol/decoder.hpp"
#include "tools/printer-sim/output_lines.hpp"
#include "tools/printer-sim/pending_settings.hpp"

#include <QObject>

#include <functional>
#include <map>
#include <string>

class QHostAddress;
class QSocketNotifier;

namespace printer_sim {

class TcpListener;

using LineSink = std::function<void(const std::string& line)>;

// One printer on one listening socket. It takes any number of connections at once, decodes each
// byte stream on its own, prints a line for every command and keeps the settings it was sent.
// It never writes to a peer: the printers it stands in for do not answer configuration commands.
// Each connection is read to its end before it is closed, so every byte a peer got through to
// this host is decoded, however late the printer gets round to it.
class SimulatedPrinter : public QObject {
    Q_OBJECT
public:
    // Takes over `listener`, which is already listening; without one the printer only has the
    // serial line it is given.
    SimulatedPrinter(int number, TcpListener* listener, const OutputLines& lines, LineSink sink,
                     QObject* parent = nullptr);
    ~SimulatedPrinter() override;

    // Reads the master side of a pseudo-terminal as the printer's serial line; takes `masterFd`.
    void takeSerialLine(int masterFd);

    int number() const { return number_; }
    const PendingSettings& pending() const { return pending_; }
    void printPendingSettings() const;
    // Ends every open connection as if its peer had gone: a frame cut off is reported.
    void closeConnections();

private:
    struct Session {
        std::string peer;
        protocol::StreamDecoder decoder;
    };
    struct Connection {
        Session session;
        QSocketNotifier* notifier;
    };

    void accept(int descriptor, const QHostAddress& peerAddress, quint16 peerPort);
    // Reads what the connection holds now, up to a share; its end (or a broken connection) ends
    // it. True when the share ran out with more perhaps to come.
    bool readFrom(int descriptor);
    void end(int descriptor);
    void report(const std::string& peer, const std::vector<protocol::DecodedCommand>& commands);
    void readSerialLine();

    int number_;
    TcpListener* listener_;
    const OutputLines& lines_;
    LineSink sink_;
    PendingSettings pending_;
    std::map<int, Connection> connections_; // by descriptor
    int serialFd_ = -1;
    QSocketNotifier* serialNotifier_ = nullptr;
    Session serialSession_{"serial", {}};
};

} // namespace printer_sim
