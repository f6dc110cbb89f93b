#include "tools/printer-sim/sim_options.hpp"

#include <QHostAddress>
#include <QString>

#include <charconv>
#include <optional>
#include <string_view>

namespace printer_sim {

namespace {

std::optional<long> wholeNumber(std::string_view text) {
    long value = 0;
    const auto* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) {
        return std::nullopt;
    }
    return value;
}

// "HOST:PORT", with an IPv6 host in brackets ("[::1]:9100"). Only address literals and
// "localhost": the sim must never resolve names, so what it binds is exactly what was typed.
std::optional<std::string> parseListen(std::string_view text, SimOptions& options) {
    const auto colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return "--listen wants HOST:PORT, got \"" + std::string(text) + "\"";
    }
    auto host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    const auto port = wholeNumber(text.substr(colon + 1));
    if (!port || *port < 0 || *port > 65535) {
        return "--listen: \"" + std::string(text.substr(colon + 1)) + "\" is not a port 0...65535";
    }
    std::string address = host == "localhost" ? "127.0.0.1" : std::string(host);
    if (QHostAddress(QString::fromStdString(address)).isNull()) {
        return "--listen: \"" + std::string(host) + "\" is not an IP address";
    }
    options.host = std::move(address);
    options.port = static_cast<std::uint16_t>(*port);
    return std::nullopt;
}

std::optional<std::string> parsePrinters(std::string_view text, SimOptions& options) {
    const auto count = wholeNumber(text);
    if (!count || *count < 1 || *count > kMaxPrinters) {
        return "--printers wants a number 1..." + std::to_string(kMaxPrinters) + ", got \"" +
               std::string(text) + "\"";
    }
    options.printers = static_cast<int>(*count);
    return std::nullopt;
}

} // namespace

std::variant<SimOptions, OptionError> parseOptions(const std::vector<std::string>& arguments) {
    SimOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view argument = arguments[i];
        std::optional<std::string_view> attached; // the value of "--name=value"
        if (const auto equals = argument.find('=');
            argument.starts_with("--") && equals != std::string_view::npos) {
            attached = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
        }
        const auto value = [&]() -> std::optional<std::string_view> {
            if (attached) {
                return attached;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        std::optional<std::string> error;
        if (argument == "--listen" || argument == "--printers") {
            const auto text = value();
            if (!text) {
                return OptionError{std::string(argument) + " needs a value"};
            }
            options.listenGiven = options.listenGiven || argument == "--listen";
            error = argument == "--listen" ? parseListen(*text, options)
                                           : parsePrinters(*text, options);
        } else if (attached) {
            error = std::string(argument) + " takes no value";
        } else if (argument == "--json") {
            options.json = true;
        } else if (argument == "--show-secrets") {
            options.showSecrets = true;
        } else if (argument == "--pty") {
            options.pty = true;
        } else if (argument == "--dump-state") {
            options.dumpState = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else {
            error = "unknown option \"" + std::string(argument) + "\"";
        }
        if (error) {
            return OptionError{std::move(*error)};
        }
    }
    if (options.port != 0 && options.port + options.printers - 1 > 65535) {
        return OptionError{std::to_string(options.printers) + " printers from port " +
                           std::to_string(options.port) + " run past port 65535"};
    }
    return options;
}

std::string usageText() {
    return R"(Usage: printer-sim [options]

A virtual receipt printer: listens on TCP or a pseudo-terminal, decodes every command it
receives and prints one line per command on standard output. It never answers.

Options:
  --listen HOST:PORT  where to listen (default 127.0.0.1:9100; port 0 picks a free port)
  --printers N        run N independent printers on consecutive ports (default 1)
  --pty               be a USB serial printer on a new pseudo-terminal and print its path
                      (TCP too only when --listen is also given)
  --json              one JSON object per line instead of readable lines
  --show-secrets      show passwords instead of their length
  --dump-state        print each printer's pending settings when stopped (SIGINT, SIGTERM)
  -h, --help          show this help

SIGUSR1 prints the pending settings at any time.
Exit status: 0 when stopped by a signal, 1 when a port cannot be bound, 2 on a bad option.
)";
}

} // namespace printer_sim
