import QtQuick
import QtTest
import Lumatra

Item {
    id: root
    width: 900
    height: 700 // room for the format menu

    TestCase {
        id: testCase
        name: "JobRow"
        when: windowShown

        Component { id: rowComponent; JobRow { width: 900 } }

        function cleanup() { stage.clear() }

        function rowFor(job) { return createTemporaryObject(rowComponent, root, { job: job }) }

        function detail(row) { return findChild(row, "detail") }

        function test_a_click_hides_a_buttons_tooltip_until_the_pointer_comes_back() {
            const job = stage.addJob("song.wav")
            stage.cancelled(job)
            const row = rowFor(job)
            const retry = findChild(row, "retryButton")
            mouseMove(retry, 15, 15)
            tryVerify(() => retry.tipShown, 3000)
            mouseClick(retry)
            wait(900)
            verify(!retry.tipShown)
            tryVerify(() => !Store.busy, 30000)
            mouseMove(row, 5, 5)
            mouseMove(retry, 15, 15)
            tryVerify(() => retry.tipShown, 3000)
        }

        function test_a_long_status_is_shortened_within_the_line_and_whole_in_its_tooltip() {
            const job = stage.addJob("Очень длинное название записи, которое в узкой строке никак не помещается.wav")
            stage.done(job, 3)
            const row = createTemporaryObject(rowComponent, root, { job: job, width: 560 })
            const line = findChild(row, "statusLine")
            const text = detail(row)
            tryVerify(() => text.truncated)
            verify(text.x + text.width <= line.width + 0.5 && text.width > 100)
            compare(line.help, job.statusText)
            row.width = 1600 // wider, the whole status shows again
            tryVerify(() => !text.truncated)
            compare(line.help, "")
        }

        // Per state: the status line (its texts are the job's tests'; a failure shows its
        // first line, the whole message in its tooltip), the buttons, and what the row's
        // context menu offers.
        function test_states_data() {
            return [
                { tag: "ready", stage: job => {}, buttons: ["removeButton"] },
                { tag: "queued", stage: job => stage.queued(job), buttons: ["stopButton"] },
                { tag: "running", stage: job => stage.running(job, 0.379), buttons: ["stopButton"] },
                { tag: "done", stage: job => stage.done(job, 0.4), buttons: ["revealButton", "removeButton"] },
                { tag: "failed", stage: job => stage.failed(job, "Первая строка\nвторая\nтретья"),
                  buttons: ["retryButton", "removeButton"], text: "Первая строка" },
                { tag: "cancelled", stage: job => stage.cancelled(job), buttons: ["retryButton", "removeButton"] }
            ]
        }

        function test_states(data) {
            const job = stage.addJob("song.wav")
            data.stage(job)
            const row = rowFor(job)
            compare(findChild(row, "source").text, "WAV · 1 КБ")
            compare(detail(row).visible, data.tag !== "ready")
            if (detail(row).visible) compare(detail(row).text, data.text ?? job.statusText)
            if (data.text) {
                compare(findChild(row, "statusLine").help, "Первая строка\nвторая\nтретья")
                verify(Qt.colorEqual(detail(row).color, Theme.accentGlow))
            }
            const buttons = ["stopButton", "revealButton", "retryButton", "removeButton"]
            compare(buttons.filter(name => findChild(row, name).visible), data.buttons)
            const busy = job.status === Job.Running || job.status === Job.Queued
            compare(findChild(row, "formatMenu").enabled, !busy)
            mouseClick(row, 200, 20, Qt.RightButton)
            const menu = findChild(row, "contextMenu")
            tryVerify(() => menu.opened)
            const result = data.buttons.indexOf("revealButton") >= 0
            compare(findChild(menu, "revealResultItem").visible, result)
            compare(findChild(menu, "openResultItem").visible, result)
            compare(findChild(menu, "removeItem").enabled, job.status !== Job.Running)
            menu.close()
        }

        function test_remove_never_comes_where_cancel_was_data() {
            return [
                { tag: "running to done", before: job => stage.running(job, 0.9), after: job => stage.done(job, 1) },
                { tag: "running to failed", before: job => stage.running(job, 0.9), after: job => stage.failed(job, "Нет") },
                { tag: "running to cancelled", before: job => stage.running(job, 0.9), after: job => stage.cancelled(job) },
                { tag: "queued to ready", before: job => stage.queued(job), after: job => Store.cancel(job) }
            ]
        }

        function test_remove_never_comes_where_cancel_was(data) {
            const job = stage.addJob("song.wav")
            data.before(job)
            const row = rowFor(job)
            const stop = findChild(row, "stopButton")
            const cancel = stop.mapToItem(row, stop.width / 2, stop.height / 2) // the middle of «Отменить»
            data.after(job)
            verify(!findChild(row, "stopButton").visible)
            // Whatever now lies under the pointer that aimed at «Отменить» is harmless.
            const remove = findChild(row, "removeButton")
            verify(remove.visible)
            const at = remove.mapFromItem(row, cancel.x, cancel.y)
            verify(!remove.contains(at), data.tag + ": «Убрать из списка» is under the pointer")
        }

        // A converting row is outlined in the accent with its bar at the fraction; a
        // selected one is tinted and outlined in a neutral colour, never like it.
        function test_running_and_selected_rows_look_apart() {
            const job = stage.addJob("song.wav")
            const row = rowFor(job)
            const bar = findChild(row, "progressBar")
            const marks = [findChild(row, "selectionRing"), findChild(row, "selectionTint")]
            row.selected = true
            verify(marks.every(mark => mark.visible) && !bar.visible && !row.highlighted)
            verify(marks[0].border.color.hsvSaturation < 0.2, "the selection is drawn in the accent")
            row.selected = false
            stage.running(job, 0.42)
            verify(bar.visible && row.highlighted && !marks.some(mark => mark.visible))
            tryVerify(() => Math.abs(bar.width - 0.42 * (row.width - 32)) < 0.5)
            stage.done(job, 2)
            verify(!bar.visible && !row.highlighted)
        }

        /// The item of `format` in a format chip's open menu.
        function formatItem(chip, format) { return findChild(chip.menu.contentItem, "format_" + format) }
        function openFormats(chip) {
            chip.openMenu()
            tryVerify(() => chip.menu.opened)
            wait(50)
        }

        // The format chip shows the raw value, its menu (made on first use) each item's
        // title and detail, and marks the current target.
        function test_format_menu() {
            const job = stage.addJob("clip.mp4")
            const chip = findChild(rowFor(job), "formatMenu")
            compare(chip.menu, null)
            openFormats(chip)
            compare(formatItem(chip, "hevc").text, "MP4 HEVC — H.265, вдвое меньше")
            mouseClick(formatItem(chip, "hevc"))
            compare(job.target, "hevc")
            tryVerify(() => !chip.menu.visible)
            compare(findChild(chip, "chipLabel").text, "HEVC")
            openFormats(chip)
            verify(formatItem(chip, "hevc").current)
            verify(!formatItem(chip, "mp4").current)
        }
    }
}
