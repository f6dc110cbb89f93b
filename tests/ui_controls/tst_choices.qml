import QtQuick
import QtTest
import PrinterConfig.Controls
import PrinterConfig.Testing

Item {
    id: root
    width: 500
    height: 500

    AppSwitch { id: cutter; text: "Auto cut" }
    SignalSpy { id: switchToggles; target: cutter; signalName: "toggled" }
    SignalSpy { id: switchChecks; target: cutter; signalName: "checkedChanged" }

    AppComboBox { id: combo; y: 50; width: 200; title: "Codepage"; model: ["PC437", "PC850", "PC858"] }
    SignalSpy { id: comboActivations; target: combo; signalName: "activated" }

    SegmentedPicker { id: picker; y: 100; width: 300; title: "Category"; model: ["Network", "Wi-Fi", "MQTT"]; currentIndex: 0 }
    SignalSpy { id: pickerActivations; target: picker; signalName: "activated" }

    Component { id: alertComponent; AppDialog { title: "Network"; message: "Connection refused" } }
    SignalSpy { id: alertClosings; signalName: "closed" }

    TestCase {
        name: "Choices"
        when: windowShown
        // One bound for every wait, generous for the sanitizer build on a busy machine: a wait
        // that succeeds returns as soon as its condition holds.
        readonly property int waitLimit: 15000

        // A screen reader's Press or Toggle must do what a click does, toggled included.
        function test_switch_data() {
            return [
                { tag: "click", act: () => mouseClick(cutter) },
                { tag: "Press", act: () => verify(Probe.doAction(cutter, "Press")) },
                { tag: "Toggle", act: () => verify(Probe.doAction(cutter, "Toggle")) },
            ];
        }

        function test_switch(data) {
            compare(Probe.accessibleName(cutter), "Auto cut");
            for (const expected of [true, false]) {
                switchToggles.clear();
                switchChecks.clear();
                data.act();
                compare(cutter.checked, expected);
                compare(switchToggles.count, 1);
                compare(switchChecks.count, 1);
            }
            cutter.enabled = false;
            data.act();
            compare(cutter.checked, false, "disabled");
            cutter.enabled = true;
        }

        function test_combo_data() {
            return [
                { tag: "Increase", from: 0, action: "Increase", to: 1, activated: 1 },
                { tag: "Decrease", from: 2, action: "Decrease", to: 1, activated: 1 },
                { tag: "Increase at the end", from: 2, action: "Increase", to: 2, activated: 0 },
                { tag: "Decrease at the start", from: 0, action: "Decrease", to: 0, activated: 0 },
            ];
        }

        function test_combo(data) {
            combo.currentIndex = data.from;
            comboActivations.clear();
            compare(Probe.accessibleName(combo), "Codepage");
            verify(Probe.doAction(combo, data.action));
            compare(combo.currentIndex, data.to);
            compare(comboActivations.count, data.activated);
        }

        function test_combo_option_data() {
            return [
                { tag: "click", act: option => mouseClick(option) },
                { tag: "Press", act: option => verify(Probe.doAction(option, "Press")) },
            ];
        }

        function test_combo_option(data) {
            combo.currentIndex = 0;
            comboActivations.clear();
            mouseClick(combo);
            tryCompare(combo.popup, "opened", true, waitLimit);
            const list = combo.popup.contentItem;
            tryVerify(() => list.itemAtIndex(2) !== null, waitLimit);
            data.act(list.itemAtIndex(2));
            compare(combo.currentIndex, 2);
            compare(comboActivations.count, 1);
            tryCompare(combo.popup, "visible", false, waitLimit);
        }

        function segments() {
            return Array.from(picker.contentItem.children).filter(child => child.checkable === true);
        }

        function test_picker_data() {
            return [
                { tag: "click another", act: () => mouseClick(segments()[1]), index: 1, activated: 1 },
                { tag: "Toggle another", act: () => Probe.doAction(segments()[2], "Toggle"), index: 2, activated: 1 },
                { tag: "Press another", act: () => Probe.doAction(segments()[1], "Press"), index: 1, activated: 1 },
                { tag: "click the selected", act: () => mouseClick(segments()[0]), index: 0, activated: 0 },
                { tag: "Toggle the selected", act: () => Probe.doAction(segments()[0], "Toggle"), index: 0, activated: 0 },
                { tag: "set by the owner", act: () => picker.currentIndex = 2, index: 2, activated: 0 },
            ];
        }

        function test_picker(data) {
            picker.currentIndex = 0;
            pickerActivations.clear();
            data.act();
            compare(picker.currentIndex, data.index);
            compare(pickerActivations.count, data.activated);
            compare(segments().map(segment => segment.checked),
                    [0, 1, 2].map(i => i === data.index));
        }

        function test_picker_shares_width_equally() {
            for (const width of [picker.implicitWidth, 420]) {
                picker.width = width;
                const widths = segments().map(segment => segment.width);
                verify(widths.every(w => Math.abs(w - widths[0]) < 0.5), widths);
                // The longest label fits without eliding.
                verify(segments().every(segment => segment.contentItem.truncated === false));
            }
        }

        function test_dialog_data() {
            return [
                { tag: "click OK", act: button => mouseClick(button) },
                { tag: "Press OK", act: button => verify(Probe.doAction(button, "Press")) },
                { tag: "Space", act: () => keyClick(Qt.Key_Space) },
                { tag: "Escape", act: () => keyClick(Qt.Key_Escape) },
            ];
        }

        function test_dialog(data) {
            const alert = createTemporaryObject(alertComponent, root);
            alertClosings.target = alert;
            alertClosings.clear();
            alert.open();
            tryCompare(alert, "opened", true, waitLimit);
            const button = alert.footer.contentItem;
            compare(Probe.accessibleName(button), "OK");
            data.act(button);
            tryCompare(alert, "visible", false, waitLimit);
            compare(alertClosings.count, 1);
        }
    }
}
