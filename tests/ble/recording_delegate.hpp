#pragma once

#include "connection/ble/ble_central.hpp"
#include "tests/ble/gtest_printers.hpp"

#include <QCoreApplication>
#include <QThread>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ble_testing {

using connection::BleAdvertisement;
using connection::BleCharacteristic;
using connection::BlePeripheral;
using connection::RadioState;
using Error = std::optional<QString>;

// Records what a central reports, and every report that breaks the delegate's rules: off the
// main thread, or from inside a call the test made (wrap calls in `call`).
class RecordingDelegate : public connection::BleCentralDelegate {
public:
    struct Characteristics {
        std::vector<BleCharacteristic> list;
        Error error;
    };

    std::vector<RadioState> states;
    std::vector<BleAdvertisement> discoveries;
    std::vector<QString> connected;
    std::vector<std::pair<QString, Error>> connectFailures;
    std::vector<std::pair<QString, Error>> disconnects;
    std::vector<std::pair<QStringList, Error>> services;
    std::map<QString, Characteristics> characteristics;
    std::vector<Error> writes;
    std::vector<Error> notificationStates;
    std::vector<QByteArray> values;
    // The kind of every report, in order of arrival.
    std::vector<std::string> sequence;
    std::vector<std::string> violations;

    void call(const std::function<void()>& operation) {
        inside_ = true;
        operation();
        inside_ = false;
    }

    void centralDidUpdateState(RadioState state) override {
        check("state");
        states.push_back(state);
    }
    void didDiscover(const BleAdvertisement& advertisement) override {
        check("discovery");
        discoveries.push_back(advertisement);
    }
    void didConnect(const BlePeripheral& peripheral) override {
        check("connect");
        connected.push_back(peripheral.identifier);
    }
    void didFailToConnect(const BlePeripheral& peripheral, const Error& error) override {
        check("failed connect");
        connectFailures.emplace_back(peripheral.identifier, error);
    }
    void didDisconnect(const BlePeripheral& peripheral, const Error& error) override {
        check("disconnect");
        disconnects.emplace_back(peripheral.identifier, error);
    }
    void didDiscoverServices(const BlePeripheral&, const QStringList& uuids,
                             const Error& error) override {
        check("services");
        services.emplace_back(uuids, error);
    }
    void didDiscoverCharacteristics(const BlePeripheral&, const QString& serviceUuid,
                                    const std::vector<BleCharacteristic>& list,
                                    const Error& error) override {
        check("characteristics");
        characteristics[serviceUuid] = {list, error};
    }
    void didWriteValue(const BlePeripheral&, const BleCharacteristic&,
                       const Error& error) override {
        check("write");
        writes.push_back(error);
    }
    void didUpdateNotificationState(const BlePeripheral&, const BleCharacteristic&,
                                    const Error& error) override {
        check("notification state");
        notificationStates.push_back(error);
    }
    void didUpdateValue(const BlePeripheral&, const BleCharacteristic&,
                        const QByteArray& value) override {
        check("value");
        values.push_back(value);
    }

private:
    void check(const char* report) {
        sequence.emplace_back(report);
        if (inside_) {
            violations.push_back(std::string(report) + " reported from inside the call");
        }
        if (QThread::currentThread() != QCoreApplication::instance()->thread()) {
            violations.push_back(std::string(report) + " reported off the main thread");
        }
    }

    bool inside_ = false;
};

} // namespace ble_testing
