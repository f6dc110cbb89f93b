// Qt Quick Test for the whole window, offscreen: the application's modules, a scripted radio,
// a running printer-sim the tests connect to over TCP, and the application's console lines.
#include "connection/console.hpp"
#include "tests/connection/fake_ble_central.hpp"
#include "tests/sim/sim_process.hpp"
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

Q_IMPORT_QML_PLUGIN(PrinterConfigPlugin)
Q_IMPORT_QML_PLUGIN(PrinterConfig_ControlsPlugin)

// The virtual printer as the tests see it: where it listens, and whether it printed a line.
class SimHarness : public QObject {
    Q_OBJECT
    Q_PROPERTY(int port READ port CONSTANT)
    // A DER certificate on disk, for the import tests.
    Q_PROPERTY(QString certificateFile READ certificateFile CONSTANT)
public:
    SimHarness() : sim_({"--listen", "127.0.0.1:0"}) {
        connection::setConsoleSink([this](std::string_view line) { console_.emplace_back(line); });
    }
    int port() const { return sim_.firstPort(); }
    QString certificateFile() {
        QFile file(files_.filePath(QStringLiteral("device.crt")));
        if (file.open(QIODevice::WriteOnly)) {
            file.write(QByteArray("\x30\x82\x01\x0a", 4));
        }
        return file.fileName();
    }
    // Never blocks: the window's socket writes from the same event loop.
    Q_INVOKABLE bool printed(const QString& fragment) {
        const auto match = testing_support::containing({fragment.toStdString()});
        sim_.waitForLine(match, std::chrono::milliseconds(0)); // takes in what has come
        return std::ranges::any_of(sim_.lines(), match);
    }

    Q_INVOKABLE QString lastLine() const {
        return sim_.lines().empty() ? QString() : QString::fromStdString(sim_.lines().back());
    }
    // Whether the application printed a console line containing `fragment`.
    Q_INVOKABLE bool logged(const QString& fragment) const {
        return std::ranges::any_of(console_, testing_support::containing({fragment.toStdString()}));
    }

private:
    sim_testing::SimProcess sim_;
    std::vector<std::string> console_;
    QTemporaryDir files_;
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
