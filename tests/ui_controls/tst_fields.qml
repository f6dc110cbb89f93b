import QtQuick
import QtTest
import PrinterConfig.Controls
import PrinterConfig.Testing

Item {
    id: root
    width: 400
    height: 300

    QtObject { id: owner; property string password: "" }

    SettingTextField {
        id: field
        width: 300
        title: "WIFI Password"
        isSecure: true
        text: owner.password
        onTextEdited: owner.password = text
    }

    TestCase {
        name: "SettingTextField"
        when: windowShown

        function init() {
            owner.password = "";
            field.isSecure = true;
        }

        function type(text) {
            field.input.forceActiveFocus();
            for (const ch of text)
                keyClick(ch);
        }

        function test_switching_kind_keeps_text_data() {
            return [
                { tag: "typed", typed: "s3cret", bound: "" },
                { tag: "bound", typed: "", bound: "s3cret" },
            ];
        }

        // Typed or bound, a secure entry never shows its characters, and neither kind loses them.
        function test_switching_kind_keeps_text(data) {
            compare(Probe.accessibleName(field.input), "WIFI Password");
            owner.password = data.bound;
            type(data.typed);
            compare(owner.password, "s3cret");
            compare(field.input.displayText, field.input.passwordCharacter.repeat(6));
            field.isSecure = false;
            compare(field.text, "s3cret");
            compare(field.input.displayText, "s3cret");
            field.isSecure = true;
            compare(field.text, "s3cret");
            verify(!field.input.displayText.includes("s"), field.input.displayText);
            // Typing leaves the owner's binding in place.
            owner.password = "other";
            compare(field.text, "other");
        }
    }
}
