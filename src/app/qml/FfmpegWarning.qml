import QtQuick
import QtQuick.Layouts
import Lumatra

// The warning while no ffmpeg is found: how to install it, and a button that looks again.
Card {
    id: ffmpegWarning
    objectName: "ffmpegWarning"
    /// The side margin of the content.
    property real side: 24
    visible: Store.ffmpegMissing
    Layout.fillWidth: true
    Layout.leftMargin: ffmpegWarning.side
    Layout.rightMargin: ffmpegWarning.side
    Layout.bottomMargin: 8
    Layout.preferredHeight: warning.implicitHeight + 24
    radius: 12

    RowLayout {
        id: warning
        anchors.fill: parent
        anchors.margins: 12
        spacing: 10

        Glyph {
            name: "exclamationmark.triangle.fill"
            size: 13
            color: Theme.accent
        }
        Text {
            Layout.fillWidth: true
            elide: Text.ElideRight
            textFormat: Text.StyledText
            text: "Для аудио и видео нужен ffmpeg. В Терминале: "
                  + "<font face=\"" + Theme.monoFont + "\" color=\"" + Theme.text + "\">"
                  + "sudo apt install ffmpeg</font>"
            font.family: Theme.font
            font.pixelSize: 12
            color: Theme.muted
        }
        PillButtonStyle {
            objectName: "recheckButton"
            text: "Проверить снова"
            onClicked: Store.checkFfmpeg()
        }
    }
}
