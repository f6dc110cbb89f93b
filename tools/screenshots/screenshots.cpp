// Pictures of the window for people to look at: the start, the Bluetooth list, the connected
// dashboard, Find Printers' list, the settings hub, the Basic, Network, Wi-Fi and MQTT screens with
// the codepage list, the Baud Rate list, the certificate chooser and an alert, drawn offscreen with
// the software renderer into the current directory. An optional WIDTHxHEIGHT argument sizes the
// window (default: its own size). Exits non-zero if a picture could not be taken or is blank.
#include "tests/connection/fake_ble_central.hpp"
#include "ui/content_view_model.hpp"
#include "ui/controls/fonts.hpp"
#include "ui/mqtt_settings_model.hpp"
#include "ui/profile_model.hpp"

#include <QGuiApplication>
#include <QImage>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <string>

Q_IMPORT_QML_PLUGIN(PrinterConfigPlugin)
Q_IMPORT_QML_PLUGIN(PrinterConfig_ControlsPlugin)

namespace {

testing_support::FakeBleCentral* radio = nullptr;

// Lets animations finish, then grabs the window. A blank picture (one colour) is a failure.
bool shoot(QQuickWindow* window, const char* name) {
    QTest::qWait(700);
    const QImage image = window->grabWindow();
    bool varied = false;
    for (int y = 0; y < image.height() && !varied; y += 7) {
        for (int x = 0; x < image.width() && !varied; x += 7) {
            varied = image.pixel(x, y) != image.pixel(0, 0);
        }
    }
    const bool saved = !image.isNull() && image.save(QString::fromLatin1(name));
    std::printf("%s %s\n", name, saved && varied ? "written" : "FAILED");
    return saved && varied;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication app(argc, argv);
    ui::installFonts();
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    ui::ContentViewModel::setCentralFactory([] {
        auto central = std::make_unique<testing_support::FakeBleCentral>();
        radio = central.get();
        return central;
    });

    QQmlApplicationEngine engine;
    engine.addImportPath(QStringLiteral("qrc:/")); // where the static modules put their qmldir
    engine.load(QUrl(QStringLiteral("qrc:/PrinterConfig/Main.qml")));
    if (engine.rootObjects().isEmpty()) {
        return 1;
    }
    auto* window = qobject_cast<QQuickWindow*>(engine.rootObjects().first());
    if (argc > 1) {
        const QStringList size = QString::fromLocal8Bit(argv[1]).split(QLatin1Char('x'));
        if (size.size() != 2 || size[0].toInt() <= 0 || size[1].toInt() <= 0) {
            std::fprintf(stderr, "usage: ui_screenshots [WIDTHxHEIGHT]\n");
            return 2;
        }
        window->resize(size[0].toInt(), size[1].toInt());
    }
    // The content is built after the window's first frame.
    QObject* content = nullptr;
    if (!QTest::qWaitFor([&] {
            return (content = window->findChild<QObject*>(QStringLiteral("contentView")));
        })) {
        return 1;
    }
    auto* view = content->property("model").value<ui::ContentViewModel*>();
    bool ok = shoot(window, "start.png");

    view->selectConnectionType(QStringLiteral("bluetooth"));
    QTest::qWait(50);
    const QByteArray printer("\x4B\x43\x01\x02", 4);
    radio->delegate()->didDiscover({{"C4:7F:0E:12:34:56", "QW-T50"}, printer, -63});
    radio->delegate()->didDiscover({{"C4:7F:0E:AB:CD:EF", "Kitchen 80"}, printer, -78});
    ok = shoot(window, "bluetooth.png") && ok;

    QTcpServer printerPort;
    printerPort.listen(QHostAddress::LocalHost, 0);
    view->selectConnectionType(QStringLiteral("network"));
    // Find Printers over loopback only (the picture never sends a packet to a real network).
    discovery::SearchOptions search;
    search.mdns = false;
    search.subnets = {*discovery::parseSubnet("127.0.0.0/29")};
    search.probeOptions.port = printerPort.serverPort();
    view->printerFinder()->setOptions(search);
    view->printerFinder()->start();
    ok = QTest::qWaitFor([&] { return !view->printerFinder()->searching(); }, 5000) && ok;
    ok = shoot(window, "network-find.png") && ok;
    view->chooseFoundPrinter(0);
    view->toggleNetworkConnection();
    ok = QTest::qWaitFor([&] { return view->isCurrentConnected(); }, 5000) && ok;
    ok = shoot(window, "dashboard.png") && ok;

    // A sheet opened at one section and its picture; closeSheet() lets it go.
    const auto openSheet = [&](const char* section) {
        view->openSettings(QString::fromLatin1(section));
        ok = shoot(window, (std::string(section) + ".png").c_str()) && ok;
    };
    const auto closeSheet = [&] {
        view->closeSettings();
        QTest::qWait(100);
    };
    openSheet("hub");
    closeSheet();

    openSheet("basic");
    if (QObject* basic = window->findChild<QObject*>(QStringLiteral("basicSettingsView"))) {
        if (QObject* baud = basic->findChild<QObject*>(QStringLiteral("baudRate"))) {
            auto* list = baud->property("popup").value<QObject*>();
            QMetaObject::invokeMethod(list, "open");
            ok = shoot(window, "baud.png") && ok;
            QMetaObject::invokeMethod(list, "close");
        } else {
            ok = false;
        }
        QMetaObject::invokeMethod(basic, "openLanguagePicker");
        ok = shoot(window, "language.png") && ok;
    } else {
        ok = false;
    }
    closeSheet();
    openSheet("network");
    closeSheet();
    openSheet("wifi");
    closeSheet();
    openSheet("mqtt");
    if (QObject* mqttView = window->findChild<QObject*>(QStringLiteral("mqttSettingsView"))) {
        auto* mqtt = mqttView->property("screen").value<ui::MQTTSettingsModel*>();
        for (const char* pane : {"topics", "timing", "tls"}) {
            mqtt->pane = QString::fromLatin1(pane);
            emit mqtt->fieldsChanged();
            mqtt->setTlsMode(2);
            ok = shoot(window, (std::string("mqtt-") + pane + ".png").c_str()) && ok;
        }
        QMetaObject::invokeMethod(mqttView->property("importer").value<QObject*>(), "open");
        ok = shoot(window, "chooser.png") && ok;
    } else {
        ok = false;
    }
    view->closeSettings();
    QTest::qWait(100);

    openSheet("saveProfile");
    closeSheet();
    openSheet("applyProfile");
    if (QObject* profileView = window->findChild<QObject*>(QStringLiteral("profileView"))) {
        auto* profile = profileView->property("screen").value<ui::ProfileModel*>();
        QTemporaryDir dir;
        plans::Profile shop;
        shop.basic = plans::BasicFields{};
        shop.name = "Front desk";
        shop.wifi = plans::WifiCredentials{"shop", "secret"};
        shop.topics = plans::TopicFields{};
        profile->path = dir.filePath(QStringLiteral("shop.json"));
        emit profile->pathChanged();
        ok = !plans::writeProfileFile(profile->path,
                                      std::get<QByteArray>(plans::profileJson(shop))) &&
             profile->load() && ok;
        profile->apply();
        ok = QTest::qWaitFor([&] { return !profile->transferring(); }, 5000) && ok;
        ok = shoot(window, "applyProfile-done.png") && ok;
    } else {
        ok = false;
    }
    view->closeSettings();

    view->networkManager().disconnect();
    view->setIpAddress(QStringLiteral("192.168.1"));
    view->toggleNetworkConnection();
    ok = shoot(window, "alert.png") && ok;
    return ok ? 0 : 1;
}
