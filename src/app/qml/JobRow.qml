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
    readonly property int status: job ? job.status : Job.Ready
    readonly property bool converting: status === Job.Running
    readonly property bool waiting: status === Job.Queued
    readonly property bool hovered: hover.hovered
    /// The keyboard's selection is on this row.
    property bool selected: false
    /// The row was clicked: it should become the selected row.
    signal picked
    /// Marks a job row for the window, which follows the keyboard focus into rows.
    readonly property bool isJobRow: true

    function openFormatMenu() { formatMenu.openMenu(true) }
    /// What a double click or Enter does: opens a done job's result.
    function activate() {
        if (status === Job.Done) Store.openResult(job)
        else formatMenu.openMenu(true)
    }

    radius: 14
    highlighted: converting
    implicitHeight: Math.max(64, content.implicitHeight + 24)

    HoverHandler { id: hover }

    // When the last click landed, for a double click (the handler's own count does not
    // survive the focus moving to the list on the first click).
    property double lastTap: 0
    TapHandler {
        acceptedButtons: Qt.LeftButton
        onTapped: {
            row.picked()
            const now = Date.now()
            const twice = now - row.lastTap < Qt.styleHints.mouseDoubleClickInterval
            row.lastTap = twice ? 0 : now
            // A double click opens a done job's result.
            if (twice && row.status === Job.Done) Store.openResult(row.job)
        }
    }

    // The keyboard's selection: a light tint and a neutral outline, unlike the red
    // accent border of a converting row.
    Rectangle {
        objectName: "selectionTint"
        anchors.fill: parent
        radius: row.radius
        visible: row.selected
        color: Theme.alpha(Theme.text, 0.06)
    }
    FocusRing {
        objectName: "selectionRing"
        shown: row.selected
        radius: row.radius + 3
        border.color: Theme.alpha(Theme.text, 0.7)
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

            // One family of monochrome symbols, one per kind, on a quiet tile: the
            // desktop's coloured file icons mixed with them looked like a mistake.
            Rectangle {
                anchors.fill: parent
                radius: 10
                color: Theme.alpha(Theme.text, 0.05)
                border.width: 1
                border.color: Theme.line
            }
            Glyph {
                objectName: "kindSymbol"
                anchors.centerIn: parent
                name: row.job ? row.job.kindSymbol : ""
                size: 22
                color: Theme.muted
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: 3

            Text {
                id: fileName
                Layout.fillWidth: true
                objectName: "fileName"
                text: row.job ? row.job.fileName : ""
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

        // Two fixed places. The right one holds «Отменить» while the job waits or runs,
        // and afterwards a harmless action («Показать», «Повторить»); «Убрать из
        // списка» only ever appears in the left one, so a click meant for cancel never
        // removes a row that has just finished under the pointer.
        Item {
            Layout.preferredWidth: 68
            Layout.preferredHeight: 30

            IconButton {
                objectName: "removeButton"
                x: 0
                visible: !row.converting && !row.waiting
                // Next to «Показать» or «Повторить» it is no Tab stop of its own: Delete
                // removes the selected row.
                activeFocusOnTab: !revealButton.visible && !retryButton.visible
                symbol: "xmark"
                help: "Убрать из списка"
                onClicked: Store.remove(row.job)
            }
            IconButton {
                objectName: "stopButton"
                x: 38
                visible: row.converting || row.waiting
                symbol: "stop.fill"
                help: "Отменить"
                onClicked: Store.cancel(row.job)
            }
            IconButton {
                id: revealButton
                objectName: "revealButton"
                x: 38
                visible: row.status === Job.Done
                symbol: "magnifyingglass"
                help: "Показать в файловом менеджере"
                onClicked: Store.reveal(row.job.outputUrl)
            }
            IconButton {
                id: retryButton
                objectName: "retryButton"
                x: 38
                visible: row.status === Job.Failed || row.status === Job.Cancelled
                symbol: "arrow.clockwise"
                help: "Повторить"
                onClicked: Store.convert(row.job)
            }
        }
    }

    // Plain rectangles: a new width costs the scene graph a vertex update, not a new
    // picture, and the bar follows the coalesced progress without an animation of its
    // own.
    Item {
        id: bar
        objectName: "progressBar"
        visible: row.converting
        x: 16
        y: row.height - 4 - height
        height: 3
        width: (row.width - 32) * Math.max(0, Math.min(1, row.job ? row.job.progress : 0))

        Rectangle {
            anchors.fill: parent
            anchors.margins: -1
            radius: height / 2
            color: Theme.alpha(Theme.accent, 0.3)
        }
        Rectangle {
            anchors.fill: parent
            radius: height / 2
            gradient: Gradient {
                orientation: Gradient.Horizontal
                GradientStop { position: 0; color: Theme.accentGlow }
                GradientStop { position: 0.5; color: Theme.accent }
                GradientStop { position: 1; color: Theme.accentDeep }
            }
        }
    }

    Component {
        id: contextMenuComponent

        ThemedMenu {
            id: contextMenu
            objectName: "contextMenu"

            MenuItem {
                objectName: "openResultItem"
                text: "Открыть"
                visible: row.status === Job.Done
                height: visible ? implicitHeight : 0
                onTriggered: Store.openResult(row.job)
            }
            MenuItem {
                text: "Показать исходный файл в файловом менеджере"
                onTriggered: Store.reveal(row.job.url)
            }
            MenuItem {
                objectName: "revealResultItem"
                text: "Показать результат в файловом менеджере"
                visible: row.status === Job.Done
                height: visible ? implicitHeight : 0
                onTriggered: Store.reveal(row.job.outputUrl)
            }
            MenuSeparator {}
            MenuItem {
                objectName: "removeItem"
                text: "Убрать из списка"
                enabled: !row.converting
                onTriggered: Store.remove(row.job)
            }
            MenuItem {
                objectName: "removeUnstartedItem"
                text: "Убрать неначатые"
                enabled: Store.readyCount > 0 || Store.pendingCount > 0
                onTriggered: Store.removeUnstarted()
            }
        }
    }
}
