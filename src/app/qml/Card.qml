import QtQuick
import Lumatra

// The panel decoration: a rounded card with a soft drop shadow and a hairline border
// that turns into the accent gradient while highlighted. Children are the content.
Item {
    id: card

    property real radius: 14
    property bool highlighted: false
    default property alias content: holder.data

    // The outline of either state; the one not shown is painted ahead in the
    // background, so that a row starting or ending its conversion costs no picture.
    readonly property var plainOutline: ({
        accentBorder: false,
        borderWidth: 1,
        borderTop: Theme.alpha("white", 0.16),
        borderBottom: Theme.alpha("white", 0.04)
    })
    readonly property var accentOutline: ({
        accentBorder: true,
        borderWidth: 1.4,
        borderTop: "transparent",
        borderBottom: "transparent"
    })
    readonly property var outline: highlighted ? accentOutline : plainOutline

    // Fill, outline and shadow in one picture: the content keeps clear of the edge, and
    // a list of rows draws one picture less per row in every frame.
    Surface {
        anchors.fill: parent
        radius: card.radius
        gradientTop: Theme.surfaceRaised
        gradientBottom: Theme.surface
        shadowColor: Theme.alpha("black", 0.55)
        shadowBlur: 18
        shadowY: 10
        accentBorder: card.outline.accentBorder
        borderWidth: card.outline.borderWidth
        borderTop: card.outline.borderTop
        borderBottom: card.outline.borderBottom
        preparedLook: card.highlighted ? card.plainOutline : card.accentOutline
    }

    Item {
        id: holder
        anchors.fill: parent
    }
}
