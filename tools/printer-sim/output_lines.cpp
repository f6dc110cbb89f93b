#include "tools/printer-sim/output_lines.hpp"

namespace printer_sim {

namespace {

constexpr std::string_view kSeparator = " \u00B7 ";

std::string readablePrefix(int printer) {
    return "printer " + std::to_string(printer) + std::string(kSeparator);
}

// The renderer's object with our own members put in front of its first one.
std::string jsonWithPrefix(const std::string& members, const std::string& renderedObject) {
    return "{" + members + "," + renderedObject.substr(1);
}

std::string_view eventName(PeerEvent event) {
    return event == PeerEvent::connected ? "connected" : "disconnected";
}

} // namespace

std::string OutputLines::command(int printer, std::string_view peer,
                                 const protocol::DecodedCommand& command) const {
    if (style_.json) {
        return jsonWithPrefix("\"printer\":" + std::to_string(printer) +
                                  ",\"peer\":" + protocol::jsonQuoted(peer),
                              protocol::renderJson(command, style_.render));
    }
    return readablePrefix(printer) + std::string(peer) + std::string(kSeparator) +
           protocol::renderLine(command, style_.render);
}

std::string OutputLines::event(int printer, std::string_view peer, PeerEvent event) const {
    if (style_.json) {
        return "{\"printer\":" + std::to_string(printer) +
               ",\"peer\":" + protocol::jsonQuoted(peer) + ",\"event\":\"" +
               std::string(eventName(event)) + "\"}";
    }
    return readablePrefix(printer) + std::string(peer) + std::string(kSeparator) +
           std::string(eventName(event));
}

std::vector<std::string>
OutputLines::pendingSettings(int printer,
                             const std::vector<protocol::DecodedCommand>& settings) const {
    std::vector<std::string> lines;
    const auto count = std::to_string(settings.size());
    const auto number = std::to_string(printer);
    if (style_.json) {
        lines.push_back("{\"printer\":" + number +
                        ",\"event\":\"pending-settings\",\"count\":" + count + "}");
    } else {
        lines.push_back(readablePrefix(printer) +
                        "pending settings (applied at the next restart): " + count);
    }
    for (const auto& setting : settings) {
        lines.push_back(style_.json
                            ? jsonWithPrefix("\"printer\":" + number + ",\"pending\":true",
                                             protocol::renderJson(setting, style_.render))
                            : readablePrefix(printer) + "pending" + std::string(kSeparator) +
                                  protocol::renderLine(setting, style_.render));
    }
    return lines;
}

std::string endpointText(std::string_view address, int port) {
    const bool ipv6 = address.find(':') != std::string_view::npos;
    return (ipv6 ? "[" + std::string(address) + "]" : std::string(address)) + ":" +
           std::to_string(port);
}

} // namespace printer_sim
