#include "ui/window_options.hpp"

#include <algorithm>
#include <array>
#include <string_view>

namespace ui {
namespace {

// Qt's own options (and the X11 session manager's), and whether each takes a value;
// QGuiApplication reads and removes them.
struct QtOption {
    std::string_view name;
    bool takesValue;
};
constexpr std::array<QtOption, 15> kQtOptions{{
    {"platform", true},
    {"platformpluginpath", true},
    {"platformtheme", true},
    {"plugin", true},
    {"qwindowgeometry", true},
    {"qwindowtitle", true},
    {"qwindowicon", true},
    {"display", true},
    {"style", true},
    {"stylesheet", true},
    {"reverse", false},
    {"qmljsdebugger", true},
    {"session", true},
    {"name", true},
    {"title", true},
}};

// The option's name without its leading dashes, and its value when written as NAME=VALUE.
std::string_view optionName(std::string_view argument) {
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    return argument.substr(0, argument.find('='));
}

} // namespace

WindowOptions parseWindowOptions(int argc, const char* const* argv) {
    WindowOptions options;
    const auto refuse = [&options](const QString& message) {
        options.target.reset();
        options.error =
            QStringLiteral("printer-config: %1\nTry 'printer-config --help'.").arg(message);
        return options;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--connect" || argument.starts_with("--connect=")) {
            if (options.target) {
                return refuse(QStringLiteral("--connect names one printer"));
            }
            std::string_view text;
            if (const auto equals = argument.find('='); equals != std::string_view::npos) {
                text = argument.substr(equals + 1);
            } else if (i + 1 < argc) {
                text = argv[++i];
            } else {
                return refuse(QStringLiteral("--connect needs a printer: tcp:HOST[:PORT], "
                                             "serial:PATH, usb:PORT-ID or ble:ADDRESS"));
            }
            auto parsed = connection::parseTarget(text);
            if (const auto* message = std::get_if<QString>(&parsed)) {
                return refuse(*message);
            }
            options.target = std::get<connection::Target>(std::move(parsed));
            continue;
        }
        if (!argument.starts_with('-')) {
            return refuse(
                QStringLiteral("unexpected argument '%1'").arg(QString::fromLocal8Bit(argv[i])));
        }
        const auto qtOption = std::ranges::find(kQtOptions, optionName(argument), &QtOption::name);
        if (qtOption == kQtOptions.end()) {
            // A single dash is Qt's way (and that of the X11 session: -session, -name): left to
            // it. Ours have two.
            if (argument.starts_with("--")) {
                return refuse(
                    QStringLiteral("unknown option '%1'").arg(QString::fromLocal8Bit(argv[i])));
            }
            continue;
        }
        if (qtOption->takesValue && argument.find('=') == std::string_view::npos) {
            ++i;
        }
    }
    return options;
}

QString windowUsageText() {
    return QStringLiteral(
        "Usage: printer-config [--connect TARGET]\n"
        "\n"
        "Opens the window that connects a receipt printer over TCP, Bluetooth LE or USB and\n"
        "changes its stored settings.\n"
        "\n"
        "Options:\n"
        "  --connect TARGET  start on the target's transport with its fields filled, and\n"
        "                    connect. TARGET is one of\n"
        "                      tcp:HOST[:PORT]  an IPv4 address (port 9100 by default)\n"
        "                      serial:PATH      a serial line, e.g. serial:/dev/ttyUSB0\n"
        "                      usb:PORT-ID      a port as 'printerctl list usb' shows it\n"
        "                      ble:ADDRESS      a Bluetooth LE printer, e.g.\n"
        "                                       ble:AA:BB:CC:DD:EE:FF\n"
        "  -h, --help        show this text\n"
        "\n"
        "Qt's own options (-platform NAME, -style NAME, …) are passed to Qt.\n");
}

} // namespace ui
