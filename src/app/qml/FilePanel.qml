pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Lumatra

// The window's own file panel, modal: several files and folders are chosen at once
// (click, Ctrl-click, Shift-click, Ctrl+A, arrows with Shift, or names typed in the
// path field), or, with `foldersOnly`, one folder — the one shown when none is marked,
// so that an empty folder can be chosen from inside.
Popup {
    id: panel

    property bool foldersOnly: false
    property string title
    property string acceptLabel: "Добавить"
    /// The folder shown first; the last one shown is kept for the next opening.
    property string startFolder
    readonly property alias model: folderModel
    /// Marked rows, as a map row → true; `anchor` is where Shift-selection starts.
    property var marked: ({})
    property int current: -1
    property int anchor: -1
    readonly property int markedCount: Object.keys(marked).length
    /// Why the last accept did nothing ("Папки «…» нет."); "" when all is well.
    property string problem
    /// The typed folder does not exist: the panel offers to make it.
    property bool offerCreate: false
    /// A new folder is being named.
    property bool naming: false

    /// The user confirmed: file URLs of the chosen items (files mode), or of the folder.
    signal chosen(var urls)

    anchors.centerIn: Overlay.overlay
    width: Math.min(Overlay.overlay ? Overlay.overlay.width - 48 : 640, 680)
    height: Math.min(Overlay.overlay ? Overlay.overlay.height - 48 : 480, 520)
    modal: true
    dim: true
    focus: true
    padding: 0
    closePolicy: Popup.CloseOnEscape

    Overlay.modal: Rectangle { color: Theme.alpha("black", 0.55) }

    background: Surface {
        radius: 14
        color: Theme.surfaceRaised
        borderWidth: 1
        borderColor: Theme.lineStrong
        shadowColor: Theme.alpha("black", 0.55)
        shadowBlur: 18
        shadowY: 10
    }

    // Ctrl+L, as in a file manager: type a path.
    Shortcut {
        sequence: "Ctrl+L"
        enabled: panel.visible
        onActivated: {
            pathField.forceActiveFocus(Qt.ShortcutFocusReason)
            pathField.selectAll()
        }
    }

    FolderModel {
        id: folderModel
        foldersOnly: panel.foldersOnly
        onFolderChanged: panel.clearMarks()
    }

    onAboutToShow: {
        // The folder panel opens where results go now; otherwise where it was last.
        if (foldersOnly && startFolder !== "" && folderModel.folderAt(startFolder) !== "")
            folderModel.folder = startFolder
        else if (folderModel.folder === "")
            folderModel.folder = startFolder !== "" ? startFolder : folderModel.home()
        else folderModel.refresh()
        clearMarks()
        pathField.text = ""
        naming = false
        say("")
    }
    onOpened: entries.forceActiveFocus()

    function say(text, create) {
        problem = text
        offerCreate = create === true
    }
    function clearMarks() {
        marked = ({})
        current = folderModel.count > 0 ? 0 : -1
        anchor = current
    }
    function markOnly(row) {
        const next = {}
        if (row >= 0) next[row] = true
        marked = next
        current = row
        anchor = row
    }
    function toggle(row) {
        const next = Object.assign({}, marked)
        if (next[row]) delete next[row]
        else next[row] = true
        marked = next
        current = row
        anchor = row
    }
    function markRange(row) {
        const next = {}
        const from = Math.max(0, Math.min(anchor, row))
        const to = Math.max(anchor, row)
        for (let i = from; i <= to; ++i) next[i] = true
        marked = next
        current = row
    }
    function markAll() {
        const next = {}
        for (let i = 0; i < folderModel.count; ++i) next[i] = true
        marked = next
    }
    function openRow(row) {
        if (folderModel.isFolderAt(row)) folderModel.folder = folderModel.pathAt(row)
    }
    /// What "accept" would hand over now.
    function selection() {
        if (foldersOnly) {
            const rows = Object.keys(marked).map(Number)
            if (pathField.text.trim() !== "") {
                // A typed folder is that folder or nothing, never another one.
                const typed = folderModel.folderAt(pathField.text)
                return typed !== "" ? [folderModel.urlOf(typed)] : []
            }
            const folder = rows.length === 1 ? folderModel.pathAt(rows[0]) : folderModel.folder
            return [folderModel.urlOf(folder)]
        }
        const urls = folderModel.urlsOf(Object.keys(marked).map(Number))
        return urls.concat(folderModel.typedUrls(pathField.text))
    }
    function accept() {
        // Enter with nothing marked works on the row under the keyboard: a folder opens,
        // a file is taken.
        if (!foldersOnly && markedCount === 0 && pathField.text.trim() === "" && current >= 0) {
            if (folderModel.isFolderAt(current)) {
                openRow(current)
                return
            }
            markOnly(current)
        }
        const chosen = selection()
        if (chosen.length === 0) {
            const typed = pathField.text.trim()
            if (typed === "") return
            if (foldersOnly) say("Папки «" + folderModel.absolutePath(typed) + "» нет.", true)
            else say("Нет такого файла или папки: " + typed)
            return
        }
        close()
        panel.chosen(chosen)
    }
    /// Makes the typed folder and chooses it.
    function createTyped() {
        const made = folderModel.createFolder(pathField.text)
        if (made === "") {
            say("Не удалось создать папку «" + folderModel.absolutePath(pathField.text) + "».")
            return
        }
        close()
        panel.chosen([folderModel.urlOf(made)])
    }
    /// «Новая папка»: asks for the name first.
    function startNaming() {
        say("")
        naming = true
        nameField.text = "Новая папка"
        nameField.selectAll()
        nameField.forceActiveFocus()
    }
    function makeNamed() {
        const name = nameField.text.trim()
        if (name === "" || name === "." || name === ".." || name.indexOf("/") >= 0) {
            say("Имя папки не может быть пустым, «.», «..» или содержать «/».")
            return
        }
        if (folderModel.rowNamed(name) >= 0) {
            say("Папка «" + name + "» уже есть.")
            return
        }
        const row = folderModel.makeFolderNamed(name)
        if (row < 0) {
            say("Не удалось создать папку «" + name + "».")
            return
        }
        naming = false
        say("")
        markOnly(row)
        entries.positionViewAtIndex(row, ListView.Contain)
        entries.forceActiveFocus()
    }
    /// The path field's text names a folder: go there instead of accepting.
    function submitTyped() {
        const folder = folderModel.folderAt(pathField.text)
        if (folder !== "" && !foldersOnly) {
            folderModel.folder = folder
            pathField.text = ""
            entries.forceActiveFocus()
            return
        }
        accept()
    }

    contentItem: ColumnLayout {
        spacing: 0

        Text {
            Layout.fillWidth: true
            Layout.topMargin: 16
            horizontalAlignment: Text.AlignHCenter
            text: panel.title
            font.family: Theme.font
            font.pixelSize: 14
            font.weight: Font.Bold
            color: Theme.text
        }

        // Path bar: up, the folder's parts, and a field for typed names or paths.
        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 14
            spacing: 6

            IconButton {
                objectName: "upButton"
                symbol: "arrow_upward"
                help: "Вверх — Backspace"
                enabled: folderModel.canGoUp
                opacity: enabled ? 1 : 0.4
                onClicked: folderModel.goUp()
            }
            IconButton {
                symbol: "home"
                help: "Домашняя папка"
                onClicked: folderModel.folder = folderModel.home()
            }
            Flickable {
                id: crumbBar
                Layout.fillWidth: true
                Layout.preferredHeight: 30
                contentWidth: crumbRow.implicitWidth
                clip: true
                flickableDirection: Flickable.HorizontalFlick
                boundsBehavior: Flickable.StopAtBounds
                onContentWidthChanged: contentX = Math.max(0, contentWidth - width)

                Row {
                    id: crumbRow
                    height: parent.height
                    spacing: 2
                    Repeater {
                        model: folderModel.crumbs
                        delegate: Text {
                            id: crumb
                            required property var modelData
                            required property int index
                            anchors.verticalCenter: parent.verticalCenter
                            leftPadding: 6
                            rightPadding: 6
                            text: (index > 1 ? "› " : "") + modelData.name
                            font.family: Theme.font
                            font.pixelSize: 12
                            color: index === folderModel.crumbs.length - 1 ? Theme.text : Theme.muted
                            MouseArea {
                                anchors.fill: parent
                                cursorShape: Qt.PointingHandCursor
                                onClicked: folderModel.folder = crumb.modelData.path
                            }
                        }
                    }
                }
            }
        }

        Rectangle { Layout.fillWidth: true; height: 1; color: Theme.line }

        ListView {
            id: entries
            objectName: "entries"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: folderModel
            currentIndex: panel.current
            keyNavigationEnabled: false
            boundsBehavior: Flickable.StopAtBounds
            activeFocusOnTab: true
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

            function step(by, extend) {
                if (folderModel.count === 0) return
                const row = Math.max(0, Math.min(folderModel.count - 1, panel.current + by))
                if (extend) panel.markRange(row)
                else panel.markOnly(row)
                positionViewAtIndex(row, ListView.Contain)
            }

            Keys.onUpPressed: (event) => step(-1, event.modifiers & Qt.ShiftModifier)
            Keys.onDownPressed: (event) => {
                if (event.modifiers & Qt.ControlModifier) panel.openRow(panel.current)
                else step(1, event.modifiers & Qt.ShiftModifier)
            }
            Keys.onRightPressed: panel.openRow(panel.current)
            Keys.onLeftPressed: folderModel.goUp()
            Keys.onPressed: (event) => {
                if (event.key === Qt.Key_Backspace) {
                    folderModel.goUp()
                } else if (event.key === Qt.Key_A && (event.modifiers & Qt.ControlModifier)) {
                    if (!panel.foldersOnly) panel.markAll()
                } else if (event.key === Qt.Key_Space && panel.current >= 0) {
                    panel.toggle(panel.current)
                } else if (event.key === Qt.Key_Home) {
                    step(-folderModel.count, event.modifiers & Qt.ShiftModifier)
                } else if (event.key === Qt.Key_End) {
                    step(folderModel.count, event.modifiers & Qt.ShiftModifier)
                } else if (event.key === Qt.Key_Return || event.key === Qt.Key_Enter) {
                    panel.accept()
                } else {
                    return
                }
                event.accepted = true
            }

            FocusRing {
                shown: entries.activeFocus
                radius: 4
                inset: 2
                border.width: 1
            }

            delegate: Rectangle {
                id: entry
                required property int index
                required property string name
                required property bool isFolder
                required property string detail
                readonly property bool isMarked: panel.marked[index] === true
                width: entries.width
                height: 34
                color: isMarked ? Theme.alpha(Theme.accent, 0.35)
                     : rowArea.containsMouse ? Theme.alpha("white", 0.04) : "transparent"

                Rectangle {
                    anchors.fill: parent
                    anchors.margins: 1
                    visible: entries.activeFocus && panel.current === entry.index
                    color: "transparent"
                    border.width: 1
                    border.color: Theme.accentGlow
                    radius: 3
                }

                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 16
                    anchors.rightMargin: 16
                    spacing: 10
                    Glyph {
                        name: entry.isFolder ? "folder" : "insert_drive_file"
                        size: 14
                        color: entry.isFolder ? Theme.accentGlow : Theme.muted
                    }
                    Text {
                        Layout.fillWidth: true
                        text: entry.name
                        elide: Text.ElideMiddle
                        font.family: Theme.font
                        font.pixelSize: 13
                        color: Theme.text
                    }
                    Text {
                        text: entry.detail
                        font.family: Theme.font
                        font.pixelSize: 11
                        color: Theme.muted
                    }
                }

                MouseArea {
                    id: rowArea
                    anchors.fill: parent
                    hoverEnabled: true
                    onClicked: (mouse) => {
                        entries.forceActiveFocus()
                        if (mouse.modifiers & Qt.ShiftModifier) panel.markRange(entry.index)
                        else if (mouse.modifiers & Qt.ControlModifier) panel.toggle(entry.index)
                        else panel.markOnly(entry.index)
                    }
                    onDoubleClicked: {
                        if (entry.isFolder) panel.openRow(entry.index)
                        else panel.accept()
                    }
                }
            }

            Text {
                anchors.centerIn: parent
                visible: folderModel.count === 0
                text: panel.foldersOnly ? "Папок нет — можно сохранять сюда" : "Папка пуста"
                font.family: Theme.font
                font.pixelSize: 13
                color: Theme.muted
            }
        }

        Rectangle { Layout.fillWidth: true; height: 1; color: Theme.line }

        // Naming a new folder.
        RowLayout {
            objectName: "namingRow"
            visible: panel.naming
            Layout.fillWidth: true
            Layout.leftMargin: 14
            Layout.rightMargin: 14
            Layout.topMargin: 12
            spacing: 10

            Text {
                text: "Имя новой папки:"
                font.family: Theme.font
                font.pixelSize: 12
                color: Theme.muted
            }
            TextField {
                id: nameField
                objectName: "newFolderName"
                Layout.fillWidth: true
                font.family: Theme.font
                font.pixelSize: 12
                color: Theme.text
                selectByMouse: true
                background: Rectangle {
                    radius: 8
                    color: Theme.alpha("black", 0.4)
                    border.width: nameField.activeFocus ? 2 : 1
                    border.color: nameField.activeFocus ? Theme.accentGlow : Theme.line
                }
                onAccepted: panel.makeNamed()
                onTextChanged: if (panel.naming) panel.say("")
                Keys.onEscapePressed: (event) => {
                    panel.naming = false
                    entries.forceActiveFocus()
                    event.accepted = true
                }
            }
            PillButtonStyle {
                objectName: "createNamedButton"
                text: "Создать"
                onClicked: panel.makeNamed()
            }
        }

        // What went wrong with the last accept or name.
        RowLayout {
            visible: panel.problem !== ""
            Layout.fillWidth: true
            Layout.leftMargin: 14
            Layout.rightMargin: 14
            Layout.topMargin: 12
            spacing: 10

            Glyph {
                name: "exclamationmark.circle.fill"
                size: 12
                color: Theme.accent
            }
            Text {
                objectName: "problemText"
                Layout.fillWidth: true
                text: panel.problem
                wrapMode: Text.Wrap
                font.family: Theme.font
                font.pixelSize: 12
                color: Theme.accentGlow
            }
            PillButtonStyle {
                objectName: "createTypedButton"
                visible: panel.offerCreate
                text: "Создать папку"
                onClicked: panel.createTyped()
            }
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.margins: 14
            spacing: 10

            TextField {
                id: pathField
                objectName: "pathField"
                Layout.fillWidth: true
                placeholderText: panel.foldersOnly ? "Путь к папке" : "Имена или пути: \"a.mp3\" \"b.mp3\""
                font.family: Theme.font
                font.pixelSize: 12
                color: Theme.text
                placeholderTextColor: Theme.muted
                selectByMouse: true
                background: Rectangle {
                    radius: 8
                    color: Theme.alpha("black", 0.4)
                    border.width: pathField.activeFocus ? 2 : 1
                    border.color: pathField.activeFocus ? Theme.accentGlow : Theme.line
                }
                onAccepted: panel.submitTyped()
                onTextChanged: panel.say("")
            }
            PillButtonStyle {
                objectName: "newFolderButton"
                visible: panel.foldersOnly
                text: "Новая папка"
                onClicked: panel.startNaming()
            }
            PillButtonStyle {
                objectName: "cancelButton"
                text: "Отмена"
                help: "Esc"
                onClicked: panel.close()
            }
            PillButtonStyle {
                objectName: "acceptButton"
                filled: true
                text: panel.acceptLabel
                help: panel.foldersOnly
                      ? (panel.markedCount === 1 ? "Выбранная папка" : "Открытая папка") + " — Enter"
                      : "Выбранные файлы и папки — Enter"
                enabled: panel.foldersOnly || panel.markedCount > 0 || pathField.text.trim() !== ""
                onClicked: panel.accept()
            }
        }
    }
}
