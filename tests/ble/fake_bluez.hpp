#pragma once

#include "tests/support/process.hpp"

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// A radio world for Qt Bluetooth: a private D-Bus system bus, and on it a fake bluetoothd
// (python-dbusmock with tests/ble/fake_bluez.py) that the test drives.
namespace ble_testing {

// The private system bus of this test process: our own system-type configuration, a unix
// socket in a temporary directory, no service activation. The first FakeBluez starts it and
// points DBUS_SYSTEM_BUS_ADDRESS at it (child processes inherit that). Qt keeps its system-bus
// connection for the life of the process, so the bus stays until the process ends, and it must
// be up before Qt first touches D-Bus: create the FakeBluez before any Qt Bluetooth object.
// Stops the bus; main calls it after the tests. The bus also dies with the process.
void stopPrivateSystemBus();

class FakeBluez {
public:
    // Starts the fake daemon, with a powered adapter, and returns once it answers on the bus.
    FakeBluez();
    // Stops the daemon and waits until its bus name is gone, so the next one starts afresh.
    // After a failed test it prints the daemon's log of calls and signals.
    ~FakeBluez();

    // A device advertises in range, or again with new values. An empty name advertises none;
    // company 0 with empty data advertises no manufacturer data.
    void addAdvertiser(const QString& address, const QString& name, int rssi,
                       std::uint16_t company = 0, const QByteArray& data = {});
    void addAdapter() { call("AddAdapter"); }
    void removeAdapter() { call("RemoveAdapter"); }
    void setPowered(bool powered) { call("SetPowered", {powered}); }
    // After `skip` calls that go through, the next call of `method` (Connect, WriteValue or
    // StartNotify) fails with org.bluez.Error.Failed and `message`.
    void failNext(const QString& method, const QString& message, unsigned skip = 0) {
        call("FailNext", {method, message, skip});
    }
    // The link to the device goes down without anyone asking.
    void dropLink(const QString& address) { call("DropLink", {address}); }
    // The device notifies a new value of its write characteristic (if notifications are on).
    void notify(const QString& address, const QByteArray& value) {
        call("Notify", {address, value});
    }
    bool isConnected(const QString& address) const {
        return call("IsConnected", {address}).arguments().value(0).toBool();
    }
    // Every accepted write, in order.
    QByteArrayList writes() const {
        return qdbus_cast<QByteArrayList>(call("Writes").arguments().value(0));
    }

private:
    QDBusMessage call(const QString& method, const QList<QVariant>& arguments = {}) const;

    std::string logPath_;
    std::unique_ptr<testing_support::ChildProcess> daemon_;
};

} // namespace ble_testing
