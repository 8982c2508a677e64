import QtQuick
import QtQuick.Layouts
import Lumatra

// The window's head: the application's mark and name; once there are jobs, the
// buttons that tidy the list and add files.
RowLayout {
    id: header
    objectName: "header"
    /// The list has jobs.
    property bool hasJobs: false
    /// The side margin of the content.
    property real side: 24
    Layout.fillWidth: true
    Layout.leftMargin: header.side
    Layout.rightMargin: header.side
    Layout.topMargin: 18
    Layout.bottomMargin: 12
    spacing: 14

    Item {
        Layout.preferredWidth: 44
        Layout.preferredHeight: 44
        Surface {
            anchors.fill: parent
            anchors.margins: 2
            radius: 10
            shadowColor: Theme.alpha(Theme.accent, 0.35)
            shadowBlur: 12
        }
        Image {
            anchors.fill: parent
            source: "qrc:/qt/qml/Lumatra/resources/lumatra.svg"
            sourceSize: Qt.size(88, 88)
            smooth: true
        }
    }

    ColumnLayout {
        spacing: 2
        Text {
            text: "Lumatra"
            font.family: Theme.font
            font.pixelSize: 22
            font.weight: Font.ExtraBold
            font.letterSpacing: -0.4
            color: Theme.text
        }
        Text {
            text: "Музыка, видео, фото, документы — в любой формат"
            font.family: Theme.font
            font.pixelSize: 12
            color: Theme.muted
        }
    }

    Item { Layout.fillWidth: true }

    // Tidying has its own place, far from «Остановить»: a late click on Stop
    // never lands on it.
    PillButtonStyle {
        objectName: "clearButton"
        visible: header.hasJobs && Store.hasFinished && !Store.busy
        text: "Очистить готовые"
        symbol: "clear_all"
        help: "Убрать из списка готовые, отменённые и неудачные"
        onClicked: Store.clearFinished()
    }

    PillButtonStyle {
        objectName: "addButton"
        visible: header.hasJobs
        symbol: "plus"
        text: "Добавить"
        help: "Добавить файлы и папки — Ctrl+O"
        onClicked: Store.openPanel()
    }
}
