import QtQuick
import Lumatra

// One symbol of the Material Icons font, named the design's way or by its ligature.
Text {
    property string name
    property real size: 13

    text: Theme.symbol(name)
    font.family: Theme.iconFont
    font.pixelSize: Math.round(size * 1.2)
    color: Theme.text
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
}
