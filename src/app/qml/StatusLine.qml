import QtQuick
import QtQuick.Controls.Basic
import Lumatra

// The one line under a row's name that tells where its job stands. Its texts change with
// every step of a batch, on every visible row at once; they are laid out without the
// font's optional shaping (kerning), which scripts that need shaping still get. Its parts
// sit in a plain row whose changes stay inside the line: the layouts of the row around it
// are not asked again when a part appears or goes.
Item {
    id: line

    required property Job job
    readonly property int status: job ? job.status : Job.Ready
    readonly property bool running: status === Job.Running
    readonly property real progress: job ? job.progress : 0
    readonly property string detail: job ? job.statusText : ""
    readonly property bool hasDetail: status !== Job.Ready
    /// The tooltip of the detail: the whole message of a failure, or the whole line
    /// when it is shortened.
    readonly property string help: status === Job.Failed ? (job ? job.message : "")
                                 : detailText.truncated ? detail : ""

    implicitWidth: source.implicitWidth
    implicitHeight: source.implicitHeight

    // Its texts and symbols change on every visible row as a batch starts and ends:
    // their glyphs, in both weights, are ready before.
    Component.onCompleted: {
        Theme.prepareGlyphs(detailText.font)
        Theme.prepareGlyphs(detailText.font, "0123456789%", Font.Bold)
        Theme.prepareGlyphs(statusSymbol.font, Theme.symbol("checkmark.circle.fill")
                                               + Theme.symbol("exclamationmark.circle.fill"))
        Theme.prepareGlyphs(spinner.font, spinner.text)
    }

    Row {
        height: parent.height
        spacing: 5

        Text {
            id: source
            objectName: "source"
            anchors.verticalCenter: parent.verticalCenter
            text: line.job ? line.job.sourceText : ""
            font.family: Theme.font
            font.preferShaping: false
            font.pointSize: 11.5 * 0.75
            color: Theme.muted
        }

        Text {
            anchors.verticalCenter: parent.verticalCenter
            visible: line.hasDetail
            text: "·"
            font.family: Theme.font
            font.preferShaping: false
            font.pointSize: 11.5 * 0.75
            color: Theme.muted
        }

        // Converting without a fraction yet: a small arc that turns a step each time the
        // store shows progress, in the frame drawn for that anyway.
        Glyph {
            id: spinner
            anchors.verticalCenter: parent.verticalCenter
            visible: line.running && line.progress <= 0
            name: "autorenew"
            size: 10
            color: Theme.accentGlow
            rotation: visible ? (Store.tick % 8) * 45 : 0
        }

        Glyph {
            id: statusSymbol
            anchors.verticalCenter: parent.verticalCenter
            // A done job whose result has gone shows no success mark.
            readonly property bool gone: line.status === Job.Done && line.job && line.job.resultMissing
            visible: line.status === Job.Done || line.status === Job.Failed
            name: line.status === Job.Done && !gone ? "checkmark.circle.fill" : "exclamationmark.circle.fill"
            size: 11
            color: gone ? Theme.muted : line.status === Job.Done ? Theme.success : Theme.accent
        }

        Text {
            id: detailText
            objectName: "detail"
            anchors.verticalCenter: parent.verticalCenter
            visible: line.hasDetail
            // The rest of the line.
            width: Math.max(0, line.width - x)
            text: line.detail
            elide: line.status === Job.Done ? Text.ElideMiddle : Text.ElideRight
            maximumLineCount: 1
            font.family: Theme.font
            font.preferShaping: false
            font.pointSize: 11.5 * 0.75
            font.weight: line.running && line.progress > 0 ? Font.Bold : Font.Normal
            color: {
                switch (line.status) {
                case Job.Running: return Theme.accentGlow
                case Job.Failed: return Theme.accentGlow
                case Job.Done: return Theme.alpha(Theme.text, 0.85)
                default: return Theme.muted
                }
            }

            HoverHandler { id: detailHover }
            ToolTip.visible: line.help !== "" && detailHover.hovered
            ToolTip.text: line.help
            ToolTip.delay: 400
        }
    }
}
