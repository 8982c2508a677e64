pragma ComponentBehavior: Bound
import QtQuick
import Lumatra

// The large invitation shown while the list is empty. A click anywhere on it, like
// its button, asks for files.
Item {
    id: hero

    property bool isTargeted: false
    /// Turned over each time a drag enters, so the symbol turns once, alternately
    /// clockwise and anticlockwise.
    property bool spin: false
    readonly property var examples: [
        { kind: "audio", text: "MP3 · WAV · FLAC · M4A · OPUS" },
        { kind: "video", text: "MP4 · MOV · MKV · WEBM · GIF" },
        { kind: "image", text: "JPG · PNG · HEIC · WEBP · RAW" },
        { kind: "document", text: "PDF · DOCX · RTF · TXT · MD" },
        { kind: "data", text: "JSON · CSV · PLIST" }
    ]
    signal action

    onIsTargetedChanged: if (isTargeted) spin = !spin

    Surface {
        objectName: "dropZone"
        anchors.fill: parent
        radius: 28
        color: Theme.alpha(Theme.accent, hero.isTargeted ? 0.07 : 0.015)
        borderWidth: hero.isTargeted ? 2 : 1.2
        accentBorder: hero.isTargeted
        borderColor: Theme.lineStrong
        dash: 10
        gap: 8
    }

    MouseArea {
        anchors.fill: parent
        cursorShape: Qt.PointingHandCursor
        onClicked: hero.action()
    }

    // Side by side when the area is too short for the column; scaled down when even
    // that does not fit, so nothing leaves the dashed frame.
    readonly property bool sideBySide: height < intro.implicitHeight + 22 + examplesCard.height + 32
    readonly property real fit: Math.min(1, (width - 24) / Math.max(1, content.implicitWidth),
                                         (height - 24) / Math.max(1, content.implicitHeight))

    Grid {
        id: content
        objectName: "heroContent"
        anchors.centerIn: parent
        columns: hero.sideBySide ? 2 : 1
        columnSpacing: 36
        rowSpacing: 22
        verticalItemAlignment: Grid.AlignVCenter
        horizontalItemAlignment: Grid.AlignHCenter
        scale: hero.fit

    Column {
        id: intro
        spacing: 22

        Item {
            id: badge
            objectName: "badge"
            width: 132
            height: 132
            anchors.horizontalCenter: parent.horizontalCenter
            scale: hero.isTargeted ? 1.08 : 1

            Behavior on scale {
                SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.002 }
            }

            // The glow: an accent circle, blurred.
            Surface {
                anchors.fill: parent
                radius: -1
                shadowColor: Theme.alpha(Theme.accent, hero.isTargeted ? 0.28 : 0.14)
                shadowBlur: 18
            }
            Surface {
                width: 96
                height: 96
                anchors.centerIn: parent
                radius: -1
                accentFill: true
                shadowColor: Theme.alpha(Theme.accent, 0.5)
                shadowBlur: 20
            }
            Glyph {
                objectName: "badgeSymbol"
                anchors.centerIn: parent
                name: "arrow.triangle.2.circlepath"
                size: 40
                font.weight: Font.DemiBold
                color: "white"
                rotation: hero.spin ? 360 : 0

                Behavior on rotation {
                    NumberAnimation { duration: 900; easing.type: Easing.InOutQuad }
                }
            }
        }

        Column {
            spacing: 8
            anchors.horizontalCenter: parent.horizontalCenter

            Text {
                objectName: "heroTitle"
                anchors.horizontalCenter: parent.horizontalCenter
                text: hero.isTargeted ? "Отпускайте" : "Перетащите файлы сюда"
                font.family: Theme.font
                font.pixelSize: 28
                font.weight: Font.ExtraBold
                font.letterSpacing: -0.5
                color: Theme.text
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                horizontalAlignment: Text.AlignHCenter
                text: "Выберите, во что превратить каждый файл, и нажмите «Конвертировать».\n"
                      + "Всё работает на этом компьютере, без интернета."
                font.family: Theme.font
                font.pixelSize: 13
                lineHeight: 1.15
                color: Theme.muted
            }
        }

        PillButtonStyle {
            objectName: "chooseButton"
            anchors.horizontalCenter: parent.horizontalCenter
            filled: true
            large: true
            symbol: "folder"
            text: "Выбрать файлы"
            help: "Добавить файлы и папки — Ctrl+O"
            onClicked: hero.action()
        }
    }

        Card {
            id: examplesCard
            objectName: "examplesCard"
            radius: 16
            width: list.implicitWidth + 44
            height: list.implicitHeight + 32

            Column {
                id: list
                x: 22
                y: 16
                spacing: 8

                Repeater {
                    model: hero.examples

                    delegate: Row {
                        id: example
                        required property var modelData
                        spacing: 10

                        Glyph {
                            width: 18
                            name: Store.kindSymbol(example.modelData.kind)
                            size: 12
                            color: Theme.accent
                            anchors.verticalCenter: parent.verticalCenter
                        }
                        Text {
                            width: 80
                            text: Store.kindTitle(example.modelData.kind)
                            font.family: Theme.font
                            font.pixelSize: 12
                            font.weight: Font.DemiBold
                            color: Theme.text
                            anchors.verticalCenter: parent.verticalCenter
                        }
                        Text {
                            text: example.modelData.text
                            font.family: Theme.font
                            font.pointSize: 11.5 * 0.75
                            font.weight: Font.Medium
                            color: Theme.muted
                            anchors.verticalCenter: parent.verticalCenter
                        }
                    }
                }
            }
        }
    }
}
