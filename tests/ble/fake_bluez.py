'''A fake bluetoothd for the Bluetooth LE tests: python-dbusmock template.

It offers what BlueZ 5 offers a GATT central over D-Bus (org.bluez.Adapter1, Device1,
GattService1, GattCharacteristic1, GattDescriptor1 under an ObjectManager at "/") and behaves as
BlueZ documents it:

- a device object appears (InterfacesAdded) when discovery hears its advertisement, and stays
  afterwards, as BlueZ keeps a seen device for a while; later advertisements update RSSI and
  ManufacturerData; a device without a name has none, and its Alias is its address with dashes;
- Connect sets Connected, exports the remote GATT database, sets ServicesResolved and only then
  replies; Disconnect, a lost link and a powered-off adapter take the GATT objects away again;
- WriteValue takes values up to the attribute limit of 512 bytes (BlueZ turns a value longer
  than one packet into a long write) and replies with the outcome;
- the Client Characteristic Configuration descriptor is not writable: StartNotify/StopNotify
  switch notifications, and a notification is a change of the characteristic's Value.

Simplified: discovery is one session of the adapter rather than one per client, and there is no
pairing, no radio timing and no MTU.

Every device exports the same GATT database: the Generic Attribute service (0x1801) with its
Service Changed characteristic, and the printer's configuration service FF00 with the write
characteristic FF02 (write, notify).

The test drives the radio world through the control interface on "/" (CONTROL_IFACE): it adds
and removes the adapter, switches its power, lets devices advertise, makes a later call of a
method fail, drops links, sends notifications and reads back what was written.

Parameters: {"adapter": false} starts without an adapter, {"powered": false} with one that is off.
'''

import sys

import dbus

from dbusmock import OBJECT_MANAGER_IFACE, mockobject

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

CONTROL_IFACE = 'test.FakeBluez'
ADAPTER_IFACE = 'org.bluez.Adapter1'
DEVICE_IFACE = 'org.bluez.Device1'
SERVICE_IFACE = 'org.bluez.GattService1'
CHAR_IFACE = 'org.bluez.GattCharacteristic1'
DESC_IFACE = 'org.bluez.GattDescriptor1'

ADAPTER_PATH = '/org/bluez/hci0'
ADAPTER_ADDRESS = '00:1A:7D:DA:71:13'
MAX_ATTRIBUTE_LENGTH = 512


class state:  # pylint: disable=too-few-public-methods
    '''The mock's root object, set by load() before the bus can reach it.'''
    root = None


def uuid16(short):
    return f'0000{short:04x}-0000-1000-8000-00805f9b34fb'


CCC_UUID = uuid16(0x2902)

# The remote GATT database: (service path suffix, uuid, characteristics); each characteristic is
# (path suffix, uuid, flags, descriptors as (path suffix, uuid)). Path suffixes carry
# attribute handles, as BlueZ names them.
GATT_DATABASE = [
    ('service0001', uuid16(0x1801), [
        ('char0002', uuid16(0x2A05), ['indicate'], [('desc0004', CCC_UUID)]),
    ]),
    ('service000a', uuid16(0xFF00), [
        ('char000b', uuid16(0xFF02), ['write', 'notify'], [('desc000d', CCC_UUID)]),
    ]),
]


def error(name, message):
    return dbus.exceptions.DBusException(message, name='org.bluez.Error.' + name)


def device_path(address):
    return ADAPTER_PATH + '/dev_' + address.upper().replace(':', '_')


def emit_added(path, interfaces):
    root = state.root
    root.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}',
                    [dbus.ObjectPath(path), interfaces])


def remove_object(path):
    root = state.root
    interfaces = list(mockobject.objects[path].props.keys())
    root.RemoveObject(path)
    root.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesRemoved', 'oas',
                    [dbus.ObjectPath(path), dbus.Array(interfaces, signature='s')])


def change(obj, interface, values):
    '''Sets properties and reports them as BlueZ does, with one PropertiesChanged.'''
    obj.props[interface].update(values)
    obj.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                   [interface, dbus.Dictionary(values, signature='sv'),
                    dbus.Array([], signature='s')])


def variant_bytes(data):
    return dbus.Array([dbus.Byte(b) for b in data], signature='y', variant_level=1)


def take_failure(root, method):
    '''Raises the failure injected for this call of `method`, if any (it applies once).'''
    failure = root.failures.get(method)
    if failure is None:
        return
    if failure['skip'] > 0:
        failure['skip'] -= 1
        return
    del root.failures[method]
    raise error('Failed', failure['message'])


# ----- Adapter1

def start_discovery(adapter):
    if not adapter.props[ADAPTER_IFACE]['Powered']:
        raise error('NotReady', 'Resource Not Ready')
    if adapter.props[ADAPTER_IFACE]['Discovering']:
        return
    change(adapter, ADAPTER_IFACE, {'Discovering': dbus.Boolean(True, variant_level=1)})
    root = state.root
    for address in list(root.advertisers):
        report_advertisement(root, address)


def stop_discovery(adapter):
    if not adapter.props[ADAPTER_IFACE]['Discovering']:
        raise error('Failed', 'No discovery started')
    change(adapter, ADAPTER_IFACE, {'Discovering': dbus.Boolean(False, variant_level=1)})


def set_discovery_filter(adapter, discovery_filter):
    adapter.discovery_filter = discovery_filter


def get_discovery_filters(_adapter):
    return dbus.Array(['UUIDs', 'RSSI', 'Pathloss', 'Transport', 'DuplicateData',
                       'Discoverable', 'Pattern'], signature='s')


def remove_device(_adapter, path):
    if path not in mockobject.objects:
        raise error('DoesNotExist', 'Does Not Exist')
    drop_link(path)
    remove_object(path)


def add_adapter(root, powered):
    properties = {
        'Address': dbus.String(ADAPTER_ADDRESS, variant_level=1),
        'AddressType': dbus.String('public', variant_level=1),
        'Name': dbus.String('fake-host', variant_level=1),
        'Alias': dbus.String('fake-host', variant_level=1),
        'Class': dbus.UInt32(0, variant_level=1),
        'Powered': dbus.Boolean(powered, variant_level=1),
        'Discoverable': dbus.Boolean(False, variant_level=1),
        'DiscoverableTimeout': dbus.UInt32(180, variant_level=1),
        'Pairable': dbus.Boolean(True, variant_level=1),
        'PairableTimeout': dbus.UInt32(0, variant_level=1),
        'Discovering': dbus.Boolean(False, variant_level=1),
        'UUIDs': dbus.Array([uuid16(0x1800), uuid16(0x1801)], signature='s',
                            variant_level=1),
    }
    root.AddObject(ADAPTER_PATH, ADAPTER_IFACE, properties, [
        ('StartDiscovery', '', '', start_discovery),
        ('StopDiscovery', '', '', stop_discovery),
        ('SetDiscoveryFilter', 'a{sv}', '', set_discovery_filter),
        ('GetDiscoveryFilters', '', 'as', get_discovery_filters),
        ('RemoveDevice', 'o', '', remove_device),
    ])
    emit_added(ADAPTER_PATH, {ADAPTER_IFACE: properties})


# ----- Device1 and its GATT database

def device_connect(device):
    root = state.root
    adapter = mockobject.objects.get(ADAPTER_PATH)
    if adapter is None or not adapter.props[ADAPTER_IFACE]['Powered']:
        raise error('NotReady', 'Resource Not Ready')
    if device.props[DEVICE_IFACE]['Connected']:
        return
    take_failure(root, 'Connect')
    change(device, DEVICE_IFACE, {'Connected': dbus.Boolean(True, variant_level=1)})
    export_gatt_database(device)
    change(device, DEVICE_IFACE, {
        'UUIDs': dbus.Array([uuid for _, uuid, _ in GATT_DATABASE], signature='s',
                            variant_level=1),
        'ServicesResolved': dbus.Boolean(True, variant_level=1),
    })


def device_disconnect(device):
    drop_link(device.path)


def drop_link(path):
    '''What BlueZ does when a link goes down, for whatever reason.'''
    device = mockobject.objects[path]
    if not device.props[DEVICE_IFACE]['Connected']:
        return
    change(device, DEVICE_IFACE, {'ServicesResolved': dbus.Boolean(False, variant_level=1)})
    change(device, DEVICE_IFACE, {'Connected': dbus.Boolean(False, variant_level=1)})
    gatt_paths = sorted((p for p in mockobject.objects if p.startswith(path + '/')),
                        key=len, reverse=True)
    for gatt_path in gatt_paths:
        remove_object(gatt_path)


def export_gatt_database(device):
    root = state.root
    for service_suffix, service_uuid, characteristics in GATT_DATABASE:
        service_path = device.path + '/' + service_suffix
        service_props = {
            'UUID': dbus.String(service_uuid, variant_level=1),
            'Device': dbus.ObjectPath(device.path, variant_level=1),
            'Primary': dbus.Boolean(True, variant_level=1),
            'Includes': dbus.Array([], signature='o', variant_level=1),
        }
        root.AddObject(service_path, SERVICE_IFACE, service_props, [])
        emit_added(service_path, {SERVICE_IFACE: service_props})
        for char_suffix, char_uuid, flags, descriptors in characteristics:
            char_path = service_path + '/' + char_suffix
            char_props = {
                'UUID': dbus.String(char_uuid, variant_level=1),
                'Service': dbus.ObjectPath(service_path, variant_level=1),
                'Value': variant_bytes(b''),
                'Notifying': dbus.Boolean(False, variant_level=1),
                'Flags': dbus.Array(flags, signature='s', variant_level=1),
            }
            root.AddObject(char_path, CHAR_IFACE, char_props, [
                ('ReadValue', 'a{sv}', 'ay', characteristic_read),
                ('WriteValue', 'aya{sv}', '', characteristic_write),
                ('StartNotify', '', '', start_notify),
                ('StopNotify', '', '', stop_notify),
            ])
            emit_added(char_path, {CHAR_IFACE: char_props})
            for desc_suffix, desc_uuid in descriptors:
                desc_path = char_path + '/' + desc_suffix
                desc_props = {
                    'UUID': dbus.String(desc_uuid, variant_level=1),
                    'Characteristic': dbus.ObjectPath(char_path, variant_level=1),
                    'Value': variant_bytes(b''),
                }
                root.AddObject(desc_path, DESC_IFACE, desc_props, [
                    ('ReadValue', 'a{sv}', 'ay', descriptor_read),
                    ('WriteValue', 'aya{sv}', '', descriptor_write),
                ])
                emit_added(desc_path, {DESC_IFACE: desc_props})


def flags_of(characteristic):
    return [str(flag) for flag in characteristic.props[CHAR_IFACE]['Flags']]


def characteristic_read(characteristic, _options):
    if 'read' not in flags_of(characteristic):
        raise error('NotPermitted', 'Read not permitted')
    return characteristic.props[CHAR_IFACE]['Value']


def characteristic_write(characteristic, value, options):
    flags = flags_of(characteristic)
    write_type = str(options.get('type', 'request'))
    allowed = 'write-without-response' if write_type == 'command' else 'write'
    if allowed not in flags:
        raise error('NotPermitted', 'Write not permitted')
    if len(value) > MAX_ATTRIBUTE_LENGTH:
        raise error('InvalidValueLength', 'Invalid Length')
    root = state.root
    take_failure(root, 'WriteValue')
    record_type = str(options['type']) if 'type' in options else ''
    root.writes.append((bytes(value), record_type))


def start_notify(characteristic):
    flags = flags_of(characteristic)
    if 'notify' not in flags and 'indicate' not in flags:
        raise error('NotSupported', 'Operation is not supported')
    take_failure(state.root, 'StartNotify')
    if not characteristic.props[CHAR_IFACE]['Notifying']:
        change(characteristic, CHAR_IFACE, {'Notifying': dbus.Boolean(True, variant_level=1)})


def stop_notify(characteristic):
    if characteristic.props[CHAR_IFACE]['Notifying']:
        change(characteristic, CHAR_IFACE, {'Notifying': dbus.Boolean(False, variant_level=1)})


def descriptor_read(descriptor, _options):
    characteristic = mockobject.objects[str(descriptor.props[DESC_IFACE]['Characteristic'])]
    notifying = characteristic.props[CHAR_IFACE]['Notifying']
    return dbus.Array([dbus.Byte(1 if notifying else 0), dbus.Byte(0)], signature='y')


def descriptor_write(_descriptor, _value, _options):
    # BlueZ keeps the configuration descriptor to itself: StartNotify/StopNotify own it.
    raise error('NotPermitted', 'Write not permitted')


# ----- Advertisements

def report_advertisement(root, address):
    '''A discovery session hears `address`: create its device object or refresh it.'''
    name, rssi, manufacturer_data = root.advertisers[address]
    path = device_path(address)
    manufacturer = dbus.Dictionary({dbus.UInt16(company): variant_bytes(data)
                                    for company, data in manufacturer_data.items()},
                                   signature='qv', variant_level=1)
    if path in mockobject.objects:
        change(mockobject.objects[path], DEVICE_IFACE, {
            'RSSI': dbus.Int16(rssi, variant_level=1),
            'ManufacturerData': manufacturer,
        })
        return
    properties = {
        'Address': dbus.String(address, variant_level=1),
        'AddressType': dbus.String('public', variant_level=1),
        'Alias': dbus.String(name or address.replace(':', '-'), variant_level=1),
        'Adapter': dbus.ObjectPath(ADAPTER_PATH, variant_level=1),
        'Paired': dbus.Boolean(False, variant_level=1),
        'Trusted': dbus.Boolean(False, variant_level=1),
        'Blocked': dbus.Boolean(False, variant_level=1),
        'LegacyPairing': dbus.Boolean(False, variant_level=1),
        'Connected': dbus.Boolean(False, variant_level=1),
        'ServicesResolved': dbus.Boolean(False, variant_level=1),
        'UUIDs': dbus.Array([], signature='s', variant_level=1),
        'RSSI': dbus.Int16(rssi, variant_level=1),
    }
    if name:
        properties['Name'] = dbus.String(name, variant_level=1)
    if manufacturer_data:
        properties['ManufacturerData'] = manufacturer
    root.AddObject(path, DEVICE_IFACE, properties, [
        ('Connect', '', '', device_connect),
        ('Disconnect', '', '', device_disconnect),
    ])
    emit_added(path, {DEVICE_IFACE: properties})


def discovering():
    adapter = mockobject.objects.get(ADAPTER_PATH)
    return adapter is not None and bool(adapter.props[ADAPTER_IFACE]['Discovering'])


# ----- Control interface

@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def AddAdapter(root, powered):
    add_adapter(root, bool(powered))


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='')
def RemoveAdapter(_root):
    '''The controller is unplugged: its devices go first, then the adapter.'''
    for path in sorted(p for p in mockobject.objects if p.startswith(ADAPTER_PATH + '/')):
        if path.count('/') == 4:
            drop_link(path)
            remove_object(path)
    remove_object(ADAPTER_PATH)


@dbus.service.method(CONTROL_IFACE, in_signature='b', out_signature='')
def SetPowered(_root, powered):
    adapter = mockobject.objects[ADAPTER_PATH]
    if not powered:
        for path in [p for p in mockobject.objects if p.startswith(ADAPTER_PATH + '/')]:
            if path in mockobject.objects and path.count('/') == 4:
                drop_link(path)
        if adapter.props[ADAPTER_IFACE]['Discovering']:
            change(adapter, ADAPTER_IFACE, {'Discovering': dbus.Boolean(False, variant_level=1)})
    change(adapter, ADAPTER_IFACE, {'Powered': dbus.Boolean(bool(powered), variant_level=1)})


@dbus.service.method(CONTROL_IFACE, in_signature='ssna{qay}', out_signature='')
def AddAdvertiser(root, address, name, rssi, manufacturer_data):
    '''A device starts advertising in range; an empty name advertises none.'''
    root.advertisers[str(address)] = (
        str(name), int(rssi),
        {int(company): bytes(data) for company, data in manufacturer_data.items()})
    if discovering():
        report_advertisement(root, str(address))


@dbus.service.method(CONTROL_IFACE, in_signature='sn', out_signature='')
def SetRssi(root, address, rssi):
    name, _, manufacturer_data = root.advertisers[str(address)]
    root.advertisers[str(address)] = (name, int(rssi), manufacturer_data)
    if discovering():
        report_advertisement(root, str(address))


@dbus.service.method(CONTROL_IFACE, in_signature='ssu', out_signature='')
def FailNext(root, method, message, skip):
    '''After `skip` good calls, the next call of `method` (Connect, WriteValue, StartNotify)
    fails with org.bluez.Error.Failed and `message`.'''
    root.failures[str(method)] = {'message': str(message), 'skip': int(skip)}


@dbus.service.method(CONTROL_IFACE, in_signature='s', out_signature='')
def DropLink(_root, address):
    drop_link(device_path(str(address)))


@dbus.service.method(CONTROL_IFACE, in_signature='say', out_signature='')
def Notify(_root, address, value):
    '''The device notifies a new value of FF02 (only while notifications are on, as on air).'''
    characteristic = mockobject.objects[device_path(str(address)) + '/service000a/char000b']
    if characteristic.props[CHAR_IFACE]['Notifying']:
        change(characteristic, CHAR_IFACE, {'Value': variant_bytes(bytes(value))})


@dbus.service.method(CONTROL_IFACE, in_signature='', out_signature='a(ays)')
def Writes(root):
    '''Every accepted characteristic write in order: the value and its "type" option.'''
    return dbus.Array([dbus.Struct((dbus.ByteArray(value), dbus.String(write_type)),
                                   signature='ays')
                       for value, write_type in root.writes], signature='(ays)')


def load(root, parameters):
    state.root = root
    root.advertisers = {}
    root.failures = {}
    root.writes = []
    if parameters.get('adapter', True):
        add_adapter(root, bool(parameters.get('powered', True)))
    # The bus name is taken and the objects exist: from here on calls are answered.
    sys.stdout.write('fake bluetoothd ready\n')
    sys.stdout.flush()
