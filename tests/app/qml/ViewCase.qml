import QtQuick
import QtTest
import Lumatra

// A test case over a fresh ContentView of 1000 × 680 on an empty store, with the
// helpers the view tests share.
TestCase {
    when: windowShown

    property var view
    property alias openSpy: spy

    SignalSpy { id: spy; target: Store; signalName: "openPanelRequested" }
    Component { id: viewComponent; ContentView { width: 1000; height: 680 } }

    function init() {
        stage.clear()
        Store.quality = "balanced"
        Store.outputDirectory = ""
        openSpy.clear()
        view = createTemporaryObject(viewComponent, parent)
        // The pointer rests on the header unless a test moves it.
        mouseMove(view, 990, 5)
    }
    function cleanup() { stage.clear() }

    function part(name) { return findChild(view, name) }
    function settle() { wait(700) } // springs and fades come to rest
    function focused() { return view.Window.activeFocusItem }

    /// Visible descendants whose object name starts with `prefix`. Rows and chips that a
    /// store change replaced may linger until deleted; they are hidden.
    function descendants(item, prefix) {
        const found = []
        const walk = node => {
            for (const child of Array.from(node.children ?? [])) {
                if (child.visible && child.objectName.startsWith(prefix)) found.push(child)
                walk(child)
            }
        }
        walk(item)
        return found
    }

    function rectOf(item) {
        const p = item.mapToItem(view, 0, 0)
        return { x: p.x, y: p.y, w: item.width * item.scale, h: item.height * item.scale,
                 name: item.objectName }
    }
    function overlap(a, b) {
        return a.x + 0.5 < b.x + b.w && b.x + 0.5 < a.x + a.w
            && a.y + 0.5 < b.y + b.h && b.y + 0.5 < a.y + a.h
    }
}
