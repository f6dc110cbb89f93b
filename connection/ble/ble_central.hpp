#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The seam between the Bluetooth LE manager and the platform: the operations of a GATT central
// and the callbacks it makes, in the shape the manager's logic is written against. The Qt
// Bluetooth (BlueZ) implementation lives behind it in the application; tests script their own.
namespace connection {

// The radio's state, numbered as the manager reports it ("Bluetooth is unavailable: 1").
enum class RadioState {
    unknown = 0,
    resetting = 1,
    unsupported = 2,
    unauthorized = 3,
    poweredOff = 4,
    poweredOn = 5,
};

// A peripheral as the manager knows it: its identifier (on Linux the device address,
// "AA:BB:CC:DD:EE:FF") and its advertised name (empty when it advertised none).
struct BlePeripheral {
    QString identifier;
    QString name;

    QString displayName() const { return name.isEmpty() ? QStringLiteral("Unknown Device") : name; }
    friend bool operator==(const BlePeripheral&, const BlePeripheral&) = default;
};

// One advertisement as seen by a scan.
struct BleAdvertisement {
    BlePeripheral peripheral;
    // Manufacturer-specific data in its raw form: the company id little-endian, then the value.
    // None when the advertisement carries none.
    std::optional<QByteArray> manufacturerData;
    int rssi = 0;
};

// Characteristic property bits, numbered as in the GATT characteristic declaration.
namespace bleProperty {
inline constexpr std::uint8_t read = 0x02;
inline constexpr std::uint8_t writeWithoutResponse = 0x04;
inline constexpr std::uint8_t write = 0x08;
inline constexpr std::uint8_t notify = 0x10;
} // namespace bleProperty

// A characteristic of a discovered service. UUIDs are written the way the manager prints them:
// a 16-bit UUID as four upper-case hex digits ("FF02"), any other as the full upper-case form
// ("6E400002-B5A3-F393-E0A9-E50E24DCCA9E").
struct BleCharacteristic {
    QString serviceUuid;
    QString uuid;
    std::uint8_t properties = 0;
    friend bool operator==(const BleCharacteristic&, const BleCharacteristic&) = default;
};

// What a central reports. Every call arrives on the main thread, after the operation that
// caused it has returned (never from inside it).
class BleCentralDelegate {
public:
    virtual ~BleCentralDelegate() = default;

    virtual void centralDidUpdateState(RadioState state) = 0;
    virtual void didDiscover(const BleAdvertisement& advertisement) = 0;
    virtual void didConnect(const BlePeripheral& peripheral) = 0;
    // `error` is none when the platform gave no reason.
    virtual void didFailToConnect(const BlePeripheral& peripheral,
                                  const std::optional<QString>& error) = 0;
    // `error` is none for a disconnect the central asked for.
    virtual void didDisconnect(const BlePeripheral& peripheral,
                               const std::optional<QString>& error) = 0;
    virtual void didDiscoverServices(const BlePeripheral& peripheral,
                                     const QStringList& serviceUuids,
                                     const std::optional<QString>& error) = 0;
    virtual void didDiscoverCharacteristics(const BlePeripheral& peripheral,
                                            const QString& serviceUuid,
                                            const std::vector<BleCharacteristic>& characteristics,
                                            const std::optional<QString>& error) = 0;
    // Exactly one per write with response.
    virtual void didWriteValue(const BlePeripheral& peripheral,
                               const BleCharacteristic& characteristic,
                               const std::optional<QString>& error) = 0;
    virtual void didUpdateNotificationState(const BlePeripheral& peripheral,
                                            const BleCharacteristic& characteristic,
                                            const std::optional<QString>& error) = 0;
    virtual void didUpdateValue(const BlePeripheral& peripheral,
                                const BleCharacteristic& characteristic,
                                const QByteArray& value) = 0;
};

// A GATT central. It reports its first state after creation (not from inside the constructor).
class BleCentral {
public:
    virtual ~BleCentral() = default;

    virtual void setDelegate(BleCentralDelegate* delegate) = 0;
    virtual RadioState state() const = 0;

    // No service filter; each advertiser is reported once per scan (its later sightings may
    // report again with a new RSSI).
    virtual void scanForPeripherals() = 0;
    virtual void stopScan() = 0;

    // Ends in didConnect or didFailToConnect, unless cancelled first. There is no time-out.
    virtual void connectPeripheral(const BlePeripheral& peripheral) = 0;
    // Cancels a pending connect (no callback follows) or drops a link (didDisconnect follows,
    // without an error).
    virtual void cancelPeripheralConnection(const BlePeripheral& peripheral) = 0;

    virtual void discoverServices(const BlePeripheral& peripheral) = 0;
    virtual void discoverCharacteristics(const BlePeripheral& peripheral,
                                         const QString& serviceUuid) = 0;
    // The largest value one write with response may carry.
    virtual int maximumWriteValueLength(const BlePeripheral& peripheral) const = 0;
    virtual void writeValue(const BlePeripheral& peripheral,
                            const BleCharacteristic& characteristic, const QByteArray& value) = 0;
    virtual void setNotifyValue(const BlePeripheral& peripheral,
                                const BleCharacteristic& characteristic, bool enabled) = 0;
};

// The platform's central: Qt Bluetooth over BlueZ.
std::unique_ptr<BleCentral> makeSystemBleCentral();

// A central that makes the real one only when first asked (a state, a scan, a link). The
// platform's central asks the Bluetooth service for its adapters over D-Bus when it is made, a
// wait of up to seconds when the service is missing, and loads the Bluetooth stack; a window that
// may never use Bluetooth makes it when Bluetooth is chosen. Once made, the real central reports
// its first state as it does after creation.
class DeferredBleCentral final : public BleCentral {
public:
    using Factory = std::function<std::unique_ptr<BleCentral>()>;
    explicit DeferredBleCentral(Factory factory) : factory_(std::move(factory)) {}

    void setDelegate(BleCentralDelegate* delegate) override;
    RadioState state() const override { return central().state(); }
    void scanForPeripherals() override { central().scanForPeripherals(); }
    void stopScan() override;
    void connectPeripheral(const BlePeripheral& peripheral) override {
        central().connectPeripheral(peripheral);
    }
    void cancelPeripheralConnection(const BlePeripheral& peripheral) override;
    void discoverServices(const BlePeripheral& peripheral) override {
        central().discoverServices(peripheral);
    }
    void discoverCharacteristics(const BlePeripheral& peripheral,
                                 const QString& serviceUuid) override {
        central().discoverCharacteristics(peripheral, serviceUuid);
    }
    int maximumWriteValueLength(const BlePeripheral& peripheral) const override {
        return central().maximumWriteValueLength(peripheral);
    }
    void writeValue(const BlePeripheral& peripheral, const BleCharacteristic& characteristic,
                    const QByteArray& value) override {
        central().writeValue(peripheral, characteristic, value);
    }
    void setNotifyValue(const BlePeripheral& peripheral, const BleCharacteristic& characteristic,
                        bool enabled) override {
        central().setNotifyValue(peripheral, characteristic, enabled);
    }

private:
    BleCentral& central() const;

    Factory factory_;
    BleCentralDelegate* delegate_ = nullptr;
    mutable std::unique_ptr<BleCentral> central_;
};

// A central with no radio behind it that never reports: for programs that route commands but
// must not touch Bluetooth (printerctl over TCP or USB).
std::unique_ptr<BleCentral> makeInactiveBleCentral();

// How a characteristic's property set is printed: "[write, notify] (rawValue: 24)".
QString blePropertiesText(std::uint8_t properties);

} // namespace connection
