# A fake bluetoothd for the Bluetooth LE tests: a python-dbusmock template.
#
# It offers what Qt Bluetooth uses of BlueZ 5 as a GATT central over D-Bus (Adapter1, Device1,
# GattService1, GattCharacteristic1, GattDescriptor1 under an ObjectManager at "/"), and behaves
# as BlueZ does:
# - discovery creates a device object (InterfacesAdded) for each advertiser heard and keeps it;
#   later advertisements update RSSI and ManufacturerData; a device that advertises no name has
#   none, and its Alias is its address with dashes;
# - Connect sets Connected, exports the remote GATT database, sets ServicesResolved and only then
#   replies; Disconnect, a lost link and a powered-off adapter take the GATT objects away again;
# - WriteValue takes write requests (BlueZ turns a value longer than one packet into a long write)
#   and replies with the outcome; StartNotify switches notifications on, and a notification is a
#   change of the characteristic's Value.
# Every device has the same GATT database: the Generic Attribute service 1801 with its Service
# Changed characteristic, and the printer's service FF00 with its write characteristic FF02.
#
# The test drives the radio world through CONTROL_IFACE on "/"; it starts with a powered adapter.

import dbus

from dbusmock import OBJECT_MANAGER_IFACE, mockobject

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

CONTROL_IFACE = 'test.FakeBluez'
ADAPTER_IFACE = 'org.bluez.Adapter1'
DEVICE_IFACE = 'org.bluez.Device1'
CHAR_IFACE = 'org.bluez.GattCharacteristic1'
ADAPTER_PATH = '/org/bluez/hci0'
WRITE_CHAR = '/service000a/char000b'


# The remote GATT database below a device: path (with the attribute handles, as BlueZ names
# them), interface, 16-bit UUID, and the flags of a characteristic. Qt relates the objects by their
# paths.
GATT_DATABASE = [
    ('/service0001', 'GattService1', 0x1801, None),
    ('/service0001/char0002', 'GattCharacteristic1', 0x2A05, ['indicate']),
    ('/service000a', 'GattService1', 0xFF00, None),
    (WRITE_CHAR, 'GattCharacteristic1', 0xFF02, ['write', 'notify']),
    (WRITE_CHAR + '/desc000d', 'GattDescriptor1', 0x2902, None),
]


class state:  # pylint: disable=too-few-public-methods
    root = None  # the mock's root object, set by load()
    advertisers = {}  # address: (name, rssi, manufacturer data)
    failures = {}  # method: the outcomes of its next calls
    writes = []


def device_path(address):
    return ADAPTER_PATH + '/dev_' + address.upper().replace(':', '_')


def add_object(path, interface, properties, methods=()):
    state.root.AddObject(path, interface, properties, list(methods))
    state.root.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}',
                          [dbus.ObjectPath(path), {interface: properties}])


def remove_object(path):
    interfaces = list(mockobject.objects[path].props.keys())
    state.root.RemoveObject(path)
    state.root.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesRemoved', 'oas',
                          [dbus.ObjectPath(path), dbus.Array(interfaces, signature='s')])


# Sets properties and reports them as BlueZ does, with one PropertiesChanged.
def change(obj, interface, values):
    obj.props[interface].update(values)
    obj.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                   [interface, dbus.Dictionary(values, signature='sv'),
                    dbus.Array([], signature='s')])


# Fails this call of `method` if a failure is due: FailNext queues the outcomes of its next calls,
# None for one that goes through.
def take_failure(method):
    outcomes = state.failures.get(method)
    if outcomes and (message := outcomes.pop(0)):
        raise dbus.exceptions.DBusException(message, name='org.bluez.Error.Failed')


# ----- Adapter1

def start_discovery(adapter):
    change(adapter, ADAPTER_IFACE, {'Discovering': True})
    for address in state.advertisers:
        report_advertisement(address)


def add_adapter():
    add_object(ADAPTER_PATH, ADAPTER_IFACE, {
        'Address': '00:1A:7D:DA:71:13',
        'Powered': True,
        'Discovering': False,
    }, [
        ('StartDiscovery', '', '', start_discovery),
        ('StopDiscovery', '', '',
         lambda adapter: change(adapter, ADAPTER_IFACE, {'Discovering': False})),
        ('SetDiscoveryFilter', 'a{sv}', '', lambda adapter, discovery_filter: None),
    ])


# ----- Device1 and its GATT database

def device_connect(device):
    if device.props[DEVICE_IFACE]['Connected']:
        return
    take_failure('Connect')
    change(device, DEVICE_IFACE, {'Connected': True})
    for suffix, interface, uuid, flags in GATT_DATABASE:
        properties, methods = {'UUID': f'0000{uuid:04x}-0000-1000-8000-00805f9b34fb'}, []
        if flags:
            properties.update(Notifying=False, Flags=dbus.Array(flags, signature='s'))
            methods = [('WriteValue', 'aya{sv}', '', characteristic_write),
                       ('StartNotify', '', '', start_notify)]
        add_object(device.path + suffix, 'org.bluez.' + interface, properties, methods)
    change(device, DEVICE_IFACE, {'ServicesResolved': True})


# What BlueZ does when a link goes down, for whatever reason.
def drop_link(path):
    device = mockobject.objects[path]
    if not device.props[DEVICE_IFACE]['Connected']:
        return
    change(device, DEVICE_IFACE, {'ServicesResolved': False, 'Connected': False})
    for gatt_path in sorted((p for p in mockobject.objects if p.startswith(path + '/')),
                            key=len, reverse=True):
        remove_object(gatt_path)


def characteristic_write(_characteristic, value, options):
    # FF02 takes write requests (not write commands) up to the attribute limit of 512 bytes.
    if str(options.get('type', 'request')) != 'request' or len(value) > 512:
        raise dbus.exceptions.DBusException('Write not permitted',
                                            name='org.bluez.Error.NotPermitted')
    take_failure('WriteValue')
    state.writes.append(bytes(value))


def start_notify(characteristic):
    take_failure('StartNotify')
    change(characteristic, CHAR_IFACE, {'Notifying': True})


# ----- Advertisements

# A discovery session hears `address`: create its device object or refresh it.
def report_advertisement(address):
    name, rssi, manufacturer_data = state.advertisers[address]
    path = device_path(address)
    seen = {'RSSI': dbus.Int16(rssi)}
    if manufacturer_data:
        seen['ManufacturerData'] = dbus.Dictionary(
            {dbus.UInt16(company): dbus.ByteArray(data, variant_level=1)
             for company, data in manufacturer_data.items()}, signature='qv')
    if path in mockobject.objects:
        change(mockobject.objects[path], DEVICE_IFACE, seen)
        return
    properties = {
        'Address': address,
        'Alias': name or address.replace(':', '-'),
        'Adapter': dbus.ObjectPath(ADAPTER_PATH),
        'Connected': False,
        **seen,
    }
    if name:
        properties['Name'] = name
    add_object(path, DEVICE_IFACE, properties, [
        ('Connect', '', '', device_connect),
        ('Disconnect', '', '', lambda device: drop_link(device.path)),
    ])


# ----- Control interface

@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='')
def AddAdapter(_root):
    add_adapter()


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='')
def RemoveAdapter(_root):
    remove_object(ADAPTER_PATH)


@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def SetPowered(_root, powered):
    adapter = mockobject.objects[ADAPTER_PATH]
    if not powered:
        for path in [p for p in mockobject.objects if p.count('/') == 4]:
            drop_link(path)
        change(adapter, ADAPTER_IFACE, {'Discovering': False})
    change(adapter, ADAPTER_IFACE, {'Powered': dbus.Boolean(powered)})


# A device advertises in range (again: with new values); an empty name advertises none.
@dbus.service.method(CONTROL_IFACE, in_signature='ssna{qay}', out_signature='')
def AddAdvertiser(_root, address, name, rssi, manufacturer_data):
    state.advertisers[str(address)] = (
        str(name), int(rssi),
        {int(company): bytes(data) for company, data in manufacturer_data.items()})
    adapter = mockobject.objects.get(ADAPTER_PATH)
    if adapter is not None and adapter.props[ADAPTER_IFACE]['Discovering']:
        report_advertisement(str(address))


# After `skip` good calls, the next call of `method` (Connect, WriteValue, StartNotify) fails
# with org.bluez.Error.Failed and `message`.
@dbus.service.method(CONTROL_IFACE, in_signature='ssu', out_signature='')
def FailNext(_root, method, message, skip):
    state.failures[str(method)] = [None] * int(skip) + [str(message)]


@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='')
def DropLink(_root, address):
    drop_link(device_path(str(address)))


# The device notifies a new value of FF02 (only while notifications are on, as on air).
@dbus.service.method(CONTROL_IFACE, in_signature='say', out_signature='')
def Notify(_root, address, value):
    characteristic = mockobject.objects[device_path(str(address)) + WRITE_CHAR]
    if characteristic.props[CHAR_IFACE]['Notifying']:
        change(characteristic, CHAR_IFACE, {'Value': dbus.ByteArray(bytes(value))})


# Every accepted characteristic write, in order.
@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='b')
def IsConnected(_root, address):
    return mockobject.objects[device_path(str(address))].props[DEVICE_IFACE]['Connected']


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='aay')
def Writes(_root):
    return dbus.Array([dbus.ByteArray(value) for value in state.writes], signature='ay')


def load(root, _parameters):
    state.root = root
    add_adapter()
    # The bus name is taken and the objects exist: from here on calls are answered.
    print('fake bluetoothd ready', flush=True)
