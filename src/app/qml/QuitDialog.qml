import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Lumatra

// Asked when the user quits while files convert. "Выйти" stops the conversion and quits;
// "Остаться" (or Escape) changes nothing.
Popup {
    id: dialog

    signal leave

    anchors.centerIn: Overlay.overlay
    width: 380
    modal: true
    dim: true
    focus: true
    padding: 22
    closePolicy: Popup.CloseOnEscape

    Overlay.modal: Rectangle { color: Theme.alpha("black", 0.55) }

    background: Surface {
        radius: 14
        color: Theme.surfaceRaised
        borderWidth: 1
        borderColor: Theme.lineStrong
        shadowColor: Theme.alpha("black", 0.55)
        shadowBlur: 18
        shadowY: 10
    }

    onOpened: leaveButton.forceActiveFocus(Qt.TabFocusReason)

    contentItem: ColumnLayout {
        spacing: 10

        Text {
            objectName: "quitTitle"
            text: "Идёт конвертация"
            font.family: Theme.font
            font.pixelSize: 16
            font.weight: Font.Bold
            color: Theme.text
        }
        Text {
            Layout.fillWidth: true
            text: "Если выйти сейчас, незавершённые файлы будут отменены."
            wrapMode: Text.WordWrap
            font.family: Theme.font
            font.pixelSize: 13
            color: Theme.muted
        }
        RowLayout {
            Layout.topMargin: 10
            Layout.alignment: Qt.AlignRight
            spacing: 10

            PillButtonStyle {
                id: stayButton
                objectName: "stayButton"
                text: "Остаться"
                KeyNavigation.right: leaveButton
                onClicked: dialog.close()
            }
            PillButtonStyle {
                id: leaveButton
                objectName: "leaveButton"
                filled: true
                text: "Выйти"
                KeyNavigation.left: stayButton
                onClicked: {
                    dialog.close()
                    dialog.leave()
                }
            }
        }
    }
}
