import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Qt.labs.folderlistmodel
import PrinterConfig.Controls

// Choosing a certificate or key file, in the application's own look: it opens in the home
// folder, lists folders and the files the filter lets through, and is driven by pointer, keys
// (arrows, Return to open or choose, Backspace for the folder above, Escape to cancel) or a screen
// reader. accepted(url) gives the chosen file; rejected() says the user closed it without one.
Popup {
    id: chooser
    property url homeFolder
    signal accepted(url file)
    signal rejected()

    readonly property var certificateFilters: ["*.crt", "*.cer", "*.pem", "*.key", "*.cert"]
    property bool chosen: false

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(560, parent ? parent.width - 40 : 560)
    height: Math.min(520, parent ? parent.height - 40 : 520)
    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    padding: 18

    onAboutToShow: {
        chosen = false
        files.folder = homeFolder
        list.currentIndex = -1
        list.forceActiveFocus()
    }
    onClosed: if (!chosen) rejected()

    function choose(index) {
        if (index < 0)
            return
        if (files.isFolder(index)) {
            files.folder = files.get(index, "fileUrl")
            list.currentIndex = -1
            return
        }
        chosen = true
        accepted(files.get(index, "fileUrl"))
        close()
    }
    function up() {
        if (files.parentFolder.toString() !== "")
            files.folder = files.parentFolder
    }

    FolderListModel {
        id: files
        showDirsFirst: true
        showDotAndDotDot: false
        nameFilters: filter.currentIndex === 0 ? chooser.certificateFilters : []
    }

    background: Rectangle {
        radius: 14
        color: Theme.paper
        border.color: Theme.hairline
    }
    T.Overlay.modal: Rectangle { color: Qt.rgba(0, 0, 0, 0.25) }

    contentItem: ColumnLayout {
        spacing: 10
        Accessible.role: Accessible.Dialog
        Accessible.name: "Import certificate"
        Keys.onEscapePressed: chooser.close()

        Text {
            text: "Import certificate"
            font: Theme.rowTitleFont
            color: Theme.ink
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 6
            ToolbarButton {
                text: "Up"
                symbol: "chevron.left"
                enabled: files.parentFolder.toString() !== ""
                onClicked: chooser.up()
            }
            ToolbarButton {
                text: "Home"
                onClicked: files.folder = chooser.homeFolder
            }
            Text {
                text: decodeURIComponent(files.folder.toString().replace(/^file:\/\//, ""))
                textFormat: Text.PlainText // names and texts from files are data
                font: Theme.captionFont
                color: Theme.inkSecondary
                elide: Text.ElideMiddle
                Layout.fillWidth: true
                Accessible.name: "Folder " + text
            }
        }
        SegmentedPicker {
            id: filter
            title: "Show"
            model: ["Certificates and keys", "All files"]
            currentIndex: 0
        }
        Rectangle {
            Layout.fillWidth: true
            Layout.fillHeight: true
            radius: 10
            color: Qt.rgba(1, 1, 1, 0.6)
            border.color: list.activeFocus ? Qt.rgba(Theme.accent.r, Theme.accent.g, Theme.accent.b, 0.6)
                                           : Theme.hairline
            ListView {
                id: list
                anchors.fill: parent
                anchors.margins: 4
                clip: true
                // Rows only while open: the rows go while the list still stands (Qt 6.4 crashes
                // when a list destroyed with its rows tells a listening screen reader of them).
                model: chooser.visible ? files : null
                keyNavigationEnabled: true
                highlightMoveDuration: 0
                Accessible.role: Accessible.List
                Accessible.name: "Files"
                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
                // An empty folder says so, rather than looking like a list still loading.
                Text {
                    anchors.centerIn: parent
                    visible: list.count === 0 && files.status === FolderListModel.Ready
                    text: filter.currentIndex === 0 ? "No certificates, keys or folders here"
                                                    : "This folder is empty"
                    font: Theme.captionFont
                    color: Theme.inkSecondary
                    Accessible.name: text
                }
                Keys.onReturnPressed: chooser.choose(currentIndex)
                Keys.onEnterPressed: chooser.choose(currentIndex)
                Keys.onPressed: (event) => {
                    if (event.key === Qt.Key_Backspace) {
                        chooser.up()
                        event.accepted = true
                    }
                }
                delegate: ItemDelegate {
                    id: entry
                    required property int index
                    required property string fileName
                    required property bool fileIsDir
                    required property int fileSize
                    width: ListView.view.width
                    padding: 8
                    highlighted: ListView.isCurrentItem
                    text: fileName
                    Accessible.name: fileIsDir ? fileName + " (folder)" : fileName
                    Accessible.onPressAction: chooser.choose(index)
                    onClicked: list.currentIndex = index
                    onDoubleClicked: chooser.choose(index)
                    background: Rectangle {
                        radius: 6
                        color: entry.highlighted ? Theme.accentTint
                                                 : entry.hovered ? Qt.rgba(1, 1, 1, 0.7) : "transparent"
                    }
                    contentItem: RowLayout {
                        spacing: 8
                        Icon {
                            symbol: entry.fileIsDir ? "chevron.right" : "checkmark"
                            opacity: entry.fileIsDir ? 1 : 0
                            size: 14
                            color: Theme.accent
                        }
                        Text {
                            text: entry.fileName
                            textFormat: Text.PlainText // names and texts from files are data
                            font: Theme.bodyFont
                            color: Theme.ink
                            elide: Text.ElideMiddle
                            Layout.fillWidth: true
                        }
                        Text {
                            visible: !entry.fileIsDir
                            text: entry.fileSize + " B"
                            font.family: Theme.numberFont.family
                            font.pixelSize: Theme.captionFont.pixelSize
                            color: Theme.inkSecondary
                        }
                    }
                }
            }
        }
        RowLayout {
            Layout.fillWidth: true
            spacing: 10
            Item { Layout.fillWidth: true }
            PrimaryButton {
                text: "Cancel"
                filled: false
                Layout.fillWidth: false
                onClicked: chooser.close()
            }
            PrimaryButton {
                text: "Import"
                filled: true
                Layout.fillWidth: false
                enabled: list.currentIndex >= 0 && !files.isFolder(list.currentIndex)
                onClicked: chooser.choose(list.currentIndex)
            }
        }
    }
}
