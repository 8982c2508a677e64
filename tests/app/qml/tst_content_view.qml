import QtQuick
import QtTest
import Lumatra

Item {
    id: root
    width: 1000
    height: 680

    ViewCase {
        id: testCase
        name: "ContentView"

        function bulkRow(kind) { return descendants(view, "bulk_" + kind)[0] ?? null }

        function chips(kind) {
            return descendants(bulkRow(kind), "chip_").sort((a, b) => a.x - b.x)
        }

        /// Which of the parts that come and go with the list are shown.
        function shownParts() {
            return ["dropHero", "addButton", "bulkBar", "clearButton", "stopButton"].filter(name => part(name).visible)
        }

        function test_visible_parts_follow_the_store() {
            compare(shownParts(), ["dropHero"])
            tryCompare(part("footer"), "height", 0)

            const first = stage.addJob("a.wav")
            tryVerify(() => !part("dropHero").visible)
            compare(shownParts(), ["addButton"])
            // At the header's right end.
            tryVerify(() => part("addButton").x + part("addButton").width > 900)
            tryVerify(() => part("footer").height > 60)
            compare(part("convertButton").text, "Конвертировать")
            verify(part("convertButton").enabled)

            const second = stage.addJob("b.wav")
            compare(shownParts(), ["addButton", "bulkBar"])
            compare(part("convertButton").text, "Конвертировать · 2")
            // The width it takes without the count is known ahead, for its pictures.
            const ahead = part("convertButton").background.preparedWidth
            verify(ahead > 100)
            tryVerify(() => part("convertButton").width > ahead)

            stage.done(first, 1)
            compare(shownParts(), ["addButton", "clearButton"])
            compare(part("convertButton").text, "Конвертировать")
            tryCompare(part("convertButton"), "width", ahead)

            // Only a failed job left: the main button tries it again.
            stage.failed(second, "Нет")
            verify(part("convertButton").enabled)

            mouseClick(part("clearButton"))
            compare(Store.jobs.count, 0)
            tryVerify(() => part("dropHero").visible)
        }

        function test_bulk_bar_rows_chips_and_selection() {
            const a = stage.addJob("a.wav")
            stage.addJob("b.wav")
            const image = stage.addJob("c.png")

            tryVerify(() => bulkRow("audio") !== null)
            verify(bulkRow("image") !== null)
            verify(bulkRow("video") === null)

            compare(chips("image").map(c => c.format), image.targets)
            compare(chips("image").filter(c => c.selected).map(c => c.format), [image.target])
            compare(chips("audio").filter(c => c.selected).map(c => c.format), [a.target])

            a.target = "flac"
            compare(chips("audio").filter(c => c.selected).length, 0)

            const opus = chips("audio").find(c => c.format === "opus")
            // The rows were rebuilt: let the bar lay them out before clicking.
            waitForItemPolished(bulkRow("audio").parent)
            mouseClick(opus)
            compare(a.target, "opus")
            compare(Store.jobs.jobAt(1).target, "opus")
            compare(chips("audio").filter(c => c.selected).map(c => c.format), ["opus"])
        }

        function test_quality_selector_writes_the_store_and_moves_its_pill() {
            stage.addJob("a.wav")
            const selector = part("qualitySelector")
            const pill = findChild(selector, "pill")
            const best = findChild(selector, "segment0")
            tryVerify(() => part("footer").height > 60)
            mouseClick(best)
            compare(Store.quality, "best")
            tryVerify(() => Math.abs(pill.x - best.x - 3) < 0.5)
        }

        /// The output menu as it opens: its label, the folder item's text (if shown) and
        /// which items carry the check mark.
        function outputMenu() {
            const menu = part("outputMenu").menu
            menu.open()
            tryVerify(() => menu.opened)
            const item = findChild(menu, "showFolderItem")
            const checked = ["besideItem", "folderItem", "chooseItem"].filter(name => {
                const item = findChild(menu, name)
                return item.visible && findChild(item, "checkMark").visible
            })
            const shown = [findChild(part("outputMenu"), "outputLabel").text,
                           item.visible ? item.text : "", checked]
            menu.close()
            tryVerify(() => !menu.visible)
            return shown
        }

        function test_output_folder_menu() {
            stage.addJob("a.wav")
            compare(outputMenu(), ["Рядом с файлом", "", ["besideItem"]])
            const folder = stage.makeFolder("Результаты", [])
            Store.outputDirectory = "file://" + folder
            compare(outputMenu(), ["Результаты", "Показать «Результаты» в файловом менеджере",
                                   ["folderItem"]])
            compare(findChild(part("outputMenu").menu, "folderItem").text, "В папку «Результаты»")
        }

        function test_a_drag_lights_up_the_drop_area_or_the_list() {
            const title = findChild(part("dropHero"), "heroTitle")
            compare(title.text, "Перетащите файлы сюда")
            view.isTargeted = true
            compare(title.text, "Отпускайте")
            // The drop frame belongs to the list; the empty window shows the drop area.
            verify(!part("dropFrame").visible)
            view.isTargeted = false
            compare(title.text, "Перетащите файлы сюда")

            stage.addJob("a.wav")
            view.isTargeted = true
            tryCompare(part("dropFrame"), "opacity", 1, 1000)
            view.isTargeted = false
            tryVerify(() => !part("dropFrame").visible, 1000)
        }

        function test_a_removed_row_keeps_its_face_while_it_fades_out() {
            const job = stage.addJob("leaving.wav")
            stage.addJob("staying.wav")
            tryVerify(() => descendants(view, "fileName").length === 2)
            const name = descendants(view, "fileName").find(n => n.text === "leaving.wav")
            let row = name
            while (row.job === undefined) row = row.parent
            wait(1000) // the rows have slid in

            Store.remove(job)
            // A loaded machine may deliver the first frames of the fade late.
            tryVerify(() => row.opacity < 0.9 && row.scale < 1, 1000)
            compare(name.text, "leaving.wav")
            tryVerify(() => descendants(view, "fileName").length === 1, 3000)
            compare(descendants(view, "fileName")[0].text, "staying.wav")
        }

        function test_ffmpeg_warning_follows_the_flag() {
            verify(!part("ffmpegWarning").visible)
            Store.ffmpegMissing = true
            verify(part("ffmpegWarning").visible)
            mouseClick(part("recheckButton"))
            // ffmpeg is installed where the tests run.
            verify(!Store.ffmpegMissing)
            verify(!part("ffmpegWarning").visible)
        }
    }
}
