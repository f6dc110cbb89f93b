import QtQuick
import QtTest
import PrinterConfig
import PrinterConfig.Controls

// The window as a user drives it: choose a transport, connect to the virtual printer, run the
// communication test, open the settings and close them, and meet an alert.
Item {
    id: top
    width: 1020
    height: 700

    Component {
        id: contentView
        ContentView { anchors.fill: parent }
    }

    // The Bluetooth section alone, with a connected printer whose name is far too long.
    readonly property string longName: "Kitchen printer by the back door, second shelf, left of the till"
    QtObject {
        id: connectedRadio
        readonly property var bluetoothManager: ({ hasConnectedDevice: true })
        readonly property string connectedDeviceName: top.longName
        readonly property var bluetoothDevices: ListModel {}
    }
    Component {
        id: connectedBluetooth
        BluetoothSection { width: 324; shown: true; model: connectedRadio }
    }

    // A name a printer or the network chose that, shown as rich text, would fetch an image.
    QtObject {
        id: hostile
        readonly property string name: '<img src="http://127.0.0.1:9/t.png">Till'
        readonly property var bluetoothManager: ({ hasConnectedDevice: true })
        readonly property string connectedDeviceName: name
        readonly property var bluetoothDevices: ListModel {}
    }
    Component { id: markupBluetooth; BluetoothSection { shown: true; model: hostile } }
    Component { id: markupFound; FoundPrinterRow { title: hostile.name; detail: hostile.name } }
    Component { id: markupDevice; DeviceRow { name: hostile.name; identifierLine: hostile.name } }
    Component { id: markupUsb; AppComboBox { model: [hostile.name] } }

    TestCase {
        name: "Window"
        when: windowShown
        // One bound for every wait, generous for the sanitizer build on a busy machine: a wait
        // that succeeds returns as soon as its condition holds.
        readonly property int waitLimit: 15000

        // Each test starts from a window of its own, as the application does: on USB, nothing
        // connected, no sheet open.
        property var view
        function init() {
            failOnWarning(/Binding loop/)
            view = createTemporaryObject(contentView, top)
        }

        // The visible item showing `text` (a label, a button's text), searched from the window's
        // root so that popups are found too.
        function find(text, from) {
            const item = from || top.Window.contentItem
            for (let i = 0; i < item.children.length; ++i) {
                const child = item.children[i]
                if (!child.visible)
                    continue
                if (child.text === text)
                    return child
                const inner = find(text, child)
                if (inner)
                    return inner
            }
            return null
        }
        function press(text) {
            let item = null
            tryVerify(() => (item = find(text)) !== null, waitLimit, "no visible \"" + text + "\"")
            mouseClick(item)
        }

        // Replaces the text of the field now showing `current` by typing `typed`.
        function type(current, typed) {
            let field = null
            tryVerify(() => (field = find(current)) !== null, waitLimit, "no field showing " + current)
            mouseClick(field)
            keyClick(Qt.Key_A, Qt.ControlModifier)
            keyClick(Qt.Key_Backspace)
            for (const c of typed)
                keyClick(c)
        }

        function test_startsOnUsbWithItsEmptyListText() {
            compare(view.model.connectionType, "usb")
            verify(find("No USB printer found. Use a data USB cable (not charge-only), then Refresh.") !== null)
            verify(find("Ready when you are") !== null)
        }

        function test_networkDashboardTestAndSettings() {
            press("Network")
            compare(view.model.connectionType, "network")
            type("192.168.1.87", "127.0.0.1")
            type("9100", String(sim.port))
            compare(view.model.ipAddress, "127.0.0.1")
            compare(view.model.port, String(sim.port))
            press("Connect Network")
            tryCompare(view.model, "isCurrentConnected", true, waitLimit)
            tryVerify(() => find("127.0.0.1:" + sim.port) !== null, waitLimit)
            verify(find("TCP network printer") !== null)

            press("Communication Test")
            tryVerify(() => sim.printed("\u00B7 test"), waitLimit, "the sim received 12 54")

            press("Parameter Settings")
            tryVerify(() => find("Pick a category. Changes are sent over the current connection.") !== null, waitLimit)
            press("WIFI Settings")
            tryVerify(() => find("WIFI Settings") !== null && find("Basic Settings") === null, waitLimit)
            press("Close")
            tryCompare(view.model, "settingsSection", "", waitLimit)

            press("MQTT") // a category card opens the sheet at its section
            tryCompare(view.model, "settingsSection", "mqtt", waitLimit)
            tryVerify(() => find("MQTT Settings") !== null, waitLimit)
            press("Close")
            tryCompare(view.model, "settingsSection", "", waitLimit)

            press("Disconnect")
            tryCompare(view.model, "isCurrentConnected", false, waitLimit)
        }

        // A long name is cut short; the way to disconnect keeps its size, inside the panel.
        function test_aLongPrinterNameLeavesDisconnectWhole() {
            const section = createTemporaryObject(connectedBluetooth, top)
            const name = find(top.longName, section)
            const button = find("Disconnect", section)
            verify(name.truncated, "the name is elided")
            verify(button.width >= button.implicitWidth)
            verify(button.mapToItem(section, button.width, 0).x <= section.width, "Disconnect inside the panel")
        }

        function test_namesFromDevicesArePlainText_data() {
            return [{ tag: "connected Bluetooth printer", component: markupBluetooth },
                    { tag: "found network printer", component: markupFound },
                    { tag: "Bluetooth scan row", component: markupDevice },
                    { tag: "USB printer choice", component: markupUsb }]
        }
        function test_namesFromDevicesArePlainText(data) {
            const shown = []
            const walk = (item) => {
                for (let i = 0; i < item.children.length; ++i) {
                    if (item.children[i].text === hostile.name)
                        shown.push(item.children[i])
                    walk(item.children[i])
                }
            }
            walk(createTemporaryObject(data.component, top))
            verify(shown.length > 0, "the name is shown")
            for (const text of shown)
                compare(text.textFormat, Text.PlainText)
        }

        function test_aBadAddressRaisesTheNetworkAlert() {
            press("Network")
            view.model.ipAddress = "192.168.1"
            press("Connect Network")
            tryVerify(() => find("Invalid IP Address Format") !== null, waitLimit)
            // The alert's own title, inside the same popup as the message.
            verify(find("Network", find("Invalid IP Address Format").parent) !== null)
            press("OK")
            tryCompare(view.model.networkManager, "showAlert", false, waitLimit)
            tryVerify(() => find("Invalid IP Address Format") === null, waitLimit)
        }
    }
}
