import QtQuick
import Lumatra

// The keyboard focus mark around a control: an accent outline just outside its edge.
// Put it inside the control; `shown` is usually the control's keyboard focus.
Rectangle {
    id: ring

    property bool shown: false
    property real inset: -3

    anchors.fill: parent
    anchors.margins: inset
    radius: Math.min(width, height) / 2
    color: "transparent"
    border.width: 2
    border.color: Theme.accentGlow
    visible: shown
    z: 100
}
