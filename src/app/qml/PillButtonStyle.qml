import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Templates as T
import Lumatra

// A push button in the pill look: filled with the accent gradient or plain, in the
// normal (34 high) or large (46 high) size.
T.Button {
    id: button

    property bool filled: false
    property bool large: false
    property string symbol
    /// Tooltip, with the keyboard shortcut where there is one.
    property string help
    /// Only the symbol, in a circle; the text moves to the tooltip. For narrow windows.
    property bool iconOnly: false
    /// A title it may soon take: its pictures are painted ahead for that width.
    property string preparedText

    implicitHeight: large ? 46 : 34
    // Whole points: the width a layout gives it, so that its pictures painted ahead fit.
    implicitWidth: iconOnly ? implicitHeight
                            : Math.ceil(contentItem.implicitWidth + leftPadding + rightPadding)
    leftPadding: iconOnly ? 0 : large ? 24 : 16
    rightPadding: leftPadding
    opacity: enabled ? 1 : 0.4
    scale: pressed ? 0.96 : 1
    // Tab reaches it, a click does not take the focus; Space and Enter press it.
    focusPolicy: Qt.TabFocus
    Keys.onReturnPressed: button.clicked()
    Keys.onEnterPressed: button.clicked()

    /// A click hides the tooltip until the pointer comes back.
    property bool tipDismissed: false
    onPressed: tipDismissed = true
    onHoveredChanged: if (!hovered && visible) tipDismissed = false
    ToolTip.visible: ((hovered && !tipDismissed) || visualFocus) && ToolTip.text !== ""
    ToolTip.text: iconOnly ? (help !== "" ? text + " — " + help : text) : help
    ToolTip.delay: 600

    Behavior on scale {
        SpringAnimation { spring: Theme.pressSpring; damping: Theme.pressSpringDamping; epsilon: 0.002 }
    }

    font.family: Theme.font
    font.pixelSize: large ? 15 : 13
    font.weight: Font.DemiBold

    contentItem: Row {
        id: content
        spacing: 6
        // Centred in the circle when the text is left out.
        leftPadding: button.iconOnly ? (button.width - glyph.implicitWidth) / 2 : 0
        Glyph {
            id: glyph
            visible: button.symbol !== ""
            name: button.symbol
            size: button.font.pixelSize
            color: label.color
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            id: label
            visible: !button.iconOnly
            text: button.text
            font: button.font
            color: button.filled ? "white" : Theme.text
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    // A button hidden until a batch starts or ends (Stop, «Очистить готовые») shows its
    // title at once.
    Component.onCompleted: Theme.prepareGlyphs(label.font, button.text + button.preparedText)

    // Measures the title it may soon take, as the row above would lay it out.
    Text {
        id: preparedLabel
        visible: false
        text: button.preparedText
        font: button.font
    }

    FocusRing { shown: button.visualFocus }

    background: Surface {
        radius: -1
        accentFill: button.filled
        color: button.filled ? "transparent" : Theme.surfaceRaised
        shadowColor: button.filled ? Theme.alpha(Theme.accent, button.pressed ? 0.2 : 0.45) : "transparent"
        // The glow of the other state is ready for the press; a button that appears
        // with a batch (Stop) is ready before it does.
        preparedLook: button.filled
                      ? ({ shadowColor: Theme.alpha(Theme.accent, button.pressed ? 0.45 : 0.2) })
                      : ({})
        preparedWidth: button.iconOnly || button.preparedText === "" ? 0
                       : Math.ceil((glyph.visible ? glyph.implicitWidth + content.spacing : 0)
                                   + preparedLabel.implicitWidth + button.leftPadding + button.rightPadding)
        preparedWhileHidden: true
        shadowBlur: 14
        shadowY: 4
        borderWidth: button.filled ? 0.8 : 1
        borderColor: button.filled ? Theme.alpha("white", 0.25) : Theme.lineStrong
        overlayBorder: button.filled
    }
}
