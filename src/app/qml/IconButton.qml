import QtQuick
import QtQuick.Controls.Basic
import Lumatra

// A small round button with one symbol; lights up while the pointer is over it.
Item {
    id: root

    property string symbol
    property string help
    readonly property bool hovered: area.containsMouse
    signal clicked

    implicitWidth: 30
    implicitHeight: 30
    activeFocusOnTab: true
    Keys.onSpacePressed: root.clicked()
    Keys.onReturnPressed: root.clicked()
    Keys.onEnterPressed: root.clicked()

    FocusRing { shown: root.activeFocus }

    Surface {
        anchors.fill: parent
        radius: -1
        color: root.hovered ? Theme.surfaceRaised : "transparent"
        borderWidth: 1
        borderColor: root.hovered ? Theme.lineStrong : Theme.line
    }

    Glyph {
        id: glyph
        anchors.centerIn: parent
        name: root.symbol
        size: 11
        font.weight: Font.Bold
        color: root.hovered ? Theme.text : Theme.muted
    }

    // A button hidden until a batch starts (or ends) shows its symbol at once.
    Component.onCompleted: Theme.prepareGlyphs(glyph.font, glyph.text)

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onPressed: root.tipDismissed = true
        // Only a real leave brings it back: a button hidden under the pointer (a job
        // that started) and shown again is no new visit.
        onContainsMouseChanged: if (!containsMouse && root.visible) root.tipDismissed = false
        onClicked: root.clicked()
    }

    /// A click hides the tooltip until the pointer comes back.
    property bool tipDismissed: false
    readonly property bool tipShown: ((hovered && !tipDismissed) || activeFocus) && help !== ""
    ToolTip.visible: tipShown
    ToolTip.text: help
    ToolTip.delay: 600
}
