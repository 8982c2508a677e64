import QtQuick
import QtQuick.Layouts
import Lumatra

// What the window has to tell: skipped files, a file manager that did not answer,
// an output folder that went away. In the layout, under the list: it never covers
// a row.
Item {
    id: notice
    objectName: "notice"
    /// The side margin of the content.
    property real side: 24
    visible: Store.notice !== ""
    Layout.fillWidth: true
    Layout.preferredHeight: noticeCard.height + 12

    Card {
        id: noticeCard
        radius: 12
        x: notice.side
        y: 6
        width: parent.width - 2 * notice.side
        height: noticeRow.implicitHeight + 16

        RowLayout {
            id: noticeRow
            anchors.fill: parent
            anchors.leftMargin: 14
            anchors.rightMargin: 8
            spacing: 10
            Glyph {
                name: "exclamationmark.triangle.fill"
                size: 13
                color: Theme.accent
            }
            Text {
                objectName: "noticeText"
                Layout.fillWidth: true
                text: Store.notice
                wrapMode: Text.Wrap
                maximumLineCount: 3
                elide: Text.ElideRight
                font.family: Theme.font
                font.pixelSize: 12
                color: Theme.text
            }
            PillButtonStyle {
                objectName: "noticeAction"
                visible: Store.noticeAction !== ""
                text: Store.noticeAction
                onClicked: Store.runNoticeAction()
            }
            IconButton {
                objectName: "noticeClose"
                symbol: "xmark"
                help: "Закрыть"
                onClicked: Store.dismissNotice()
            }
        }
    }

    // A notice goes by itself after a while; one with a button stays longer.
    Timer {
        id: noticeTimer
        interval: Store.noticeAction !== "" ? 60000 : 12000
        onTriggered: Store.dismissNotice()
    }
    Connections {
        target: Store
        function onNoticeChanged() {
            if (Store.notice !== "") noticeTimer.restart()
            else noticeTimer.stop()
        }
    }
}
