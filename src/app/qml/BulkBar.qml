pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Layouts
import Lumatra

// One row per kind of ready job: every format all of them can become, the shared
// target selected. A chip sets that target on all ready jobs of the kind.
Item {
    id: bar

    implicitHeight: rows.implicitHeight + 20

    Column {
        id: rows
        x: 24
        y: 10
        width: bar.width - 48
        spacing: 8

        Repeater {
            model: Store.bulkKinds

            delegate: RowLayout {
                id: kindRow
                required property var modelData
                objectName: "bulk_" + modelData.kind
                width: rows.width
                spacing: 12

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
                    Layout.fillWidth: true
                    Layout.preferredHeight: 34
                    contentWidth: chips.implicitWidth + 8
                    contentHeight: height
                    flickableDirection: Flickable.HorizontalFlick
                    boundsBehavior: Flickable.StopAtBounds
                    clip: true

                    Row {
                        id: chips
                        x: 4
                        y: 4
                        spacing: 6

                        Repeater {
                            model: kindRow.modelData.targets

                            delegate: FormatChip {
                                required property var modelData
                                objectName: "chip_" + modelData.format
                                format: modelData.format
                                text: modelData.label
                                detail: modelData.detail
                                selected: kindRow.modelData.common === modelData.format
                                onClicked: Store.setTarget(format, kindRow.modelData.kind)
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
