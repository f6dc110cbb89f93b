#pragma once

#include "protocol/decoder.hpp"

#include <string>
#include <string_view>
#include <vector>

// The lines printer-sim prints: readable ("printer 1 · 127.0.0.1:50432 · wifi ...") or one JSON
// object each. Every line names its printer so that a fleet's output can be told apart.
namespace printer_sim {

struct OutputStyle {
    bool json = false;
    protocol::RenderOptions render;
};

enum class PeerEvent { connected, disconnected };

class OutputLines {
public:
    explicit OutputLines(OutputStyle style) : style_(style) {}

    std::string command(int printer, std::string_view peer,
                        const protocol::DecodedCommand& command) const;
    std::string event(int printer, std::string_view peer, PeerEvent event) const;
    // A header line (in JSON too, so a reader knows how many settings follow), then one line
    // per setting.
    std::vector<std::string>
    pendingSettings(int printer, const std::vector<protocol::DecodedCommand>& settings) const;

private:
    OutputStyle style_;
};

// "127.0.0.1:9100", or "[::1]:9100" for an IPv6 address.
std::string endpointText(std::string_view address, int port);

} // namespace printer_sim
