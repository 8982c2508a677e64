import QtQuick
import Lumatra

// A capsule of equal segments with an accent pill behind the selected one; the pill
// slides to a newly selected segment. The selection lives with the caller: a click
// reports the segment's value through `activated`.
Item {
    id: root

    /// [{value, title}], one segment each, left to right.
    property var options: []
    property var selection
    signal activated(var value)

    readonly property int selectedIndex: {
        for (let i = 0; i < options.length; ++i) {
            if (options[i].value === selection) return i
        }
        return -1
    }
    readonly property real segmentWidth: options.length > 0
        ? (width - 6 - 2 * (options.length - 1)) / options.length : 0

    implicitHeight: 34
    implicitWidth: 360
    activeFocusOnTab: true

    // Left and right move the selection, like a click on the neighbouring segment.
    Keys.onLeftPressed: if (selectedIndex > 0) activated(options[selectedIndex - 1].value)
    Keys.onRightPressed: {
        if (selectedIndex < options.length - 1) activated(options[Math.max(0, selectedIndex + 1)].value)
    }

    FocusRing { shown: root.activeFocus }

    Surface {
        anchors.fill: parent
        radius: -1
        color: Theme.alpha("black", 0.5)
    }

    Surface {
        id: pill
        objectName: "pill"
        visible: root.selectedIndex >= 0
        x: 3 + Math.max(0, root.selectedIndex) * (root.segmentWidth + 2)
        y: 3
        width: root.segmentWidth
        height: 28
        radius: -1
        accentFill: true
        shadowColor: Theme.alpha(Theme.accent, 0.4)
        shadowBlur: 8

        Behavior on x {
            SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.25 }
        }
        Behavior on width {
            SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.25 }
        }
    }

    Row {
        x: 3
        y: 3
        spacing: 2

        Repeater {
            model: root.options

            delegate: Item {
                id: segment
                required property var modelData
                required property int index
                objectName: "segment" + index
                width: root.segmentWidth
                height: 28

                Text {
                    anchors.centerIn: parent
                    width: parent.width - 24
                    horizontalAlignment: Text.AlignHCenter
                    elide: Text.ElideRight
                    text: segment.modelData.title
                    font.family: Theme.font
                    font.pixelSize: 12
                    font.weight: Font.DemiBold
                    color: segment.index === root.selectedIndex ? "white" : Theme.muted
                }

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: root.activated(segment.modelData.value)
                }
            }
        }
    }

    Surface {
        anchors.fill: parent
        radius: -1
        borderWidth: 1
        borderColor: Theme.line
    }
}
