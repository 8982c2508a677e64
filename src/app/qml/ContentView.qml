pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Lumatra

// The whole window: header, ffmpeg warning, the drop area or the job list with its
// bulk bar, and the footer. Everything shown comes from the store; files dropped
// anywhere on it are added.
Item {
    id: view

    /// A drag carrying local files hovers over the window.
    property bool isTargeted: false
    readonly property bool hasJobs: Store.jobs.count > 0
    /// The row the keyboard works on (arrows, Delete), or -1.
    property int selectedRow: -1
    /// A modal panel or dialog is up: the window's own shortcuts rest meanwhile.
    readonly property bool dialogOpen: openPanel.visible || folderPanel.visible
                                       || quitDialog.visible || portalShade.visible
    readonly property alias jobList: list
    /// The window is too narrow for every footer button's text next to the whole
    /// quality selector: "Остановить" shows its symbol only.
    readonly property bool narrow: width < 980
    /// The side margin of the content: 24, and more on a wide window, so that rows and
    /// bars are at most about 1,100 wide, centred.
    readonly property real side: Math.max(24, (width - 1100) / 2)
    /// The bulk bar's height as shown. It follows the bar (shown while more than one
    /// job of a kind is ready) only on the user's own changes of the list: a batch that
    /// starts or ends leaves it as it is, dimmed while its chips have nothing to act on,
    /// so the rows never move then. A change the user made with the pointer on the list
    /// waits until the pointer leaves it.
    property real bulkHeight: 0
    readonly property real bulkWanted: Store.bulkKinds.length > 0 && Store.readyCount > 1
                                       ? bulkBar.implicitHeight : 0
    readonly property bool pointerOverList: listHover.hovered
    property bool bulkSettlePending: false
    onBulkWantedChanged: {
        // Jobs that start or end in a batch change what is ready, not the user.
        if (!Store.busy) requestBulkSettle()
    }
    onPointerOverListChanged: if (!pointerOverList && bulkSettlePending && !Store.busy) settleBulk()
    property var bulkShown: Store.bulkKinds
    readonly property bool bulkHeld: Store.bulkKinds.length === 0 && bulkHeight > 0
    Connections {
        target: Store
        function onBulkChanged() {
            if (Store.bulkKinds.length > 0) view.bulkShown = Store.bulkKinds
        }
        function onBusyChanged() {
            // An ended batch has nothing left to follow: no wake-up after it.
            if (!Store.busy) {
                followClock.stop()
                return
            }
            view.userScrolled = false
            // A change still waiting for the pointer to leave waits for the user's next
            // one: the rows stay put while the batch runs.
            view.bulkSettlePending = false
        }
        function onActiveRowChanged() { if (!followClock.running) followClock.start() }
    }
    Connections {
        target: Store.jobs
        // Rows added or removed: the user's change.
        function onCountChanged() { view.requestBulkSettle() }
    }
    function requestBulkSettle() {
        bulkSettlePending = true
        if (!pointerOverList) settleBulk()
    }
    function settleBulk() {
        bulkSettlePending = false
        bulkHeight = bulkWanted
        if (Store.bulkKinds.length > 0) bulkShown = Store.bulkKinds
    }
    Component.onCompleted: settleBulk()

    /// The user moved the list during the batch: it no longer follows the running rows.
    property bool userScrolled: false
    // At most once a second: a batch of quick jobs would otherwise scroll the list, and
    // make and paint new rows, on every step.
    Timer {
        id: followClock
        interval: 1000
        onTriggered: view.followBatch()
    }
    /// Keeps the first running row in view while a batch runs, unless the user scrolled
    /// the list or the pointer rests on it (nothing moves under the pointer).
    function followBatch() {
        if (!Store.busy || userScrolled || pointerOverList || Store.activeRow < 0) return
        list.positionViewAtIndex(Math.min(Store.activeRow + 1, list.count - 1), ListView.Contain)
        list.positionViewAtIndex(Store.activeRow, ListView.Contain)
    }

    /// The keyboard focus went into a row (Tab, a menu that closed): that row becomes the
    /// selected one and is brought into view.
    readonly property Item focusItem: Window.activeFocusItem
    onFocusItemChanged: {
        for (let node = focusItem; node && node !== list; node = node.parent) {
            if (node.isJobRow === true) {
                selectedRow = node.index
                list.positionViewAtIndex(node.index, ListView.Contain)
                return
            }
        }
    }

    /// F6 and Shift+F6: the bulk bar, the list and the footer, in turn.
    function cycleRegion(step) {
        const regions = []
        if (bulkBar.visible && !bulkHeld && bulkBar.canFocus) regions.push(bulkBar)
        if (list.count > 0) regions.push(list)
        regions.push(footer)
        let current = -1
        for (let node = focusItem; node && current < 0; node = node.parent)
            current = regions.indexOf(node)
        const next = current < 0 ? (step > 0 ? 0 : regions.length - 1)
                                 : (current + step + regions.length) % regions.length
        const region = regions[next]
        if (region === bulkBar) bulkBar.focusFirst()
        else if (region === list) list.forceActiveFocus(Qt.TabFocusReason)
        else footer.focusFirst()
    }
    Shortcut {
        sequence: "F6"
        enabled: view.hasJobs && !view.dialogOpen
        onActivated: view.cycleRegion(1)
    }
    Shortcut {
        sequence: "Shift+F6"
        enabled: view.hasJobs && !view.dialogOpen
        onActivated: view.cycleRegion(-1)
    }

    /// «К ошибке»: selects the next failed row and brings it into view.
    function showNextFailed() {
        const row = Store.nextFailedRow(selectedRow)
        if (row < 0) return
        userScrolled = true
        list.forceActiveFocus(Qt.TabFocusReason)
        selectRow(row)
    }

    implicitWidth: 1000
    implicitHeight: 680

    /// The local files among dropped URLs, in the drop's order.
    function localFiles(urls) {
        const files = []
        for (const url of urls) {
            if (url.toString().startsWith("file:")) files.push(url)
        }
        return files
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    ColumnLayout {
        id: stack
        anchors.fill: parent
        spacing: 0

        AppMenuBar {
            objectName: "menuBar"
            Layout.fillWidth: true
            actionsEnabled: !view.dialogOpen
        }

        WindowHeader {
            hasJobs: view.hasJobs
            side: view.side
        }

        FfmpegWarning { side: view.side }

        // Main area: the drop area while the list is empty, else the bulk bar and list.
        Item {
            id: mainArea
            Layout.fillWidth: true
            Layout.fillHeight: true

            DropHero {
                objectName: "dropHero"
                anchors.fill: parent
                anchors.margins: 28
                isTargeted: view.isTargeted
                opacity: view.hasJobs ? 0 : 1
                visible: opacity > 0
                onAction: Store.openPanel()

                Behavior on opacity {
                    SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.005 }
                }
            }

            ColumnLayout {
                anchors.fill: parent
                spacing: 0
                opacity: view.hasJobs ? 1 : 0
                visible: opacity > 0

                Behavior on opacity {
                    SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.005 }
                }

                HoverHandler { id: listHover }

                BulkBar {
                    id: bulkBar
                    objectName: "bulkBar"
                    Layout.fillWidth: true
                    // The list keeps room for three rows; the bar scrolls beyond that.
                    Layout.maximumHeight: heightWithin(Math.max(51, mainArea.height - 3 * 64 - 2 * 10 - 28))
                    Layout.preferredHeight: view.bulkHeight
                    visible: view.bulkHeight > 0
                    side: view.side
                    kinds: view.bulkShown
                    enabled: !view.bulkHeld
                    opacity: view.bulkHeld ? 0.35 : 1
                }

                ListView {
                    id: list
                    objectName: "jobList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    model: Store.jobs
                    spacing: 10
                    topMargin: 14
                    bottomMargin: 14
                    // No current row: the view would drop a removed current row at once,
                    // without its fade-out.
                    currentIndex: -1
                    boundsBehavior: Flickable.StopAtBounds
                    ScrollBar.vertical: ScrollBar {
                        policy: ScrollBar.AsNeeded
                        onPressedChanged: if (pressed && Store.busy) view.userScrolled = true
                    }
                    activeFocusOnTab: true
                    keyNavigationEnabled: false

                    // Focus on the list itself (not on a control of a row) selects a row.
                    onActiveFocusChanged: {
                        if (activeFocus && view.selectedRow < 0 && count > 0
                                && view.focusItem === list) view.selectRow(0)
                    }
                    onMovementStarted: if (Store.busy) view.userScrolled = true
                    // A smaller window keeps the row the keyboard is on in view.
                    onHeightChanged: {
                        if (activeFocus && view.selectedRow >= 0)
                            positionViewAtIndex(view.selectedRow, ListView.Contain)
                    }
                    Keys.onUpPressed: view.selectRow(Math.max(0, view.selectedRow - 1))
                    Keys.onDownPressed: view.selectRow(Math.min(count - 1, view.selectedRow + 1))
                    Keys.onPressed: (event) => {
                        if (event.key === Qt.Key_Delete || event.key === Qt.Key_Backspace) {
                            view.removeSelected()
                        } else if (event.key === Qt.Key_Home) {
                            view.selectRow(0)
                        } else if (event.key === Qt.Key_End) {
                            view.selectRow(count - 1)
                        } else if (event.key === Qt.Key_Space || event.key === Qt.Key_Return
                                   || event.key === Qt.Key_Enter) {
                            if (event.modifiers & Qt.ControlModifier) return
                            const row = list.itemAtIndex(view.selectedRow)
                            // Enter opens a done row's result; Space its format menu.
                            if (row && event.key === Qt.Key_Space) row.openFormatMenu()
                            else if (row) row.activate()
                        } else if (event.key === Qt.Key_Escape && view.selectedRow >= 0) {
                            view.selectedRow = -1
                        } else {
                            return
                        }
                        event.accepted = true
                    }

                    delegate: JobRow {
                        id: jobRow
                        required property int index
                        width: list.width - 2 * view.side
                        // The view's transitions set x when they end, which would break a
                        // plain binding: this one is applied again whenever the margin
                        // changes.
                        Binding {
                            target: jobRow
                            property: "x"
                            value: view.side
                            restoreMode: Binding.RestoreNone
                        }
                        selected: list.activeFocus && view.selectedRow === index
                        onPicked: {
                            view.selectedRow = index
                            list.forceActiveFocus(Qt.MouseFocusReason)
                        }

                        // A row that goes fades out while shrinking a little; the view
                        // keeps it until then.
                        ListView.onRemove: fadeOut.start()

                        SequentialAnimation {
                            id: fadeOut
                            PropertyAction { target: jobRow; property: "ListView.delayRemove"; value: true }
                            ParallelAnimation {
                                SpringAnimation {
                                    target: jobRow; property: "opacity"; to: 0
                                    spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.01
                                }
                                SpringAnimation {
                                    target: jobRow; property: "scale"; to: 0.96
                                    spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.002
                                }
                            }
                            PropertyAction { target: jobRow; property: "ListView.delayRemove"; value: false }
                        }
                    }

                    add: Transition {
                        SpringAnimation {
                            property: "opacity"; from: 0; to: 1
                            spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.005
                        }
                        SpringAnimation {
                            property: "y"; from: list.height + list.contentY
                            spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.25
                        }
                    }
                    displaced: Transition {
                        id: displacement
                        SpringAnimation {
                            property: "y"
                            spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.25
                        }
                        // A row caught mid-insertion still arrives fully visible; a row on
                        // its way out keeps going.
                        NumberAnimation {
                            property: "opacity"; duration: 150
                            to: displacement.ViewTransition.item?.ListView.delayRemove ? 0 : 1
                        }
                        NumberAnimation {
                            property: "scale"; duration: 150
                            to: displacement.ViewTransition.item?.ListView.delayRemove ? 0.96 : 1
                        }
                    }
                }
            }
        }
        BatchStrip {
            hasJobs: view.hasJobs
            side: view.side
            onNextFailedRequested: view.showNextFailed()
        }

        NoticeBar { side: view.side }

        WindowFooter {
            id: footer
            hasJobs: view.hasJobs
            side: view.side
            narrow: view.narrow
        }
    }

    // Ctrl+Return, Ctrl+O and Ctrl+Q belong to the menu bar's actions; the keypad's
    // Enter joins them here.
    Shortcut {
        sequence: "Ctrl+Enter"
        enabled: view.hasJobs && Store.canConvert && !view.dialogOpen
        onActivated: Store.convertAll()
    }

    /// Moves the keyboard's row selection and brings the row into view.
    function selectRow(row) {
        if (list.count === 0) {
            selectedRow = -1
            return
        }
        selectedRow = Math.max(0, Math.min(list.count - 1, row))
        // Moving through the rows during a batch ends following the running ones.
        if (Store.busy) userScrolled = true
        list.positionViewAtIndex(selectedRow, ListView.Contain)
    }

    /// Delete and Backspace: removes the selected row where its × would (not while it
    /// converts or waits in the queue); the selection stays at the same place.
    function removeSelected() {
        if (selectedRow < 0 || selectedRow >= list.count) return
        const job = Store.jobs.jobAt(selectedRow)
        if (!job || job.status === Job.Running || job.status === Job.Queued) return
        Store.remove(job)
        selectedRow = Math.min(selectedRow, Store.jobs.count - 1)
    }

    DropArea {
        id: drop
        objectName: "dropArea"
        anchors.fill: parent

        onEntered: (drag) => {
            if (!drag.hasUrls || view.localFiles(drag.urls).length === 0) {
                drag.accepted = false
                return
            }
            drag.accept(Qt.CopyAction)
            view.isTargeted = true
        }
        onExited: view.isTargeted = false
        onDropped: (dropped) => {
            view.isTargeted = false
            const files = view.localFiles(dropped.urls)
            if (files.length === 0) return
            dropped.accept(Qt.CopyAction)
            Store.add(files)
        }
    }

    // The drop frame over a non-empty window; it lets the pointer and the drop through.
    Surface {
        objectName: "dropFrame"
        anchors.fill: parent
        anchors.margins: 10
        radius: 20
        opacity: view.isTargeted && view.hasJobs ? 1 : 0
        visible: opacity > 0
        color: Theme.alpha(Theme.accent, 0.06)
        accentBorder: true
        borderWidth: 2
        dash: 8
        gap: 6

        Behavior on opacity {
            NumberAnimation { duration: 150; easing.type: Easing.OutQuad }
        }
    }

    FilePanel {
        id: openPanel
        objectName: "openPanel"
        title: "Добавить файлы"
        acceptLabel: "Добавить"
        onChosen: (urls) => Store.add(urls)
    }

    FilePanel {
        id: folderPanel
        objectName: "folderPanel"
        foldersOnly: true
        title: "Папка для результатов"
        acceptLabel: "Сохранять сюда"
        startFolder: Store.outputDirectoryPath
        onChosen: (urls) => Store.outputDirectory = urls[0]
    }

    QuitDialog {
        id: quitDialog
        objectName: "quitDialog"
        onLeave: Lifecycle.quitAfterStopping()
    }

    // While the desktop's own file dialog is up, the window takes no clicks.
    Popup {
        id: portalShade
        objectName: "portalShade"
        property bool forFolder: false
        parent: Overlay.overlay
        modal: true
        dim: true
        closePolicy: Popup.NoAutoClose
        width: 0
        height: 0
        background: Item {}
        Overlay.modal: Rectangle { color: Theme.alpha("black", 0.55) }
    }

    /// The desktop portal's dialog where one runs, the window's own panel otherwise.
    function chooseFiles(forFolder) {
        if (dialogOpen) return
        if (Portal.available) {
            portalShade.forFolder = forFolder
            portalShade.open()
            Portal.choose(forFolder ? "Папка для результатов" : "Добавить файлы",
                          forFolder ? "Сохранять сюда" : "Добавить", forFolder, view.Window.window)
            return
        }
        if (forFolder) folderPanel.open()
        else openPanel.open()
    }

    Connections {
        target: Portal
        function onChosen(urls) {
            portalShade.close()
            if (urls.length === 0) return
            if (portalShade.forFolder) Store.outputDirectory = urls[0]
            else Store.add(urls)
        }
        function onCancelled() { portalShade.close() }
        function onFailed() {
            portalShade.close()
            if (portalShade.forFolder) folderPanel.open()
            else openPanel.open()
        }
    }

    Connections {
        target: Lifecycle
        function onConfirmationNeeded() { quitDialog.open() }
    }

    Connections {
        target: Store
        function onOpenPanelRequested() { view.chooseFiles(false) }
        function onOutputDirectoryPanelRequested() { view.chooseFiles(true) }
    }
}
