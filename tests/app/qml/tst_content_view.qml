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

        function test_visible_parts_follow_the_store() {
            verify(part("dropHero").visible)
            verify(!part("addButton").visible)
            tryCompare(part("footer"), "height", 0)

            const first = stage.addJob("a.wav")
            tryVerify(() => !part("dropHero").visible)
            verify(part("addButton").visible)
            // At the header's right end.
            tryVerify(() => part("addButton").x + part("addButton").width > 900)
            verify(!part("bulkBar").visible)
            tryVerify(() => part("footer").height > 60)
            compare(part("convertButton").text, "Конвертировать")
            verify(part("convertButton").enabled)
            verify(!part("clearButton").visible)
            verify(!part("stopButton").visible)

            const second = stage.addJob("b.wav")
            verify(part("bulkBar").visible)
            compare(part("convertButton").text, "Конвертировать · 2")
            // The width it takes without the count is known ahead, for its pictures.
            const ahead = part("convertButton").background.preparedWidth
            verify(ahead > 100)
            tryVerify(() => part("convertButton").width > ahead)

            stage.done(first, 1)
            verify(!part("bulkBar").visible)
            compare(part("convertButton").text, "Конвертировать")
            tryCompare(part("convertButton"), "width", ahead)
            verify(part("clearButton").visible)

            // Only a failed job left: the main button tries it again.
            stage.failed(second, "Нет")
            verify(part("convertButton").enabled)

            mouseClick(part("clearButton"))
            compare(Store.jobs.count, 0)
            tryVerify(() => part("dropHero").visible)
        }

        function test_command_return_converts_only_with_ready_jobs() {
            const job = stage.addJob("data.json")
            stage.done(job, 1)
            keyClick(Qt.Key_Return, Qt.ControlModifier)
            verify(!Store.busy)
            compare(job.status, Job.Done)

            const ready = stage.addJob("more.json")
            keyClick(Qt.Key_Return, Qt.ControlModifier)
            verify(ready.status !== Job.Ready)
            tryVerify(() => !Store.busy, 30000)
            // The file is no JSON: what matters is that it was converted, not how it ended.
            verify(ready.status === Job.Done || ready.status === Job.Failed)
        }

        function test_bulk_bar_rows_chips_and_selection() {
            const a = stage.addJob("a.wav")
            stage.addJob("b.wav")
            const image = stage.addJob("c.png")

            tryVerify(() => bulkRow("audio") !== null)
            verify(bulkRow("image") !== null)
            verify(bulkRow("video") === null)

            compare(chips("image").map(c => c.format), image.targets)
            const selectedImage = chips("image").filter(c => c.selected).map(c => c.format)
            compare(selectedImage, [image.target])
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

        function test_the_rows_stay_under_the_pointer_when_a_batch_starts() {
            const jobs = [stage.addJob("a.wav"), stage.addJob("b.wav"), stage.addJob("c.wav")]
            const bar = part("bulkBar")
            tryVerify(() => bar.visible && bar.height > 20)
            const list = part("jobList")
            waitForItemPolished(list)
            const row = list.itemAtIndex(1)
            // The rows have slid into place.
            wait(1200)
            let last = -1
            tryVerify(() => {
                const y = row.mapToItem(view, 0, 0).y
                const still = y === last
                last = y
                return still
            }, 3000, "the rows do not settle")
            const before = row.mapToItem(view, 0, 0).y
            // The pointer rests on the second row while the batch starts.
            mouseMove(row, 200, 20)
            for (const job of jobs) stage.queued(job)
            compare(Store.readyCount, 0)
            verify(view.pointerOverList)
            wait(400)
            compare(row.mapToItem(view, 0, 0).y, before)
            // The band it keeps shows its last chips, inactive, not an empty strip.
            verify(bulkRow("audio") !== null)
            verify(chips("audio").length > 1)
            verify(!bar.enabled)
            verify(bar.opacity < 1)
            // Once the pointer has left the list, the bar goes.
            mouseMove(view, 500, 20)
            tryVerify(() => !bar.visible)
            tryVerify(() => row.mapToItem(view, 0, 0).y < before)
            compare(bulkRow("audio"), null)
        }

        function test_quality_selector_writes_the_store_and_moves_its_pill() {
            stage.addJob("a.wav")
            const selector = part("qualitySelector")
            const pill = findChild(selector, "pill")
            const best = findChild(selector, "segment0")
            tryVerify(() => part("footer").height > 60)
            tryVerify(() => Math.abs(pill.x - findChild(selector, "segment1").x - 3) < 0.5)

            mouseClick(best)
            compare(Store.quality, "best")
            tryVerify(() => Math.abs(pill.x - best.x - 3) < 0.5)
            compare(pill.width, best.width)

            // A selection outside the options shows no pill.
            selector.selection = "none"
            verify(!pill.visible)
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

            Store.outputDirectory = ""
            compare(outputMenu(), ["Рядом с файлом", "", ["besideItem"]])
        }

        function test_a_click_anywhere_on_the_drop_area_asks_for_files() {
            openSpy.clear()
            const hero = part("dropHero")
            mouseClick(hero, 30, 30)
            compare(openSpy.count, 1)
            // The panel is modal: it goes before the window takes the next click.
            tryVerify(() => part("openPanel").opened)
            keyClick(Qt.Key_Escape)
            tryVerify(() => !part("openPanel").visible)
            mouseClick(hero, hero.width / 2, hero.height - 20)
            compare(openSpy.count, 2)
        }

        function test_a_drag_over_the_empty_window_lights_up_the_drop_area() {
            const hero = part("dropHero")
            const symbol = findChild(hero, "badgeSymbol")
            compare(findChild(hero, "heroTitle").text, "Перетащите файлы сюда")

            view.isTargeted = true
            compare(findChild(hero, "heroTitle").text, "Отпускайте")
            tryCompare(findChild(hero, "badge"), "scale", 1.08, 2000)
            tryCompare(symbol, "rotation", 360, 2000)
            // The drop frame belongs to the list; the empty window shows the drop area.
            verify(!part("dropFrame").visible)

            // Leaving does not turn the symbol back; the next drag turns it the other way.
            view.isTargeted = false
            tryCompare(findChild(hero, "badge"), "scale", 1, 2000)
            compare(symbol.rotation, 360)
            view.isTargeted = true
            tryCompare(symbol, "rotation", 0, 2000)
            view.isTargeted = false
        }

        function test_a_drag_over_the_list_shows_the_drop_frame() {
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
