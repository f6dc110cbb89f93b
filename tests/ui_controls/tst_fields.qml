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

        function test_secure_entry_never_shows_characters() {
            type("pa55");
            compare(field.text, "pa55");
            compare(owner.password, "pa55");
            compare(field.input.displayText, field.input.passwordCharacter.repeat(4));
        }

        function test_switching_kind_keeps_text_data() {
            return [
                { tag: "typed", typed: "s3cret", bound: "" },
                { tag: "bound", typed: "", bound: "s3cret" },
            ];
        }

        function test_switching_kind_keeps_text(data) {
            owner.password = data.bound;
            type(data.typed);
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

        function test_accessible_name() {
            compare(Probe.accessibleName(field.input), "WIFI Password");
        }
    }
}
