import QtQuick

// The single action of a settings screen; what it does is connected to clicked(), because
// AbstractButton already owns the name "action".
PrimaryButton {
    id: control

    property alias title: control.text

    filled: true
    destructive: false
}
