import QtQuick
import QtQuick.Layouts
import Lumatra

// The footer: the quality, the output folder, «Остановить» and «Конвертировать». It
// slides in from the bottom edge once there are jobs.
Item {
    id: footer
    objectName: "footer"
    /// The list has jobs: the footer is open.
    property bool hasJobs: false
    /// The side margin of the content.
    property real side: 24
    /// Too narrow for every button's text next to the whole quality selector.
    property bool narrow: false

    /// F6 lands on the quality selector.
    function focusFirst() { qualitySelector.forceActiveFocus(Qt.TabFocusReason) }
    Layout.fillWidth: true
    // Its controls take no focus while it is closed (the start screen).
    enabled: footer.hasJobs
    Layout.preferredHeight: footer.hasJobs ? footerRow.implicitHeight + 28 : 0
    clip: true

    Behavior on Layout.preferredHeight {
        SpringAnimation { spring: Theme.spring; damping: Theme.springDamping; epsilon: 0.25 }
    }

    // Held at the bottom edge, so it slides in from there as the footer opens.
    Item {
        anchors.bottom: parent.bottom
        width: parent.width
        height: footerRow.implicitHeight + 28
        opacity: footer.hasJobs ? 1 : 0

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
            anchors.leftMargin: footer.side
            anchors.rightMargin: footer.side
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
                iconOnly: footer.narrow
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
