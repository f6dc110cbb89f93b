#pragma once

#include "connection/ble/ble_central.hpp"

#include <QMetaObject>
#include <QObject>
#include <set>
#include <string>
#include <vector>

namespace testing_support {

// A scripted central standing in for the radio. Like the platform it reports its first state
// after creation and confirms each write with response once, later, on the main thread; the
// test decides the rest (advertisements, connect results, GATT layout, failures) by calling the
// delegate itself.
class FakeBleCentral : public connection::BleCentral {
public:
    explicit FakeBleCentral(connection::RadioState state = connection::RadioState::poweredOn)
        : state_(state) {}

    void setDelegate(connection::BleCentralDelegate* delegate) override {
        delegate_ = delegate;
        if (delegate != nullptr) {
            post([this] { delegate_->centralDidUpdateState(state_); });
        }
    }
    connection::RadioState state() const override { return state_; }
    void scanForPeripherals() override { calls.push_back("scan"); }
    void stopScan() override { calls.push_back("stopScan"); }
    void connectPeripheral(const connection::BlePeripheral& p) override {
        calls.push_back("connect " + p.identifier.toStdString());
    }
    void cancelPeripheralConnection(const connection::BlePeripheral& p) override {
        calls.push_back("cancel " + p.identifier.toStdString());
    }
    void discoverServices(const connection::BlePeripheral&) override {
        calls.push_back("discoverServices");
    }
    void discoverCharacteristics(const connection::BlePeripheral&,
                                 const QString& service) override {
        calls.push_back("discoverCharacteristics " + service.toStdString());
    }
    int maximumWriteValueLength(const connection::BlePeripheral&) const override {
        return maximumWriteLength;
    }
    void writeValue(const connection::BlePeripheral& p, const connection::BleCharacteristic& c,
                    const QByteArray& value) override {
        writes.push_back(value);
        const bool fails = failingWrites.contains(writes.size());
        if (confirmWrites) {
            post([this, p, c, fails] {
                delegate_->didWriteValue(
                    p, c, fails ? std::optional<QString>("Unlikely error") : std::nullopt);
            });
        }
    }
    void setNotifyValue(const connection::BlePeripheral&, const connection::BleCharacteristic& c,
                        bool enabled) override {
        calls.push_back("notify " + c.uuid.toStdString() + (enabled ? " on" : " off"));
    }

    connection::BleCentralDelegate* delegate() const { return delegate_; }
    void setState(connection::RadioState state) { state_ = state; }

    std::vector<std::string> calls;
    std::vector<QByteArray> writes;
    int maximumWriteLength = 512;
    bool confirmWrites = true;
    std::set<std::size_t> failingWrites; // 1-based numbers of writes that fail

private:
    template <typename F> void post(F f) {
        QMetaObject::invokeMethod(&context_, std::move(f), Qt::QueuedConnection);
    }

    connection::RadioState state_;
    connection::BleCentralDelegate* delegate_ = nullptr;
    QObject context_; // posted reports die with the fake
};

} // namespace testing_support
