#pragma once

#include "tools/printer-sim/tcp_listener.hpp"
#include <QHostAddress>

#include <memory>
#include <string>
#include <vector>

namespace printer_sim {

class TcpListener;

struct ListeningServers {
    std::vector<std::unique_ptr<TcpListener>> servers; // empty when `error` is set
    std::string error;
};

// `count` servers on consecutive ports from `firstPort`, so that a fleet's printers sit at
// predictable addresses. With port 0 the system picks the first port and the rest must be free
// after it; when one of them is taken the run starts again from a new first port.
ListeningServers listenOnConsecutivePorts(const QHostAddress& host, quint16 firstPort, int count);

} // namespace printer_sim
