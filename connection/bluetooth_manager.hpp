#pragma once

#include "connection/ble/ble_central.hpp"
#include "connection/transport.hpp"

#include <QHash>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace connection {

// The Bluetooth LE transport: a GATT central that finds printers by the manufacturer id in their
// advertisements, connects to the one the user picks, finds a writable characteristic and
// writes commands to it in chunks, one chunk per write confirmation. Everything runs on the main
// thread. A send is delivered when the printer has confirmed its last chunk.
class BluetoothManager : public Transport, private BleCentralDelegate {
    Q_OBJECT
    Q_PROPERTY(bool hasConnectedDevice READ hasConnectedDevice NOTIFY connectedDeviceChanged)

public:
    // The printer's GATT layout, for reference: discovery does not filter on them.
    static constexpr const char* SERVICE_UUID = "FF00";
    static constexpr const char* WRITE_CHAR_UUID = "FF02";
    // Upper bound of one write chunk, in bytes.
    static constexpr int MTU_SIZE = 128;
    static constexpr int kMinimumChunk = 20;
    // Little-endian in the first two bytes of the manufacturer data (4B 43).
    static constexpr std::uint16_t kPrinterManufacturerId = 0x434B;

    struct Timings {
        std::chrono::milliseconds scanDuration{15'000};
        std::chrono::milliseconds connectTimeout{5'000};
        std::chrono::milliseconds rescanDelay{500};
        // From connecting to a writable characteristic found (service discovery included).
        std::chrono::milliseconds readyTimeout{10'000};
    };

    explicit BluetoothManager(QObject* parent = nullptr,
                              std::unique_ptr<BleCentral> central = makeSystemBleCentral());
    ~BluetoothManager() override;

    const std::vector<BlePeripheral>& discoveredDevices() const { return discoveredDevices_; }
    const QHash<QString, int>& deviceRSSI() const { return deviceRSSI_; }
    const std::optional<BlePeripheral>& connectedDevice() const { return connectedDevice_; }
    // The link is up exactly while a printer is connected.
    bool hasConnectedDevice() const { return connectedDevice_.has_value(); }
    bool isLinkUp() const override { return hasConnectedDevice(); }
    const std::optional<BleCharacteristic>& writeCharacteristic() const {
        return writeCharacteristic_;
    }

    // Tests shorten the waits; the application keeps the defaults.
    void setTimings(const Timings& timings) { timings_ = timings; }
    // Runs `work` `delay` after now on the main thread; tests drive the timers themselves.
    using Scheduler =
        std::function<void(std::chrono::milliseconds delay, std::function<void()> work)>;
    void setScheduler(Scheduler scheduler) { scheduler_ = std::move(scheduler); }

    // Asked before the radio's first report, the scan waits for it: the report starts the scan
    // when the radio is on, and says why not otherwise.
    Q_INVOKABLE void startScan();
    // What the radio's last report says is wrong ("Please turn on Bluetooth"), or empty while it
    // is on or has not reported yet.
    QString radioProblem() const;
    void connect(const BlePeripheral& peripheral);
    // Connects the printer with the target's address once a scan sees it (within one scan's
    // duration, counted from the radio's first report).
    void connectTo(const Target& target) override;
    Q_INVOKABLE void disconnect() override;
    // Without a printer ready: the console line "Printer not connected", no alert.
    void sendData(const protocol::Bytes& bytes, DeliveryHandler onReport = {},
                  bool reportSuccess = false, ProgressHandler onProgress = {}) override;

signals:
    // The radio reported its state (after the alert or the scan it leads to).
    void radioStateReported(RadioState state);
    void discoveredDevicesChanged();
    void deviceRSSIChanged();
    void connectedDeviceChanged();

private:
    void centralDidUpdateState(RadioState state) override;
    void didDiscover(const BleAdvertisement& advertisement) override;
    void didConnect(const BlePeripheral& peripheral) override;
    void didFailToConnect(const BlePeripheral& peripheral,
                          const std::optional<QString>& error) override;
    void didDisconnect(const BlePeripheral& peripheral,
                       const std::optional<QString>& error) override;
    void didDiscoverServices(const BlePeripheral& peripheral, const QStringList& serviceUuids,
                             const std::optional<QString>& error) override;
    void didDiscoverCharacteristics(const BlePeripheral& peripheral, const QString& serviceUuid,
                                    const std::vector<BleCharacteristic>& characteristics,
                                    const std::optional<QString>& error) override;
    void didWriteValue(const BlePeripheral& peripheral, const BleCharacteristic& characteristic,
                       const std::optional<QString>& error) override;
    void didUpdateNotificationState(const BlePeripheral& peripheral,
                                    const BleCharacteristic& characteristic,
                                    const std::optional<QString>& error) override;
    void didUpdateValue(const BlePeripheral& peripheral, const BleCharacteristic& characteristic,
                        const QByteArray& value) override;

    // One send on its way, shared by its chunks: delivered when its last chunk is confirmed.
    struct OutgoingSend {
        qint64 total = 0;
        qint64 confirmed = 0;
        std::size_t chunksLeft = 0;
        DeliveryHandler onReport;
        ProgressHandler onProgress;
    };
    struct Chunk {
        protocol::Bytes bytes;
        std::shared_ptr<OutgoingSend> send;
    };

    // Connects `peripheral` for the connect attempt already begun.
    void startConnect(const BlePeripheral& peripheral);
    // Connects the awaited printer if the scan has seen it.
    void connectAwaited();
    // Starts counting the scan that must see the awaited printer.
    void armAwaitLimit();
    void failConnect(const QString& text);
    void writeNextChunk();
    void later(std::chrono::milliseconds delay, std::function<void()> work);
    void setConnectedDevice(std::optional<BlePeripheral> device);
    // Every send not yet delivered fails with `error` (once each), and the writer is idle again.
    // With `counted`, each report's text says how far its send got.
    void failOutstanding(const QString& error, bool counted = false);

    std::vector<BlePeripheral> discoveredDevices_;
    QHash<QString, int> deviceRSSI_;
    std::optional<BlePeripheral> connectedDevice_;
    std::optional<BleCharacteristic> writeCharacteristic_;
    std::deque<Chunk> pendingWriteChunks_;
    // The chunk written and not yet confirmed: at most one at a time, so each confirmation
    // belongs to exactly one chunk.
    std::optional<Chunk> chunkInFlight_;
    // A scan's scheduled end and a connect's time-out act only for the scan or connect that
    // scheduled them.
    quint64 scanGeneration_ = 0;
    quint64 connectAttempt_ = 0;
    quint64 writeCount_ = 0;
    // The address a connectTo waits for a scan to see, and whether its limit runs yet.
    QString awaitedAddress_;
    quint64 awaitGeneration_ = 0;
    bool awaitLimitArmed_ = false;
    Timings timings_;
    Scheduler scheduler_;
    std::unique_ptr<BleCentral> central_;
    std::optional<RadioState> reportedState_;
};

} // namespace connection
