#include "ui/device_lists.hpp"

#include "discovery/escaped_text.hpp"

namespace ui {

UsbPortList::UsbPortList(connection::USBSerialManager& usb, QObject* parent)
    : QAbstractListModel(parent), usb_(usb), ports_(usb.availablePorts()) {
    connect(&usb_, &connection::USBSerialManager::availablePortsChanged, this,
            &UsbPortList::reload);
}

void UsbPortList::reload() {
    const int before = count();
    beginResetModel();
    ports_ = usb_.availablePorts();
    endResetModel();
    if (count() != before) {
        emit countChanged();
    }
}

int UsbPortList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant UsbPortList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) {
        return {};
    }
    const auto& port = ports_[static_cast<std::size_t>(index.row())];
    return role == idRole     ? QVariant(port.id)
           : role == nameRole ? QVariant(discovery::escapedText(port.name))
                              : QVariant();
}

QHash<int, QByteArray> UsbPortList::roleNames() const {
    return {{idRole, "id"}, {nameRole, "name"}};
}

BluetoothDeviceList::BluetoothDeviceList(connection::BluetoothManager& bluetooth, QObject* parent)
    : QAbstractListModel(parent), bluetooth_(bluetooth) {
    connect(&bluetooth_, &connection::BluetoothManager::discoveredDevicesChanged, this,
            &BluetoothDeviceList::reload);
    connect(&bluetooth_, &connection::BluetoothManager::deviceRSSIChanged, this,
            &BluetoothDeviceList::updateSignalStrengths);
    reload();
}

void BluetoothDeviceList::reload() {
    const auto& now = bluetooth_.discoveredDevices();
    const auto known = devices_.size();
    const bool appended =
        now.size() > known && std::equal(devices_.begin(), devices_.end(), now.begin());
    if (appended) {
        // A scan only ever adds printers at the end: the rows already shown stay as they are.
        beginInsertRows({}, static_cast<int>(known), static_cast<int>(now.size()) - 1);
        devices_ = now;
        for (std::size_t i = known; i < now.size(); ++i) {
            rssi_.push_back(bluetooth_.deviceRSSI().value(now[i].identifier, 0));
        }
        endInsertRows();
    } else {
        beginResetModel();
        devices_ = now;
        rssi_.clear();
        for (const auto& device : devices_) {
            rssi_.push_back(bluetooth_.deviceRSSI().value(device.identifier, 0));
        }
        endResetModel();
    }
    if (devices_.size() != known) {
        emit countChanged();
    }
}

void BluetoothDeviceList::updateSignalStrengths() {
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        const int rssi = bluetooth_.deviceRSSI().value(devices_[i].identifier, 0);
        if (rssi != rssi_[i]) {
            rssi_[i] = rssi;
            const QModelIndex row = index(static_cast<int>(i));
            emit dataChanged(row, row, {rssiRole});
        }
    }
}

int BluetoothDeviceList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant BluetoothDeviceList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count()) {
        return {};
    }
    const auto row = static_cast<std::size_t>(index.row());
    const auto& device = devices_[row];
    switch (role) {
    case identifierRole:
        return device.identifier;
    case nameRole:
        return discovery::escapedText(device.displayName());
    case identifierLineRole:
        return identifierLine(device.identifier);
    case rssiRole:
        return rssi_[row];
    default:
        return {};
    }
}

QHash<int, QByteArray> BluetoothDeviceList::roleNames() const {
    return {{identifierRole, "identifier"},
            {nameRole, "name"},
            {identifierLineRole, "identifierLine"},
            {rssiRole, "rssi"}};
}

QString BluetoothDeviceList::identifierLine(const QString& identifier) {
    // A UUID's last group, or an address's six bytes: the same twelve hex digits either way.
    QString digits = identifier;
    digits.remove(QLatin1Char('-')).remove(QLatin1Char(':'));
    digits = digits.right(12);
    QString line;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && i % 2 == 0) {
            line += QLatin1Char(':');
        }
        line += digits[i];
    }
    return line.toUpper();
}

} // namespace ui
