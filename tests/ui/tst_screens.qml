import QtQuick
import QtTest
import PrinterConfig

// The Basic, Network, Wi-Fi and MQTT screens driven by their visible controls over a TCP link to the
// virtual printer: what the printer decodes, the console lines, and the restart alerts.
Item {
    id: top
    width: 1020
    height: 700

    ContentView {
        id: view
        anchors.fill: parent
    }

    TestCase {
        name: "Screens"
        when: windowShown
        // One bound for every wait, generous for the sanitizer build on a busy machine: a wait
        // that succeeds returns as soon as its condition holds.
        readonly property int waitLimit: 15000

        // The visible item showing `text`, searched from `from` or else from the window's root, so
        // that popups are found too.
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
        // Types `typed` at the end of the field that follows the caption `label` (shown in capitals
        // on the settings forms) in its row or column, inside `from`.
        function typeAfter(label, typed, from) {
            let caption = null
            tryVerify(() => (caption = find(label.toUpperCase(), from) || find(label, from)) !== null,
                      waitLimit, "no label " + label)
            mouseClick(caption.parent.children[1])
            keyClick(Qt.Key_End)
            for (const c of typed)
                keyClick(c)
        }
        function openAt(category) {
            press("Parameter Settings")
            press(category)
        }
        function dismissAlert(title, message) {
            tryVerify(() => find(message) !== null, waitLimit, "the alert " + message + " after " + sim.lastLine())
            verify(find(title, find(message).parent) !== null)
            press("OK")
            tryVerify(() => find(message) === null, waitLimit)
        }

        function initTestCase() {
            view.model.selectConnectionType("network")
            view.model.ipAddress = "127.0.0.1"
            view.model.port = String(sim.port)
            view.model.toggleNetworkConnection()
            tryCompare(view.model, "isCurrentConnected", true, waitLimit)
        }
        function cleanup() {
            if (view.model.settingsSection !== "")
                press("Close")
            tryCompare(view.model, "settingsSection", "", waitLimit)
        }

        function test_basic() {
            openAt("Basic Settings")
            press("9x17")
            press("Language / Codepage")
            // The list has slid in once the screen below it is hidden.
            tryVerify(() => find("Set") === null, waitLimit, "the list opened")
            press("CP437 [US, European Standard]")
            // Back on the Basic screen once the list has slid away.
            tryVerify(() => find("Traditional Chinese") === null, waitLimit, "the list closed")
            verify(find("CP437 [US, European Standard]") !== null)
            press("Set")
            tryVerify(() => sim.printed("codepage=0x00 \"CP437 [US, European Standard]\" font=9x17"), waitLimit,
                      "decoded: " + sim.lastLine())
            verify(sim.logged("发送命令: 1F 28 0F 0C 00 1F 73 05 00 00 00 00 01 00 00 01"))
        }

        function test_network() {
            openAt("Network Settings")
            press("Set Ethernet Dynamic IP")
            dismissAlert("Settings Successful", "Network settings updated, please restart the printer to apply the settings")
            tryVerify(() => sim.printed("ip interface=ethernet mode=dhcp"), waitLimit)
            verify(sim.logged("发送IP设置命令: 1F 28 0F 05 00 1F 49 00 00 56"))
        }

        function test_mqtt() {
            const notice = "MQTT settings updated, please restart the printer to apply the settings"
            openAt("MQTT Settings")
            press("Topics")
            press("QoS 2")
            press("Apply Topic Settings")
            // Five commands, 0.25 s apart; the last raises the restart notice.
            tryVerify(() => sim.printed("mqtt.reply-topic topic=\"PrintSuccess\""), waitLimit)
            verify(sim.printed("mqtt.qos qos=2"))
            dismissAlert("Settings", notice)
            press("TLS")
            press("One-way")
            compare(find("Apply TLS Settings").enabled, false)

            // The chooser's accept path: a DER file becomes a PEM block, and Apply sends it.
            // (The chooser itself is the platform's; its result arrives here.)
            const mqtt = findChild(top.Window.contentItem, "mqttSettingsView")
            mqtt.screen.mutualImportSlot = 0
            mqtt.importAccepted("file://" + sim.certificateFile)
            tryCompare(mqtt.screen, "certificatePEM",
                       "-----BEGIN CERTIFICATE-----\nMIIBCg==\n-----END CERTIFICATE-----\n", waitLimit)
            compare(find("Apply TLS Settings").enabled, true)
            press("Apply TLS Settings")
            dismissAlert("Settings", notice)
            tryVerify(() => sim.printed("mqtt.tls-one-way"), waitLimit)

            // Broker and Timing by their fields (the sheet's, not the window's own Port field).
            press("Broker")
            typeAfter("Port", "0", mqtt)  // "88830" (the TLS mode made it 8883) is no 16-bit port
            press("Apply Broker Settings")
            // The refusal first, then the notice once the client ID step has gone.
            dismissAlert("Settings", "Please enter a valid server address and port")
            dismissAlert("Settings", notice)
            tryVerify(() => sim.printed("mqtt.client-id"), waitLimit)
            press("Timing")
            typeAfter("Heartbeat (sec)", "0", mqtt)  // "300"
            press("Apply Timing Settings")
            dismissAlert("Settings", notice)
            tryVerify(() => sim.printed("mqtt.heartbeat seconds=300"), waitLimit)
            tryVerify(() => sim.printed("mqtt.dns-test"), waitLimit)
        }

        function test_wifi() {
            openAt("WIFI Settings")
            typeAfter("WIFI Name", "shop")
            typeAfter("WIFI Password", "pw123")
            const password = find("pw123")
            const shown = password.input ? password.input.displayText : password.displayText
            verify(shown.length === 5 && shown.indexOf("pw123") < 0, "the password never shows")
            press("Set")
            dismissAlert("Settings Successful", "WIFI settings updated, please restart the printer to apply the settings")
            tryVerify(() => sim.printed("wifi ssid=\"shop\" password=(5 bytes)"), waitLimit)
            verify(sim.logged("发送WIFI设置命令: 1F 28 0F 10 00 1F 77 04 73 68 6F 70"))
        }
    }
}
