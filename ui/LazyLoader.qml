import QtQuick

// Loads the QML document `file` the first time `wanted` is true, with `initial` as its first
// property values, then keeps it. Loaded by address, not named as a type here, so that neither
// the document nor what it imports is compiled before it is needed: parts of the window most
// starts never show cost nothing before its first frame.
Loader {
    property bool wanted: false
    property url file
    property var initial: ({})

    onWantedChanged: if (wanted) load()
    Component.onCompleted: if (wanted) load()
    function load() {
        if (status === Loader.Null)
            setSource(file, initial)
    }
}
