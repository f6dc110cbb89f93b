#include "tests/ble/fake_bluez.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMap>
#include <QSignalSpy>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace ble_testing {
namespace {

using testing_support::ChildProcess;
using testing_support::containing;
using testing_support::kWaitLimit;

const QString kBluez = QStringLiteral("org.bluez");
const QString kControl = QStringLiteral("test.FakeBluez");

std::string& directory() {
    static std::string path;
    return path;
}

// Lives as long as the process: Qt's system-bus connection does too.
ChildProcess* bus = nullptr;

QString devicePath(const QString& address) {
    return QStringLiteral("/org/bluez/hci0/dev_") + QString(address).replace(':', '_').toUpper();
}

QString writeCharacteristicPath(const QString& address) {
    return devicePath(address) + QStringLiteral("/service000a/char000b");
}

QVariant property(const QString& path, const QString& interface, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        kBluez, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = QDBusConnection::systemBus().call(get);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        return {};
    }
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

void startPrivateSystemBus() {
    const char* base = std::getenv("TMPDIR");
    std::string dir = std::string(base && *base ? base : "/tmp") + "/ble-bus.XXXXXX";
    if (!mkdtemp(dir.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    directory() = dir;
    // The daemon must not outlive a test process that crashes; the fake daemons quit with it.
    bus = new ChildProcess("/usr/bin/setpriv", {"--pdeathsig", "KILL", "--", DBUS_DAEMON_PATH,
                                                "--config-file=" FAKE_BLUEZ_DIR "/system_bus.conf",
                                                "--address=unix:path=" + dir + "/system_bus_socket",
                                                "--nofork", "--nopidfile", "--print-address=1"});
    // The address is printed once the socket listens.
    const auto address = bus->waitForLine(containing({"unix:path="}), kWaitLimit);
    if (!address) {
        throw std::runtime_error("dbus-daemon did not start: " + bus->errorOutput());
    }
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address->c_str(), 1);
    // Without this Qt asks the bluetoothd binary for its version, finds none, and falls back to
    // its own ATT implementation on kernel sockets.
    setenv("BLUETOOTH_FORCE_DBUS_LE_VERSION", "5.66", 1);
    qDBusRegisterMetaType<QMap<quint16, QByteArray>>();
}

} // namespace

void stopPrivateSystemBus() {
    delete std::exchange(bus, nullptr);
    if (!directory().empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory(), ignored);
    }
}

FakeBluez::FakeBluez(Options options) {
    if (!bus) {
        startPrivateSystemBus();
    }
    static int started = 0;
    logPath_ = directory() + "/fake_bluez." + std::to_string(++started) + ".log";
    const std::string parameters = std::string("{\"adapter\": ") +
                                   (options.adapter ? "true" : "false") +
                                   ", \"powered\": " + (options.powered ? "true" : "false") + "}";
    daemon_ = std::make_unique<ChildProcess>(
        "/usr/bin/python3", std::vector<std::string>{"-m", "dbusmock", "--system", "-t",
                                                     FAKE_BLUEZ_DIR "/fake_bluez.py", "-l",
                                                     logPath_, "-p", parameters});
    if (!daemon_->waitForLine(containing({"fake bluetoothd ready"}), kWaitLimit)) {
        throw std::runtime_error("the fake bluetoothd did not start: " + daemon_->errorOutput());
    }
}

FakeBluez::~FakeBluez() {
    if (testing::Test::HasFailure()) {
        std::cerr << "--- what the fake bluetoothd was asked and announced:\n" << log();
    }
    QDBusServiceWatcher gone(kBluez, QDBusConnection::systemBus(),
                             QDBusServiceWatcher::WatchForUnregistration);
    QSignalSpy unregistered(&gone, &QDBusServiceWatcher::serviceUnregistered);
    daemon_.reset();
    // The watcher's match rule may be in place only after the name left: ask as well.
    if (QDBusConnection::systemBus().interface()->isServiceRegistered(kBluez)) {
        unregistered.wait(static_cast<int>(kWaitLimit.count()));
    }
}

QDBusMessage FakeBluez::call(const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage message =
        QDBusMessage::createMethodCall(kBluez, QStringLiteral("/"), kControl, method);
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::systemBus().call(message);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        throw std::runtime_error("fake bluetoothd: " + method.toStdString() + ": " +
                                 reply.errorMessage().toStdString());
    }
    return reply;
}

void FakeBluez::addAdvertiser(const QString& address, const QString& name, int rssi,
                              std::uint16_t company, const QByteArray& data) {
    QMap<quint16, QByteArray> manufacturerData;
    if (company != 0 || !data.isEmpty()) {
        manufacturerData.insert(company, data);
    }
    call(QStringLiteral("AddAdvertiser"),
         {address, name, QVariant::fromValue(qint16(rssi)), QVariant::fromValue(manufacturerData)});
}

void FakeBluez::setRssi(const QString& address, int rssi) {
    call(QStringLiteral("SetRssi"), {address, QVariant::fromValue(qint16(rssi))});
}

void FakeBluez::addAdapter(bool powered) {
    call(QStringLiteral("AddAdapter"), {powered});
}

void FakeBluez::removeAdapter() {
    call(QStringLiteral("RemoveAdapter"));
}

void FakeBluez::setPowered(bool powered) {
    call(QStringLiteral("SetPowered"), {powered});
}

void FakeBluez::failNext(const QString& method, const QString& message, unsigned skip) {
    call(QStringLiteral("FailNext"), {method, message, skip});
}

void FakeBluez::dropLink(const QString& address) {
    call(QStringLiteral("DropLink"), {address});
}

void FakeBluez::notify(const QString& address, const QByteArray& value) {
    call(QStringLiteral("Notify"), {address, value});
}

bool FakeBluez::isNotifying(const QString& address) {
    return property(writeCharacteristicPath(address),
                    QStringLiteral("org.bluez.GattCharacteristic1"), QStringLiteral("Notifying"))
        .toBool();
}

bool FakeBluez::isConnected(const QString& address) {
    return property(devicePath(address), QStringLiteral("org.bluez.Device1"),
                    QStringLiteral("Connected"))
        .toBool();
}

std::vector<FakeBluez::Write> FakeBluez::writes() {
    const QDBusMessage reply = call(QStringLiteral("Writes"));
    std::vector<Write> writes;
    const auto records = reply.arguments().value(0).value<QDBusArgument>();
    records.beginArray();
    while (!records.atEnd()) {
        Write write;
        records.beginStructure();
        records >> write.value >> write.type;
        records.endStructure();
        writes.push_back(write);
    }
    records.endArray();
    return writes;
}

std::string FakeBluez::log() const {
    std::ifstream file(logPath_);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace ble_testing
