// printer-config: one window to connect a receipt printer over TCP, Bluetooth LE or USB and
// change its stored settings.
#include "ui/content_view_model.hpp"
#include "ui/controls/accessibility.hpp"
#include "ui/controls/fonts.hpp"
#include "ui/window_options.hpp"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <cstdlib>

Q_IMPORT_QML_PLUGIN(PrinterConfigPlugin)
Q_IMPORT_QML_PLUGIN(PrinterConfig_ControlsPlugin)

namespace {

// Without a display Qt aborts with a message about its platform plugin; say what is missing.
bool haveDisplay() {
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv) {
    const ui::WindowOptions options = ui::parseWindowOptions(argc, argv);
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(options.error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(ui::windowUsageText()), stdout);
        return 0;
    }
    if (!haveDisplay()) {
        std::fputs("printer-config: no display to open the window on (neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set). Run it in a desktop session, or under Xvfb: "
                   "xvfb-run build/app/printer-config\n",
                   stderr);
        return 1;
    }
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("printer-config"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("printer-config"));
    // The installed desktop file and icon, for the window's entry in the desktop's task list.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.PrinterConfig"));
    ui::ContentViewModel::setStartupTarget(options.target);
    ui::installFonts();
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    ui::installAccessibleStates();

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/")); // where the static modules put their qmldir
    QObject::connect(
        &engine, &QQmlApplicationEngine::objectCreationFailed, &app,
        [] { QCoreApplication::exit(1); }, Qt::QueuedConnection);
    engine.load(QUrl(QStringLiteral("qrc:/PrinterConfig/Main.qml")));
    if (engine.rootObjects().isEmpty()) {
        return 1;
    }
    return QGuiApplication::exec();
}
