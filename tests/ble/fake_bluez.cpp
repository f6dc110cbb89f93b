#include "tests/ble/fake_bluez.hpp"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QMap>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace ble_testing {
namespace {

using testing_support::ChildProcess;
using testing_support::containing;
using testing_support::kWaitLimit;

const QString kBluez = QStringLiteral("org.bluez");

std::string directory;
// Lives as long as the process: Qt's system-bus connection does too.
ChildProcess* bus = nullptr;

void startPrivateSystemBus() {
    const char* base = std::getenv("TMPDIR");
    directory = std::string(base && *base ? base : "/tmp") + "/ble-bus.XXXXXX";
    if (!mkdtemp(directory.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    // The daemon must not outlive a test process that crashes; the fake daemons quit with it.
    bus = new ChildProcess("/usr/bin/setpriv",
                           {"--pdeathsig", "KILL", "--", DBUS_DAEMON_PATH,
                            "--config-file=" FAKE_BLUEZ_DIR "/system_bus.conf",
                            "--address=unix:path=" + directory + "/system_bus_socket", "--nofork",
                            "--nopidfile", "--print-address=1"});
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
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
}

FakeBluez::FakeBluez() {
    if (!bus) {
        startPrivateSystemBus();
    }
    static int started = 0;
    logPath_ = directory + "/fake_bluez." + std::to_string(++started) + ".log";
    daemon_ = std::make_unique<ChildProcess>(
        "/usr/bin/python3",
        std::vector<std::string>{"-m", "dbusmock", "--system", "-t",
                                 FAKE_BLUEZ_DIR "/fake_bluez.py", "-l", logPath_});
    if (!daemon_->waitForLine(containing({"fake bluetoothd ready"}), kWaitLimit)) {
        throw std::runtime_error("the fake bluetoothd did not start: " + daemon_->errorOutput());
    }
}

FakeBluez::~FakeBluez() {
    if (testing::Test::HasFailure()) {
        std::cerr << "--- what the fake bluetoothd was asked and announced:\n"
                  << std::ifstream(logPath_).rdbuf();
    }
    daemon_.reset();
    QTest::qWaitFor(
        [] { return !QDBusConnection::systemBus().interface()->isServiceRegistered(kBluez); },
        static_cast<int>(kWaitLimit.count()));
}

QDBusMessage FakeBluez::call(const QString& method, const QList<QVariant>& arguments) const {
    QDBusMessage message =
        QDBusMessage::createMethodCall(kBluez, "/", QStringLiteral("test.FakeBluez"), method);
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
    call("AddAdvertiser",
         {address, name, QVariant::fromValue(qint16(rssi)), QVariant::fromValue(manufacturerData)});
}

} // namespace ble_testing
