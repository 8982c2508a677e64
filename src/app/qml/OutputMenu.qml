import QtQuick
import QtQuick.Controls.Basic
import Lumatra

// Where results go: next to each source, or a chosen folder.
Item {
    id: root

    readonly property bool hasFolder: Store.outputDirectoryName !== ""
    readonly property alias menu: menu

    implicitWidth: face.implicitWidth + 24
    implicitHeight: 34
    activeFocusOnTab: true
    Keys.onSpacePressed: root.openMenu()
    Keys.onReturnPressed: root.openMenu()
    Keys.onEnterPressed: root.openMenu()
    Keys.onDownPressed: root.openMenu()

    function openMenu() {
        menu.popup(root, 0, root.height + 4)
        menu.currentIndex = 0
    }

    FocusRing { shown: root.activeFocus }

    Surface {
        anchors.fill: parent
        radius: -1
        color: Theme.surfaceRaised
        borderWidth: 1
        borderColor: Theme.lineStrong
    }

    Row {
        id: face
        anchors.centerIn: parent
        spacing: 6

        Glyph {
            name: root.hasFolder ? "folder" : "arrow.turn.down.right"
            size: 12
            color: Theme.text
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            objectName: "outputLabel"
            text: root.hasFolder ? Store.outputDirectoryName : "Рядом с файлом"
            font.family: Theme.font
            font.pixelSize: 12
            font.weight: Font.DemiBold
            color: Theme.text
            elide: Text.ElideMiddle
            width: Math.min(implicitWidth, 220)
            anchors.verticalCenter: parent.verticalCenter
        }
        Glyph {
            name: "chevron.down"
            size: 9
            font.weight: Font.Bold
            color: Theme.muted
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: menu.popup(root, 0, root.height + 4)
    }

    // The whole folder path, which the button shortens to its last part.
    ToolTip.visible: (area.containsMouse || root.activeFocus) && !menu.visible
    ToolTip.text: root.hasFolder ? Store.outputDirectoryPath
                                 : "Результаты сохраняются рядом с исходными файлами"
    ToolTip.delay: 600

    // A menu item with the check mark of the current choice in front of its text.
    component ChoiceItem: MenuItem {
        id: choice
        property bool current: false
        leftPadding: 30
        Glyph {
            objectName: "checkMark"
            visible: choice.current
            x: 10
            anchors.verticalCenter: parent.verticalCenter
            name: "checkmark"
            size: 12
            font.weight: Font.Bold
            color: Theme.accentGlow
        }
    }

    ThemedMenu {
        id: menu

        ChoiceItem {
            objectName: "besideItem"
            text: "Рядом с исходным файлом"
            current: !root.hasFolder
            onTriggered: Store.outputDirectory = ""
        }
        ChoiceItem {
            objectName: "folderItem"
            visible: root.hasFolder
            height: visible ? implicitHeight : 0
            current: true
            text: "В папку «" + Store.outputDirectoryName + "»"
        }
        ChoiceItem {
            objectName: "chooseItem"
            text: "Выбрать папку…"
            onTriggered: Store.chooseOutputDirectory()
        }
        MenuSeparator {
            visible: root.hasFolder
            height: visible ? implicitHeight : 0
        }
        ChoiceItem {
            objectName: "showFolderItem"
            visible: root.hasFolder
            height: visible ? implicitHeight : 0
            text: "Показать «" + Store.outputDirectoryName + "» в файловом менеджере"
            onTriggered: Store.openFolder(Store.outputDirectory)
        }
    }
}
