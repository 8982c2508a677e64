import QtQuick
import Lumatra

// The window. This folder holds the QML module "Lumatra": the window (Main), its one
// view (ContentView) and the parts that view is made of — the header, the ffmpeg
// warning, the drop area, the bulk bar, the job rows and their menus, the batch strip,
// the notice, the footer, the file panel and the quit dialog — over the C++ Store.
Window {
    id: window
    width: 1000
    height: 680
    minimumWidth: 820
    minimumHeight: 560
    visible: true
    // How the batch goes, or how it ended, is seen in the task bar too.
    title: Store.windowTitle
    color: Theme.background

    // The controls' own parts (menus, tooltips, the file panels) follow the window's
    // palette: make it the theme's, whatever the desktop says.
    palette.window: Theme.surface
    palette.windowText: Theme.text
    palette.base: Theme.background
    palette.alternateBase: Theme.surfaceRaised
    palette.text: Theme.text
    palette.button: Theme.surfaceRaised
    palette.buttonText: Theme.text
    palette.brightText: "white"
    palette.light: Qt.lighter(Theme.surfaceRaised, 1.6)
    palette.midlight: Qt.lighter(Theme.surfaceRaised, 1.3)
    palette.mid: Theme.lineStrong
    palette.dark: Theme.surface
    palette.shadow: "black"
    palette.highlight: Theme.accent
    palette.highlightedText: "white"
    palette.toolTipBase: Theme.surfaceRaised
    palette.toolTipText: Theme.text
    palette.placeholderText: Theme.muted
    palette.link: Theme.accentGlow
    palette.disabled.windowText: Theme.muted
    palette.disabled.text: Theme.muted
    palette.disabled.buttonText: Theme.muted

    // The end of a batch in a window the user is not looking at is told by the desktop.
    Connections {
        target: Store
        function onBatchFinished() {
            if (!window.active) Store.notifyBatchEnd()
        }
    }
    // Results may have been moved or deleted while the user was elsewhere.
    property bool wasAway: false
    onActiveChanged: {
        if (!active) wasAway = true
        else if (wasAway) Store.checkResults()
    }

    // Closing the window quits; while files convert, the user is asked first.
    onClosing: (close) => {
        if (!Lifecycle.requestQuit()) close.accepted = false
    }

    ContentView {
        objectName: "contentView"
        anchors.fill: parent
    }
}
