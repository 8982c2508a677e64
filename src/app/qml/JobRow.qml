pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Lumatra

// One job of the list: picture, name, status line, target menu, action buttons, a
// progress bar while it converts and a context menu.
Card {
    id: row

    required property Job job
    readonly property int status: job?.status ?? Job.Ready
    readonly property bool converting: status === Job.Running
    readonly property bool waiting: status === Job.Queued
    readonly property bool hovered: hover.hovered
    /// The keyboard's selection is on this row.
    property bool selected: false
    /// The row was clicked: it should become the selected row.
    signal picked

    function openFormatMenu() { formatMenu.openMenu() }

    radius: 14
    highlighted: converting
    implicitHeight: Math.max(64, content.implicitHeight + 24)

    HoverHandler { id: hover }

    TapHandler {
        acceptedButtons: Qt.LeftButton
        onTapped: row.picked()
    }

    FocusRing {
        objectName: "selectionRing"
        shown: row.selected
        radius: row.radius + 3
    }

    // Made on first use: a list may hold a thousand rows.
    property ThemedMenu contextMenu: null

    TapHandler {
        acceptedButtons: Qt.RightButton
        onTapped: {
            if (!row.contextMenu) row.contextMenu = contextMenuComponent.createObject(row)
            row.contextMenu.popup()
        }
    }

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.leftMargin: 16
        anchors.rightMargin: 16
        anchors.topMargin: 12
        anchors.bottomMargin: 12
        spacing: 12

        Item {
            Layout.preferredWidth: 40
            Layout.preferredHeight: 40

            Image {
                id: icon
                anchors.fill: parent
                visible: status === Image.Ready
                source: (row.job?.icon ?? "") !== "" ? "image://fileicon/" + row.job.icon : ""
                sourceSize: Qt.size(80, 80)
                fillMode: Image.PreserveAspectFit
                smooth: true
            }
            Glyph {
                anchors.centerIn: parent
                visible: !icon.visible
                name: row.job?.kindSymbol ?? ""
                size: 22
                color: Theme.muted
            }
            Glyph {
                width: 16
                height: 16
                anchors.right: parent.right
                anchors.bottom: parent.bottom
                anchors.rightMargin: -3
                anchors.bottomMargin: -3
                name: row.job?.kindSymbol ?? ""
                size: 8
                font.weight: Font.Bold
                color: "white"
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3

            Text {
                id: fileName
                Layout.fillWidth: true
                objectName: "fileName"
                text: row.job?.fileName ?? ""
                font.family: Theme.font
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: Theme.text
                elide: Text.ElideMiddle
                maximumLineCount: 1

                // The whole name when it is shortened.
                HoverHandler { id: nameHover }
                ToolTip.visible: nameHover.hovered && fileName.truncated
                ToolTip.text: fileName.text
                ToolTip.delay: 500
            }

            StatusLine {
                objectName: "statusLine"
                Layout.fillWidth: true
                job: row.job
            }
        }

        Glyph {
            name: "arrow.right"
            size: 12
            font.weight: Font.Bold
            color: Theme.muted
        }

        FormatMenu {
            id: formatMenu
            objectName: "formatMenu"
            job: row.job
            enabled: !row.converting && !row.waiting
        }

        Item {
            Layout.preferredWidth: 76
            Layout.preferredHeight: 30

            Row {
                anchors.right: parent.right
                spacing: 8

                IconButton {
                    objectName: "stopButton"
                    visible: row.converting || row.waiting
                    symbol: "stop.fill"
                    help: "Отменить"
                    onClicked: Store.cancel(row.job)
                }
                IconButton {
                    objectName: "revealButton"
                    visible: row.status === Job.Done
                    symbol: "magnifyingglass"
                    help: "Показать в файловом менеджере"
                    onClicked: FileManager.reveal(row.job.outputUrl)
                }
                IconButton {
                    objectName: "retryButton"
                    visible: row.status === Job.Failed || row.status === Job.Cancelled
                    symbol: "arrow.clockwise"
                    help: "Повторить"
                    onClicked: Store.convert(row.job)
                }
                IconButton {
                    objectName: "removeButton"
                    visible: !row.converting && !row.waiting
                    symbol: "xmark"
                    help: "Убрать из списка"
                    onClicked: Store.remove(row.job)
                }
            }
        }
    }

    Surface {
        id: bar
        objectName: "progressBar"
        visible: row.converting
        x: 16
        y: row.height - 4 - height
        height: 3
        width: (row.width - 32) * Math.max(0, Math.min(1, row.job?.progress ?? 0))
        radius: -1
        accentFill: true
        shadowColor: Theme.alpha(Theme.accent, 0.6)
        shadowBlur: 4

        Behavior on width {
            enabled: row.converting
            NumberAnimation { duration: 250; easing.type: Easing.Linear }
        }
    }

    Component {
        id: contextMenuComponent

        ThemedMenu {
            id: contextMenu
            objectName: "contextMenu"

            MenuItem {
                text: "Показать исходный файл в файловом менеджере"
                onTriggered: FileManager.reveal(row.job.url)
            }
            MenuItem {
                objectName: "revealResultItem"
                text: "Показать результат в файловом менеджере"
                visible: row.status === Job.Done
                height: visible ? implicitHeight : 0
                onTriggered: FileManager.reveal(row.job.outputUrl)
            }
            MenuSeparator {}
            MenuItem {
                objectName: "removeItem"
                text: "Убрать из списка"
                enabled: !row.converting
                onTriggered: Store.remove(row.job)
            }
        }
    }
}
