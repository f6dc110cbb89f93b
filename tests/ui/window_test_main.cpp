// Qt Quick Test for the whole window, offscreen: the application's modules, a scripted radio,
// a running printer-sim the tests connect to over TCP, and the application's console lines.
#include "connection/console.hpp"
#include "tests/connection/fake_ble_central.hpp"
#include "tests/support/process.hpp"
#include "ui/content_view_model.hpp"
#include "ui/controls/fonts.hpp"

#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickStyle>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest/quicktest.h>
#include <algorithm>
#include <regex>

Q_IMPORT_QML_PLUGIN(PrinterConfigPlugin)
Q_IMPORT_QML_PLUGIN(PrinterConfig_ControlsPlugin)

// The virtual printer as the tests see it: where it listens, and whether it printed a line.
class SimHarness : public QObject {
    Q_OBJECT
    Q_PROPERTY(int port READ port CONSTANT)
    // A DER certificate on disk, for the import tests.
    Q_PROPERTY(QString certificateFile READ certificateFile CONSTANT)
public:
    SimHarness() : sim_(PRINTER_SIM_PATH, {"--listen", "127.0.0.1:0"}) {
        connection::setConsoleSink([this](std::string_view line) { console_.emplace_back(line); });
        const std::string first = sim_.takeFirstLine();
        std::smatch found;
        if (std::regex_search(first, found, std::regex(R"(:(\d+)$)"))) {
            port_ = std::stoi(found[1]);
        }
    }
    int port() const { return port_; }
    QString certificateFile() {
        const QString path = files_.filePath(QStringLiteral("device.crt"));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray("\x30\x82\x01\x0a", 4));
        }
        return path;
    }
    // Never blocks: the window's socket writes from the same event loop.
    Q_INVOKABLE bool printed(const QString& fragment) {
        sim_.waitForLine(testing_support::containing({fragment.toStdString()}),
                         std::chrono::milliseconds(0));
        for (const auto& line : sim_.lines()) {
            if (line.find(fragment.toStdString()) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    Q_INVOKABLE QString lastLine() const {
        return sim_.lines().empty() ? QString() : QString::fromStdString(sim_.lines().back());
    }
    // Whether the application printed a console line containing `fragment`.
    Q_INVOKABLE bool logged(const QString& fragment) const {
        const std::string wanted = fragment.toStdString();
        return std::ranges::any_of(console_, [&](const std::string& line) {
            return line.find(wanted) != std::string::npos;
        });
    }

private:
    testing_support::ChildProcess sim_;
    std::vector<std::string> console_;
    QTemporaryDir files_;
    int port_ = 0;
};

class Setup : public QObject {
    Q_OBJECT
public slots:
    void applicationAvailable() {
        ui::installFonts();
        QQuickStyle::setStyle(QStringLiteral("Basic"));
        ui::ContentViewModel::setCentralFactory(
            [] { return std::make_unique<testing_support::FakeBleCentral>(); });
    }
    void qmlEngineAvailable(QQmlEngine* engine) {
        engine->addImportPath(QStringLiteral("qrc:/"));
        engine->rootContext()->setContextProperty(QStringLiteral("sim"), &sim_);
    }

private:
    SimHarness sim_;
};

QUICK_TEST_MAIN_WITH_SETUP(window, Setup)

#include "window_test_main.moc"
