import QtQuick
import QtQuick.Layouts
import Lumatra

// How the batch goes while it runs, and how it ended afterwards, until the user's
// next change. Below the list, so that the rows stay where they are.
Item {
    id: batchStrip
    objectName: "batchStrip"
    /// The list has jobs.
    property bool hasJobs: false
    /// The side margin of the content.
    property real side: 24
    /// «К ошибке» was clicked.
    signal nextFailedRequested()
    readonly property bool ended: !Store.busy && Store.summary !== ""
    readonly property bool hasFailures: ended && Store.failedCount > 0
    Layout.fillWidth: true
    Layout.preferredHeight: 44
    visible: batchStrip.hasJobs && (Store.busy || ended)

    Rectangle {
        width: parent.width
        height: 1
        color: Theme.line
    }

    RowLayout {
        anchors.fill: parent
        anchors.leftMargin: batchStrip.side
        anchors.rightMargin: batchStrip.side
        spacing: 10

        Glyph {
            visible: batchStrip.ended
            name: batchStrip.hasFailures ? "exclamationmark.circle.fill" : "checkmark.circle.fill"
            size: 14
            color: batchStrip.hasFailures ? Theme.accent : Theme.success
        }
        Text {
            objectName: "batchText"
            text: Store.busy ? Store.batchText : Store.summary
            font.family: Theme.font
            font.pixelSize: 13
            font.weight: Font.DemiBold
            color: Theme.text
        }
        Text {
            objectName: "qualityNote"
            Layout.fillWidth: true
            visible: Store.busy
            text: Store.qualityNote !== "" ? "· Качество " + Store.qualityNote : ""
            elide: Text.ElideRight
            font.family: Theme.font
            font.pixelSize: 12
            color: Theme.muted
        }
        Item {
            Layout.fillWidth: true
            visible: !Store.busy
        }
        PillButtonStyle {
            objectName: "nextFailedButton"
            visible: batchStrip.hasFailures
            symbol: "arrow_downward"
            text: "К ошибке"
            help: "Показать следующий файл с ошибкой"
            onClicked: batchStrip.nextFailedRequested()
        }
        PillButtonStyle {
            objectName: "retryFailedButton"
            visible: batchStrip.hasFailures
            symbol: "arrow.clockwise"
            text: "Повторить неудавшиеся"
            onClicked: Store.retryFailed()
        }
        IconButton {
            objectName: "summaryClose"
            visible: batchStrip.ended
            symbol: "xmark"
            help: "Скрыть итог"
            onClicked: Store.dismissSummary()
        }
    }

    // The whole batch's progress, along the strip's bottom edge.
    Rectangle {
        objectName: "batchBar"
        visible: Store.busy
        x: batchStrip.side
        y: parent.height - 6
        width: parent.width - 2 * batchStrip.side
        height: 3
        radius: 1.5
        color: Theme.alpha(Theme.text, 0.08)
        Rectangle {
            objectName: "batchBarFill"
            width: parent.width * Store.batchProgress
            height: parent.height
            radius: parent.radius
            color: Theme.accent
        }
    }
}
