pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import Lumatra

// The target chip of a row and the grouped menu it opens. Choosing a format assigns it
// to the job (a finished job becomes ready again).
Item {
    id: root

    required property Job job
    /// The menu, made when it first opens: a list may hold a thousand rows, and the
    /// menu was a fifth of the making of each.
    property Popup menu: null

    implicitWidth: Math.max(96, face.implicitWidth + 28)
    implicitHeight: 32
    opacity: enabled ? 1 : 0.5
    activeFocusOnTab: true
    Keys.onSpacePressed: root.openMenu(true)
    Keys.onReturnPressed: root.openMenu(true)
    Keys.onEnterPressed: root.openMenu(true)

    /// The keyboard was last used on it: its focus ring shows.
    property bool byKeyboard: false
    /// A click hides the tooltip until the pointer comes back.
    property bool tipDismissed: false

    /// Opens the menu with the current target marked for the keyboard.
    function openMenu(viaKeyboard) {
        if (!enabled || !job) return
        byKeyboard = viaKeyboard === true
        if (!menu) menu = menuComponent.createObject(root) as Popup
        menu.open()
        menu.keyIndex = Math.max(0, menu.formats.indexOf(job.target))
    }

    /// The focus came back from a menu opened with the pointer: no ring for that.
    property bool pointerFocus: false
    onActiveFocusChanged: if (!activeFocus) pointerFocus = false

    FocusRing { shown: root.activeFocus && !root.pointerFocus }

    Surface {
        anchors.fill: parent
        radius: -1
        accentFill: true
        borderWidth: 0.8
        borderColor: Theme.alpha("white", 0.22)
        shadowColor: Theme.alpha(Theme.accent, 0.35)
        shadowBlur: 8
        shadowY: 2
    }

    Row {
        id: face
        anchors.centerIn: parent
        spacing: 6

        Text {
            objectName: "chipLabel"
            text: root.job?.targetLabel ?? ""
            font.family: Theme.font
            font.pointSize: 12.5 * 0.75
            font.weight: Font.ExtraBold
            color: "white"
            anchors.verticalCenter: parent.verticalCenter
        }
        Glyph {
            name: "chevron.down"
            size: 9
            font.weight: Font.Bold
            color: "white"
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onClicked: {
            root.tipDismissed = true
            root.openMenu(false)
        }
        onContainsMouseChanged: if (!containsMouse && root.visible) root.tipDismissed = false
    }

    ToolTip.visible: ((area.containsMouse && !root.tipDismissed) || (root.activeFocus && !root.pointerFocus))
                     && (root.menu === null || !root.menu.visible)
    ToolTip.text: job?.targetDetail ?? ""
    ToolTip.delay: 600

    Component {
        id: menuComponent

        Popup {
            id: popup
            y: root.height + 4
            x: root.width - width
            padding: 6
            margins: 8
            modal: false
            focus: true
            closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

            // The focus goes back to the chip that opened the menu, and with it the
            // row stays the selected one.
            onClosed: {
                root.pointerFocus = !root.byKeyboard
                root.forceActiveFocus(root.byKeyboard ? Qt.TabFocusReason : Qt.MouseFocusReason)
            }

            /// Every format of the menu in its order, and the one the keyboard marks.
            readonly property var formats: {
                const list = []
                if (visible && root.job) {
                    for (const group of root.job.menuGroups) {
                        for (const entry of group.formats) list.push(entry.format)
                    }
                }
                return list
            }
            property int keyIndex: -1

            function choose(format) {
                root.job.target = format
                popup.close()
            }

            background: Surface {
                radius: 10
                color: Theme.surfaceRaised
                borderWidth: 1
                borderColor: Theme.lineStrong
                shadowColor: Theme.alpha("black", 0.55)
                shadowBlur: 18
                shadowY: 8
            }

            contentItem: Column {
                spacing: 2
                focus: true
                Keys.onUpPressed: popup.keyIndex = Math.max(0, popup.keyIndex - 1)
                Keys.onDownPressed: popup.keyIndex = Math.min(popup.formats.length - 1, popup.keyIndex + 1)
                Keys.onReturnPressed: if (popup.keyIndex >= 0) popup.choose(popup.formats[popup.keyIndex])
                Keys.onEnterPressed: if (popup.keyIndex >= 0) popup.choose(popup.formats[popup.keyIndex])
                Keys.onSpacePressed: if (popup.keyIndex >= 0) popup.choose(popup.formats[popup.keyIndex])

                Repeater {
                    // Built afresh from the job whenever the menu opens.
                    model: popup.visible && root.job ? root.job.menuGroups : []

                    delegate: Column {
                        id: group
                        required property var modelData
                        required property int index
                        objectName: "group" + index
                        property string title: modelData.title
                        // Position of the group's first format in the whole menu.
                        readonly property int offset: {
                            let count = 0
                            const groups = root.job ? root.job.menuGroups : []
                            for (let i = 0; i < index && i < groups.length; ++i) count += groups[i].formats.length
                            return count
                        }
                        spacing: 0

                        Rectangle {
                            visible: group.index > 0
                            width: parent.width
                            height: 9
                            color: "transparent"
                            Rectangle {
                                anchors.verticalCenter: parent.verticalCenter
                                width: parent.width
                                height: 1
                                color: Theme.line
                            }
                        }

                        Text {
                            leftPadding: 10
                            topPadding: 4
                            bottomPadding: 4
                            text: group.title
                            font.family: Theme.font
                            font.pixelSize: 11
                            font.weight: Font.Bold
                            color: Theme.muted
                        }

                        Repeater {
                            model: group.modelData.formats

                            delegate: Rectangle {
                                id: item
                                required property var modelData
                                required property int index
                                objectName: "format_" + modelData.format
                                property string format: modelData.format
                                property string text: modelData.text
                                readonly property bool current: modelData.format === root.job?.target
                                width: Math.max(implicitWidth, popup.availableWidth)
                                implicitWidth: itemRow.implicitWidth + 20
                                height: 28
                                radius: 6
                                readonly property bool marked: hover.containsMouse
                                    || popup.keyIndex === group.offset + item.index
                                color: marked ? Theme.alpha(Theme.accent, 0.85) : "transparent"

                                Row {
                                    id: itemRow
                                    x: 10
                                    anchors.verticalCenter: parent.verticalCenter
                                    spacing: 6
                                    Glyph {
                                        name: "checkmark"
                                        size: 11
                                        width: 14
                                        opacity: item.current ? 1 : 0
                                        color: Theme.text
                                    }
                                    Text {
                                        text: item.text
                                        font.family: Theme.font
                                        font.pixelSize: 13
                                        color: Theme.text
                                    }
                                }

                                MouseArea {
                                    id: hover
                                    anchors.fill: parent
                                    hoverEnabled: true
                                    onClicked: popup.choose(item.format)
                                }
                            }
                        }
                    }
                }
            }
        }
    }
}
