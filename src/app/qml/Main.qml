import QtQuick
import Lumatra

Window {
    width: 1000
    height: 680
    minimumWidth: 820
    minimumHeight: 560
    visible: true
    title: "Lumatra"
    color: Theme.background

    ContentView {
        objectName: "contentView"
        anchors.fill: parent
    }
}
