#include "tools/printer-sim/listen_ports.hpp"

#include "tools/printer-sim/output_lines.hpp"

namespace printer_sim {

namespace {

// Each attempt fails only when another program holds a port in the run, which is rare.
constexpr int kAttemptsWithAnyPort = 32;

std::string failure(const QHostAddress& host, int port, const TcpListener& server) {
    return "cannot listen on " + endpointText(host.toString().toStdString(), port) + ": " +
           server.errorString();
}

ListeningServers listenFrom(const QHostAddress& host, quint16 firstPort, int count) {
    ListeningServers result;
    for (int k = 0; k < count; ++k) {
        const int port = k == 0 ? firstPort : result.servers.front()->port() + k;
        if (port > 65535) {
            return {{}, "cannot listen on port " + std::to_string(port) + ": beyond 65535"};
        }
        auto server = std::make_unique<TcpListener>();
        if (!server->listen(host, static_cast<quint16>(port))) {
            return {{}, failure(host, port, *server)};
        }
        result.servers.push_back(std::move(server));
    }
    return result;
}

} // namespace

ListeningServers listenOnConsecutivePorts(const QHostAddress& host, quint16 firstPort, int count) {
    if (firstPort != 0 || count == 1) {
        return listenFrom(host, firstPort, count);
    }
    ListeningServers last;
    for (int attempt = 0; attempt < kAttemptsWithAnyPort; ++attempt) {
        last = listenFrom(host, 0, count);
        if (last.error.empty()) {
            return last;
        }
    }
    last.error = "no run of " + std::to_string(count) +
                 " free consecutive ports found (last try: " + last.error + ")";
    return last;
}

} // namespace printer_sim
