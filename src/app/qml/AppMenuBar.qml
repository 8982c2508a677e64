pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Lumatra

// The window's menu bar: the File menu with its keyboard shortcuts, which work with
// the menu closed as well.
MenuBar {
    id: bar

    /// False while a modal panel is up.
    property bool actionsEnabled: true

    background: Rectangle {
        implicitHeight: 28
        color: Theme.surface
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: Theme.line
        }
    }

    delegate: MenuBarItem {
        id: barItem
        implicitHeight: 28
        leftPadding: 12
        rightPadding: 12
        contentItem: Text {
            text: barItem.text.replace("&", "")
            font.family: Theme.font
            font.pixelSize: 12
            color: Theme.text
            verticalAlignment: Text.AlignVCenter
        }
        // Lit while its menu is open or the pointer is on it; the bar keeps its current
        // item after a menu closes, which should not look open.
        background: Rectangle {
            color: barItem.menu?.visible || barItem.hovered ? Theme.alpha(Theme.accent, 0.85)
                                                            : "transparent"
        }
    }

    ThemedMenu {
        objectName: "fileMenu"
        title: "&Файл"

        delegate: MenuItem {
            id: menuItem
            implicitHeight: 30
            contentItem: RowLayout {
                spacing: 24
                Text {
                    Layout.fillWidth: true
                    text: menuItem.text
                    font.family: Theme.font
                    font.pixelSize: 13
                    color: menuItem.enabled ? Theme.text : Theme.muted
                }
                Text {
                    text: menuItem.action?.shortcut ? menuItem.action.hint : ""
                    font.family: Theme.font
                    font.pixelSize: 12
                    color: Theme.muted
                }
            }
            background: Rectangle {
                radius: 6
                color: menuItem.highlighted ? Theme.alpha(Theme.accent, 0.85) : "transparent"
            }
        }

        ShortcutAction {
            objectName: "addFilesAction"
            text: "Добавить файлы…"
            shortcut: "Ctrl+O"
            hint: "Ctrl+O"
            enabled: bar.actionsEnabled
            onTriggered: Store.openPanel()
        }
        ShortcutAction {
            objectName: "convertAction"
            text: "Конвертировать"
            shortcut: "Ctrl+Return"
            hint: "Ctrl+Enter"
            enabled: bar.actionsEnabled && Store.canConvert
            onTriggered: Store.convertAll()
        }
        ShortcutAction {
            objectName: "retryFailedAction"
            text: "Повторить неудавшиеся"
            enabled: bar.actionsEnabled && Store.failedCount > 0
            onTriggered: Store.retryFailed()
        }
        ShortcutAction {
            objectName: "removeUnstartedAction"
            text: "Убрать неначатые"
            enabled: bar.actionsEnabled && (Store.readyCount > 0 || Store.pendingCount > 0)
            onTriggered: Store.removeUnstarted()
        }
        MenuSeparator {}
        ShortcutAction {
            objectName: "quitAction"
            text: "Выйти"
            shortcut: "Ctrl+Q"
            hint: "Ctrl+Q"
            enabled: bar.actionsEnabled
            onTriggered: Lifecycle.requestQuit()
        }
    }
}
