pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Lumatra

// One row per kind of ready job: every format all of them can become, the shared
// target selected. A chip sets that target on all ready jobs of the kind. Chip rows
// wider than the window scroll sideways (wheel or drag) and fade out at the edge that
// hides more; when the window is short, the rows themselves scroll.
Item {
    id: bar

    implicitHeight: rows.implicitHeight + 21

    /// The chip rows shown: the store's, or the last ones while the bar is held open
    /// after the store's went (see ContentView).
    property var kinds: Store.bulkKinds
    /// The side margin of its rows (the window's content margin).
    property real side: 24
    /// Some row has chips to choose from.
    readonly property bool canFocus: kinds.some(row => row.targets.length > 0)

    /// The tallest height up to `limit` that shows only whole chip rows: all of them
    /// when they fit, else as many as fit (at least one), cut in the gap below the last
    /// one, so that no sliver of the next row shows above the bar's edge.
    function heightWithin(limit) {
        if (implicitHeight <= limit) return implicitHeight
        const step = rowHeight + rows.spacing
        const whole = Math.max(1, Math.floor((limit - rows.y - 1) / step))
        return rows.y + whole * step + 1
    }
    /// A chip row's height.
    readonly property real rowHeight: 30

    /// F6 lands on the first row's chips.
    function focusFirst() {
        for (let i = 0; i < kindRows.count; ++i) {
            const row = kindRows.itemAt(i)
            if (row && row.focusChips()) return
        }
    }

    /// The kind whose chip row had the keyboard when the rows were rebuilt (a choice
    /// rebuilds them); its new row takes the keyboard back.
    property string keyboardKind

    Flickable {
        id: scroller
        anchors.fill: parent
        anchors.bottomMargin: 1
        contentWidth: width
        contentHeight: rows.implicitHeight + 20
        interactive: contentHeight > height + 1
        boundsBehavior: Flickable.StopAtBounds
        clip: true
        // Shown whenever rows are hidden, so that the user sees there are more.
        ScrollBar.vertical: ScrollBar { policy: scroller.interactive ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff }

        Column {
            id: rows
            x: bar.side
            y: 10
            width: bar.width - 2 * bar.side
            spacing: 4

            Repeater {
                id: kindRows
                model: bar.kinds

                delegate: RowLayout {
                    id: kindRow
                    required property var modelData
                    objectName: "bulk_" + modelData.kind
                    width: rows.width
                    spacing: 12

                    function focusChips() {
                        if (!chipScroller.activeFocusOnTab) return false
                        chipScroller.forceActiveFocus(Qt.TabFocusReason)
                        return true
                    }

                    Row {
                        Layout.preferredWidth: 150
                        spacing: 6

                        Glyph {
                            name: kindRow.modelData.symbol
                            size: 12
                            color: Theme.accent
                            anchors.verticalCenter: parent.verticalCenter
                        }
                        Text {
                            text: kindRow.modelData.label
                            font.family: Theme.font
                            font.pixelSize: 12
                            font.weight: Font.DemiBold
                            color: Theme.text
                            anchors.verticalCenter: parent.verticalCenter
                        }
                    }

                    Flickable {
                        id: chipScroller
                        objectName: "chipScroller"
                        readonly property bool moreRight: contentX < contentWidth - width - 1
                        readonly property bool moreLeft: contentX > 1
                        Layout.fillWidth: true
                        Layout.preferredHeight: bar.rowHeight
                        contentWidth: chips.implicitWidth + 8
                        contentHeight: height
                        flickableDirection: Flickable.HorizontalFlick
                        boundsBehavior: Flickable.StopAtBounds
                        clip: true

                        // One Tab stop per row: the arrows go from chip to chip, Space or
                        // Enter chooses the marked one. A row without chips is none.
                        activeFocusOnTab: kindRow.modelData.targets.length > 0 && bar.enabled
                        property int keyIndex: Math.max(0, kindRow.modelData.targets.findIndex(
                            t => t.format === kindRow.modelData.common))
                        Keys.onLeftPressed: keyIndex = Math.max(0, keyIndex - 1)
                        Keys.onRightPressed: keyIndex = Math.min(kindRow.modelData.targets.length - 1, keyIndex + 1)
                        Keys.onSpacePressed: choose()
                        Keys.onReturnPressed: choose()
                        Keys.onEnterPressed: choose()

                        function choose() {
                            const target = kindRow.modelData.targets[keyIndex]
                            if (!target) return
                            bar.keyboardKind = kindRow.modelData.kind
                            Store.setTarget(target.format, kindRow.modelData.kind)
                        }
                        Component.onCompleted: {
                            if (bar.keyboardKind !== kindRow.modelData.kind) return
                            bar.keyboardKind = ""
                            forceActiveFocus(Qt.TabFocusReason)
                        }
                        /// Scrolls so that `chip` is wholly in view.
                        function reveal(chip) {
                            if (chip.x < contentX)
                                contentX = Math.max(0, chip.x - 4)
                            else if (chip.x + chip.width > contentX + width)
                                contentX = Math.min(contentWidth - width, chip.x + chip.width + 12 - width)
                        }

                        /// Moves the chips sideways by `delta`, within bounds.
                        function scrollBy(delta) {
                            contentX = Math.max(0, Math.min(contentWidth - width, contentX + delta))
                        }

                        Row {
                            id: chips
                            x: 4
                            y: 2
                            spacing: 6

                            Repeater {
                                model: kindRow.modelData.targets

                                delegate: FormatChip {
                                    id: chip
                                    required property var modelData
                                    required property int index
                                    objectName: "chip_" + modelData.format
                                    format: modelData.format
                                    text: modelData.label
                                    detail: modelData.detail
                                    selected: kindRow.modelData.common === modelData.format
                                    keyMarked: chipScroller.activeFocus && chipScroller.keyIndex === index
                                    onClicked: Store.setTarget(format, kindRow.modelData.kind)
                                    onKeyMarkedChanged: if (keyMarked) chipScroller.reveal(chip)
                                }
                            }
                        }

                        // The wheel scrolls an overflowing row sideways; a plain vertical
                        // turn goes on to the bar instead while the bar itself scrolls.
                        MouseArea {
                            anchors.fill: parent
                            acceptedButtons: Qt.NoButton
                            onWheel: (wheel) => {
                                const sideways = wheel.angleDelta.x !== 0
                                    || (wheel.modifiers & Qt.ShiftModifier)
                                if (chipScroller.contentWidth <= chipScroller.width
                                        || (scroller.interactive && !sideways)) {
                                    wheel.accepted = false
                                    return
                                }
                                const delta = wheel.angleDelta.x !== 0 ? wheel.angleDelta.x : wheel.angleDelta.y
                                chipScroller.scrollBy(-delta / 2)
                            }
                        }
                    }

                    // Fades and arrows over the edges that hide chips.
                    Item {
                        Layout.preferredWidth: 0
                        Layout.preferredHeight: 30
                        z: 1

                        Rectangle {
                            objectName: "moreHint"
                            visible: chipScroller.moreRight
                            x: -56
                            width: 44
                            height: parent.height
                            gradient: Gradient {
                                orientation: Gradient.Horizontal
                                GradientStop { position: 0; color: Theme.alpha(Theme.background, 0) }
                                GradientStop { position: 0.6; color: Theme.background }
                            }
                            Glyph {
                                anchors.right: parent.right
                                anchors.verticalCenter: parent.verticalCenter
                                name: "chevron_right"
                                size: 16
                                color: Theme.text
                            }
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: chipScroller.scrollBy(chipScroller.width * 0.6)
                            }
                        }
                        Rectangle {
                            visible: chipScroller.moreLeft
                            x: -chipScroller.width - 12
                            width: 36
                            height: parent.height
                            gradient: Gradient {
                                orientation: Gradient.Horizontal
                                GradientStop { position: 0.4; color: Theme.background }
                                GradientStop { position: 1; color: Theme.alpha(Theme.background, 0) }
                            }
                            Glyph {
                                anchors.left: parent.left
                                anchors.verticalCenter: parent.verticalCenter
                                name: "chevron_left"
                                size: 16
                                color: Theme.text
                            }
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: chipScroller.scrollBy(-chipScroller.width * 0.6)
                            }
                        }
                    }
                }
            }
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        width: parent.width
        height: 1
        color: Theme.line
    }
}
