import QtQuick
import QtQuick.Controls.Basic
import Lumatra

// A context or pop-up menu in the theme's look, as wide as its longest item.
Menu {
    id: menu

    width: {
        let widest = 200
        for (let i = 0; i < count; ++i) {
            const item = itemAt(i)
            if (item && item.visible && item.contentItem)
                widest = Math.max(widest, item.contentItem.implicitWidth + item.leftPadding + item.rightPadding)
        }
        return widest + leftPadding + rightPadding
    }
    padding: 6
    margins: 8

    background: Surface {
        implicitWidth: 200
        implicitHeight: 40
        radius: 10
        color: Theme.surfaceRaised
        borderWidth: 1
        borderColor: Theme.lineStrong
        shadowColor: Theme.alpha("black", 0.55)
        shadowBlur: 18
        shadowY: 8
    }
}
