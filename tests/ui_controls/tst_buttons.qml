import QtQuick
import QtTest
import PrinterConfig.Controls
import PrinterConfig.Testing

Item {
    id: root
    width: 400
    height: 400

    Component { id: primaryButton; PrimaryButton { text: "Apply"; width: 240 } }
    Component { id: settingButton; SettingButton { title: "Set"; width: 240 } }
    Component { id: toolbarButton; ToolbarButton { text: "Refresh"; symbol: "arrow.clockwise" } }
    Component { id: backButton; BackButton {} }
    Component { id: plainButton; PlainButton { text: "Network"; contentItem: SettingRowView { title: "Network" } } }

    SignalSpy { id: clicks; signalName: "clicked" }

    TestCase {
        name: "Buttons"
        when: windowShown
        // One bound for every wait, generous for the sanitizer build on a busy machine: a wait
        // that succeeds returns as soon as its condition holds.
        readonly property int waitLimit: 15000

        function test_press_shrinks_dims_and_springs_back() {
            const button = createTemporaryObject(settingButton, root);
            clicks.target = button;
            clicks.clear();
            mousePress(button);
            // Eased, not a jump.
            compare(button.scale, 1);
            tryCompare(button, "scale", 0.98, waitLimit);
            tryCompare(button, "opacity", 0.9, waitLimit);
            mouseRelease(button);
            tryCompare(button, "scale", 1, waitLimit);
            tryCompare(button, "opacity", 1, waitLimit);
            compare(clicks.count, 1);
        }

        // What a screen reader's "Press" does must be what a click does.
        function test_accessible_press_data() {
            return [
                { tag: "PrimaryButton", component: primaryButton, name: "Apply" },
                { tag: "SettingButton", component: settingButton, name: "Set" },
                { tag: "ToolbarButton", component: toolbarButton, name: "Refresh" },
                { tag: "BackButton", component: backButton, name: "Back" },
                { tag: "PlainButton", component: plainButton, name: "Network" },
            ];
        }

        function test_accessible_press(data) {
            const button = createTemporaryObject(data.component, root);
            clicks.target = button;
            clicks.clear();
            compare(Probe.accessibleName(button), data.name);
            verify(Probe.doAction(button, "Press"));
            compare(clicks.count, 1);
            mouseClick(button);
            compare(clicks.count, 2);

            button.enabled = false;
            Probe.doAction(button, "Press");
            mouseClick(button);
            compare(clicks.count, 2, "a disabled button ignores both");
        }
    }
}
