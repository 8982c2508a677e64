import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Lumatra

// A small selectable format button of the bulk bar.
T.Button {
    id: chip

    property string format
    property string detail
    property bool selected: false
    /// The keyboard's mark of its row is on this chip.
    property bool keyMarked: false

    text: format.toUpperCase()
    implicitHeight: 26
    implicitWidth: label.implicitWidth + 22
    // Its row takes the keyboard focus and marks one chip at a time.
    focusPolicy: Qt.NoFocus

    contentItem: Text {
        id: label
        text: chip.text
        font.family: Theme.font
        font.pointSize: 11.5 * 0.75
        font.weight: Font.Bold
        color: chip.selected ? "white" : Theme.alpha(Theme.text, 0.85)
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }

    FocusRing { shown: chip.keyMarked }

    background: Surface {
        radius: -1
        accentFill: chip.selected
        color: chip.selected ? "transparent" : Theme.surfaceRaised
        borderWidth: chip.selected ? 0 : 1
        borderColor: Theme.line
        shadowColor: chip.selected ? Theme.alpha(Theme.accent, 0.4) : "transparent"
        shadowBlur: 6
    }

    /// A click hides the tooltip until the pointer comes back.
    property bool tipDismissed: false
    onPressed: tipDismissed = true
    onHoveredChanged: if (!hovered && visible) tipDismissed = false
    ToolTip.visible: ((hovered && !tipDismissed) || keyMarked) && detail !== ""
    ToolTip.text: detail
    ToolTip.delay: 600
}
