import QtQuick
import Lumatra

// A small spaced-out caption above a footer control.
Text {
    font.family: Theme.font
    font.pixelSize: 9
    font.weight: Font.Bold
    font.letterSpacing: 1.2
    color: Theme.muted
}
