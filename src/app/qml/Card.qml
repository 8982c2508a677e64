import QtQuick
import Lumatra

// The panel decoration: a rounded card with a soft drop shadow and a hairline border
// that turns into the accent gradient while highlighted. Children are the content.
Item {
    id: card

    property real radius: 14
    property bool highlighted: false
    default property alias content: holder.data

    Surface {
        anchors.fill: parent
        radius: card.radius
        gradientTop: Theme.surfaceRaised
        gradientBottom: Theme.surface
        shadowColor: Theme.alpha("black", 0.55)
        shadowBlur: 18
        shadowY: 10
    }

    Item {
        id: holder
        anchors.fill: parent
    }

    Surface {
        anchors.fill: parent
        radius: card.radius
        accentBorder: card.highlighted
        borderWidth: card.highlighted ? 1.4 : 1
        borderTop: card.highlighted ? "transparent" : Theme.alpha("white", 0.16)
        borderBottom: card.highlighted ? "transparent" : Theme.alpha("white", 0.04)
    }
}
