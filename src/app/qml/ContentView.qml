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
        else qualitySelector.forceActiveFocus(Qt.TabFocusReason)
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

        // Header
        RowLayout {
            objectName: "header"
            Layout.fillWidth: true
            Layout.leftMargin: view.side
            Layout.rightMargin: view.side
            Layout.topMargin: 18
            Layout.bottomMargin: 12
            spacing: 14

            Item {
                Layout.preferredWidth: 44
                Layout.preferredHeight: 44
                Surface {
                    anchors.fill: parent
                    anchors.margins: 2
                    radius: 10
                    shadowColor: Theme.alpha(Theme.accent, 0.35)
                    shadowBlur: 12
                }
                Image {
                    anchors.fill: parent
                    source: "qrc:/qt/qml/Lumatra/resources/lumatra.svg"
                    sourceSize: Qt.size(88, 88)
                    smooth: true
                }
            }

            ColumnLayout {
                spacing: 2
                Text {
                    text: "Lumatra"
                    font.family: Theme.font
                    font.pixelSize: 22
                    font.weight: Font.ExtraBold
                    font.letterSpacing: -0.4
                    color: Theme.text
                }
                Text {
                    text: "Музыка, видео, фото, документы — в любой формат"
                    font.family: Theme.font
                    font.pixelSize: 12
                    color: Theme.muted
                }
            }

            Item { Layout.fillWidth: true }

            // Tidying has its own place, far from «Остановить»: a late click on Stop
            // never lands on it.
            PillButtonStyle {
                objectName: "clearButton"
                visible: view.hasJobs && Store.hasFinished && !Store.busy
                text: "Очистить готовые"
                symbol: "clear_all"
                help: "Убрать из списка готовые, отменённые и неудачные"
                onClicked: Store.clearFinished()
            }

            PillButtonStyle {
                objectName: "addButton"
                visible: view.hasJobs
                symbol: "plus"
                text: "Добавить"
                help: "Добавить файлы и папки — Ctrl+O"
                onClicked: Store.openPanel()
            }
        }

        // ffmpeg warning
        Card {
            objectName: "ffmpegWarning"
            visible: Store.ffmpegMissing
            Layout.fillWidth: true
            Layout.leftMargin: view.side
            Layout.rightMargin: view.side
            Layout.bottomMargin: 8
            Layout.preferredHeight: warning.implicitHeight + 24
            radius: 12

            RowLayout {
                id: warning
                anchors.fill: parent
                anchors.margins: 12
                spacing: 10

                Glyph {
                    name: "exclamationmark.triangle.fill"
                    size: 13
                    color: Theme.accent
                }
                Text {
                    Layout.fillWidth: true
                    elide: Text.ElideRight
                    textFormat: Text.StyledText
                    text: "Для аудио и видео нужен ffmpeg. В Терминале: "
                          + "<font face=\"" + Theme.monoFont + "\" color=\"" + Theme.text + "\">"
                          + "sudo apt install ffmpeg</font>"
                    font.family: Theme.font
                    font.pixelSize: 12
                    color: Theme.muted
                }
                PillButtonStyle {
                    objectName: "recheckButton"
                    text: "Проверить снова"
                    onClicked: Store.checkFfmpeg()
                }
            }
        }

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
                    Layout.maximumHeight: Math.max(51, mainArea.height - 3 * 64 - 2 * 10 - 28)
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

        // How the batch goes while it runs, and how it ended afterwards, until the user's
        // next change. Below the list, so that the rows stay where they are.
        Item {
            id: batchStrip
            objectName: "batchStrip"
            readonly property bool ended: !Store.busy && Store.summary !== ""
            readonly property bool hasFailures: ended && Store.failedCount > 0
            Layout.fillWidth: true
            Layout.preferredHeight: 44
            visible: view.hasJobs && (Store.busy || ended)

            Rectangle {
                width: parent.width
                height: 1
                color: Theme.line
            }

            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: view.side
                anchors.rightMargin: view.side
                spacing: 10

                Glyph {
                    visible: batchStrip.ended
                    name: batchStrip.hasFailures ? "exclamationmark.circle.fill" : "checkmark.circle.fill"
                    size: 14
                    color: batchStrip.hasFailures ? Theme.accent : Theme.success
                }
                Text {
                    objectName: "batchText"
                    text: Store.busy ? Store.batchText : Store.summary
                    font.family: Theme.font
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    color: Theme.text
                }
                Text {
                    objectName: "qualityNote"
                    Layout.fillWidth: true
                    visible: Store.busy
                    text: Store.qualityNote !== "" ? "· Качество " + Store.qualityNote : ""
                    elide: Text.ElideRight
                    font.family: Theme.font
                    font.pixelSize: 12
                    color: Theme.muted
                }
                Item {
                    Layout.fillWidth: true
                    visible: !Store.busy
                }
                PillButtonStyle {
                    objectName: "nextFailedButton"
                    visible: batchStrip.hasFailures
                    symbol: "arrow_downward"
                    text: "К ошибке"
                    help: "Показать следующий файл с ошибкой"
                    onClicked: view.showNextFailed()
                }
                PillButtonStyle {
                    objectName: "retryFailedButton"
                    visible: batchStrip.hasFailures
                    symbol: "arrow.clockwise"
                    text: "Повторить неудавшиеся"
                    onClicked: Store.retryFailed()
                }
                IconButton {
                    objectName: "summaryClose"
                    visible: batchStrip.ended
                    symbol: "xmark"
                    help: "Скрыть итог"
                    onClicked: Store.dismissSummary()
                }
            }

            // The whole batch's progress, along the strip's bottom edge.
            Rectangle {
                objectName: "batchBar"
                visible: Store.busy
                x: view.side
                y: parent.height - 6
                width: parent.width - 2 * view.side
                height: 3
                radius: 1.5
                color: Theme.alpha(Theme.text, 0.08)
                Rectangle {
                    objectName: "batchBarFill"
                    width: parent.width * Store.batchProgress
                    height: parent.height
                    radius: parent.radius
                    color: Theme.accent
                }
            }
        }

        // What the window has to tell: skipped files, a file manager that did not answer,
        // an output folder that went away. In the layout, under the list: it never covers
        // a row.
        Item {
            id: notice
            objectName: "notice"
            visible: Store.notice !== ""
            Layout.fillWidth: true
            Layout.preferredHeight: noticeCard.height + 12

            Card {
                id: noticeCard
                radius: 12
                x: view.side
                y: 6
                width: parent.width - 2 * view.side
                height: noticeRow.implicitHeight + 16

                RowLayout {
                    id: noticeRow
                    anchors.fill: parent
                    anchors.leftMargin: 14
                    anchors.rightMargin: 8
                    spacing: 10
                    Glyph {
                        name: "exclamationmark.triangle.fill"
                        size: 13
                        color: Theme.accent
                    }
                    Text {
                        objectName: "noticeText"
                        Layout.fillWidth: true
                        text: Store.notice
                        wrapMode: Text.Wrap
                        maximumLineCount: 3
                        elide: Text.ElideRight
                        font.family: Theme.font
                        font.pixelSize: 12
                        color: Theme.text
                    }
                    PillButtonStyle {
                        objectName: "noticeAction"
                        visible: Store.noticeAction !== ""
                        text: Store.noticeAction
                        onClicked: Store.runNoticeAction()
                    }
                    IconButton {
                        objectName: "noticeClose"
                        symbol: "xmark"
                        help: "Закрыть"
                        onClicked: Store.dismissNotice()
                    }
                }
            }

            // A notice goes by itself after a while; one with a button stays longer.
            Timer {
                id: noticeTimer
                interval: Store.noticeAction !== "" ? 60000 : 12000
                onTriggered: Store.dismissNotice()
            }
            Connections {
                target: Store
                function onNoticeChanged() {
                    if (Store.notice !== "") noticeTimer.restart()
                    else noticeTimer.stop()
                }
            }
        }

        // Footer
        Item {
            id: footer
            objectName: "footer"
            Layout.fillWidth: true
            // Its controls take no focus while it is closed (the start screen).
            enabled: view.hasJobs
            Layout.preferredHeight: view.hasJobs ? footerRow.implicitHeight + 28 : 0
            clip: true

            Behavior on Layout.preferredHeight {
                SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.25 }
            }

            // Held at the bottom edge, so it slides in from there as the footer opens.
            Item {
                anchors.bottom: parent.bottom
                width: parent.width
                height: footerRow.implicitHeight + 28
                opacity: view.hasJobs ? 1 : 0

                Behavior on opacity {
                    SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.005 }
                }

                Rectangle {
                    anchors.fill: parent
                    color: Theme.alpha(Theme.surface, 0.9)
                }
                Rectangle {
                    width: parent.width
                    height: 1
                    color: Theme.line
                }

                RowLayout {
                    id: footerRow
                    anchors.fill: parent
                    anchors.leftMargin: view.side
                    anchors.rightMargin: view.side
                    anchors.topMargin: 14
                    anchors.bottomMargin: 14
                    spacing: 14

                    // 360 wide when there is room; at the window's smallest width the
                    // selector gives way so that the main button stays whole.
                    ColumnLayout {
                        spacing: 6
                        Layout.fillWidth: true
                        Layout.minimumWidth: 268
                        Layout.maximumWidth: 360
                        Caption { text: "КАЧЕСТВО" }
                        Segmented {
                            id: qualitySelector
                            objectName: "qualitySelector"
                            Layout.fillWidth: true
                            Layout.preferredWidth: 360
                            options: Store.qualities.map(q => ({ value: q.quality, title: q.title }))
                            selection: Store.quality
                            onActivated: (value) => Store.quality = value
                        }
                    }

                    ColumnLayout {
                        spacing: 6
                        Caption { text: "СОХРАНЯТЬ" }
                        OutputMenu { objectName: "outputMenu" }
                    }

                    Item { Layout.fillWidth: true }

                    PillButtonStyle {
                        objectName: "stopButton"
                        visible: Store.busy
                        large: true
                        symbol: "stop.fill"
                        text: "Остановить"
                        iconOnly: view.narrow
                        onClicked: Store.cancelAll()
                    }
                    PillButtonStyle {
                        objectName: "convertButton"
                        filled: true
                        large: true
                        symbol: "arrow.triangle.2.circlepath"
                        text: Store.convertTitle
                        // A batch's start takes the count away.
                        preparedText: "Конвертировать"
                        help: Store.readyCount > 0 ? "Конвертировать все готовые файлы — Ctrl+Enter"
                                                   : "Повторить неудавшиеся — Ctrl+Enter"
                        enabled: Store.canConvert
                        onClicked: Store.convertAll()
                    }
                }
            }
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
