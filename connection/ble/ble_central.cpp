#include "connection/ble/ble_central.hpp"

namespace connection {

QString blePropertiesText(std::uint8_t properties) {
    static const std::pair<std::uint8_t, const char*> names[] = {
        {0x01, "broadcast"},
        {0x02, "read"},
        {0x04, "writeWithoutResponse"},
        {0x08, "write"},
        {0x10, "notify"},
        {0x20, "indicate"},
        {0x40, "authenticatedSignedWrites"},
        {0x80, "extendedProperties"},
    };
    QStringList set;
    for (const auto& [bit, name] : names) {
        if ((properties & bit) != 0) {
            set.append(QLatin1String(name));
        }
    }
    return QStringLiteral("[%1] (rawValue: %2)")
        .arg(set.join(QStringLiteral(", ")))
        .arg(properties);
}

namespace {

class InactiveBleCentral final : public BleCentral {
public:
    void setDelegate(BleCentralDelegate*) override {}
    RadioState state() const override { return RadioState::unknown; }
    void scanForPeripherals() override {}
    void stopScan() override {}
    void connectPeripheral(const BlePeripheral&) override {}
    void cancelPeripheralConnection(const BlePeripheral&) override {}
    void discoverServices(const BlePeripheral&) override {}
    void discoverCharacteristics(const BlePeripheral&, const QString&) override {}
    int maximumWriteValueLength(const BlePeripheral&) const override { return 0; }
    void writeValue(const BlePeripheral&, const BleCharacteristic&, const QByteArray&) override {}
    void setNotifyValue(const BlePeripheral&, const BleCharacteristic&, bool) override {}
};

} // namespace

BleCentral& DeferredBleCentral::central() const {
    if (!central_) {
        central_ = factory_();
        central_->setDelegate(delegate_);
    }
    return *central_;
}

void DeferredBleCentral::setDelegate(BleCentralDelegate* delegate) {
    delegate_ = delegate;
    if (central_) {
        central_->setDelegate(delegate);
    }
}

// Stopping or dropping what was never started needs no radio.
void DeferredBleCentral::stopScan() {
    if (central_) {
        central_->stopScan();
    }
}

void DeferredBleCentral::cancelPeripheralConnection(const BlePeripheral& peripheral) {
    if (central_) {
        central_->cancelPeripheralConnection(peripheral);
    }
}

std::unique_ptr<BleCentral> makeInactiveBleCentral() {
    return std::make_unique<InactiveBleCentral>();
}

} // namespace connection
