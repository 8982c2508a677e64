import QtQuick
import QtTest
import Lumatra

// The window over a fresh ContentView of 1000 × 680 on an empty store: its parts as the
// store changes, and as a user meets it: the smallest size without clipped or
// overlapping controls, the keyboard, the file panels and their modality.
Item {
    id: root
    width: 1000
    height: 680

    TestCase {
        name: "Window"
        when: windowShown

        property var view

        SignalSpy { id: openSpy; target: Store; signalName: "openPanelRequested" }
        Component { id: viewComponent; ContentView { width: 1000; height: 680 } }

        function init() {
            stage.clear()
            Store.quality = "balanced"
            Store.outputDirectory = ""
            openSpy.clear()
            view = createTemporaryObject(viewComponent, parent)
            // The pointer rests on the header unless a test moves it.
            mouseMove(view, 990, 5)
        }
        function cleanup() { stage.clear() }

        function part(name) { return findChild(view, name) }
        function settle() { wait(700) } // springs and fades come to rest
        function focused() { return view.Window.activeFocusItem }

        /// Visible descendants whose object name starts with `prefix`. Rows and chips that a
        /// store change replaced may linger until deleted; they are hidden.
        function descendants(item, prefix) {
            return Array.from(item.children ?? []).reduce((found, child) => found.concat(
                child.visible && child.objectName.startsWith(prefix) ? [child] : [], descendants(child, prefix)), [])
        }

        function rectOf(item) {
            const p = item.mapToItem(view, 0, 0)
            return { x: p.x, y: p.y, w: item.width * item.scale, h: item.height * item.scale,
                     name: item.objectName }
        }
        function overlap(a, b) {
            return a.x + 0.5 < b.x + b.w && b.x + 0.5 < a.x + a.w
                && a.y + 0.5 < b.y + b.h && b.y + 0.5 < a.y + a.h
        }

        function bulkRow(kind) { return descendants(view, "bulk_" + kind)[0] ?? null }

        function chips(kind) { return descendants(bulkRow(kind), "chip_").sort((a, b) => a.x - b.x) }

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

        /// Whether `r` lies wholly inside `outer` (the window when not given).
        function within(r, outer = { x: 0, y: 0, w: view.width, h: view.height }) {
            return r.x >= outer.x - 0.5 && r.y >= outer.y - 0.5 && r.x + r.w <= outer.x + outer.w + 0.5
                && r.y + r.h <= outer.y + outer.h + 0.5
        }
        /// The named controls that are shown (rows have buttons of the same names as the
        /// footer's): each wholly inside the window, no two overlapping.
        function checkLayout(names, label) {
            const footer = ["qualitySelector", "outputMenu", "clearButton", "stopButton", "convertButton"]
            const rects = names.map(name => findChild(footer.includes(name) ? part("footer") : view, name))
                .filter(item => item?.visible && item.width > 0 && item.height > 0).map(rectOf)
            rects.forEach((r, i) => {
                verify(within(r), label + ": " + r.name + " leaves the window " + JSON.stringify(r))
                for (const other of rects.slice(i + 1))
                    verify(!overlap(r, other), label + ": " + r.name + " overlaps " + other.name)
            })
            return rects.length
        }

        function test_nothing_is_clipped_or_overlapping_at_the_smallest_size() {
            view.width = 820
            view.height = 560
            settle()
            // The empty window: the drop area's content stays inside its dashed frame.
            verify(within(rectOf(part("heroContent")), rectOf(part("dropZone"))), "hero outside its frame")
            compare(checkLayout(["menuBar", "header", "dropHero"], "empty"), 3)

            // Every kind ready (five chip rows), one job running, one finished.
            const jobs = ["a.wav", "b.mp4", "c.png", "d.md", "e.json", "f.wav", "g.mp4", "h.png", "i.md",
                          "j.json"].map(name => stage.addJob(name))
            settle()
            const controls = ["menuBar", "header", "bulkBar", "jobList", "qualitySelector",
                              "outputMenu", "clearButton", "stopButton", "convertButton"]
            verify(checkLayout(controls, "five kinds") >= 6)
            // The list keeps at least three rows in view.
            verify(part("jobList").height >= 14 + 3 * 64 + 2 * 10,
                   "list height " + part("jobList").height)

            stage.running(jobs[0], 0.3)
            stage.done(jobs[1], 1)
            settle()
            verify(checkLayout(controls, "running") >= 6)
            // The quality titles keep their room (the other buttons give way), and the main
            // button keeps the window's margin.
            verify(part("qualitySelector").width >= 268, "quality " + part("qualitySelector").width)
            const convert = part("convertButton")
            tryVerify(() => convert.mapToItem(view, convert.width, 0).x <= 820 - 24 + 0.5)

            // The same at a large size.
            view.width = 1600
            view.height = 1000
            settle()
            verify(checkLayout(controls, "large") >= 6)
        }

        function test_a_chip_row_scrolls_is_one_tab_stop_worked_with_the_arrows_and_f6_goes_round() {
            view.width = 820
            view.height = 560
            const a = stage.addJob("a.mp4")
            const b = stage.addJob("b.mp4")
            settle()
            // A row longer than the window scrolls with the wheel and shows there is more.
            const row = findChild(part("bulkBar"), "bulk_video")
            const scroller = findChild(row, "chipScroller")
            verify(scroller.contentWidth > scroller.width && findChild(row, "moreHint").visible)
            compare(scroller.contentX, 0)
            mouseWheel(scroller, 40, 10, 0, -240)
            tryVerify(() => scroller.contentX > 0)
            mouseWheel(scroller, 40, 10, 0, -2400)
            tryVerify(() => !findChild(row, "moreHint").visible)

            part("addButton").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Tab)
            verify(scroller.activeFocus)
            // The mark starts on the shared target and moves with the arrows.
            verify(findChild(row, "chip_" + a.target).keyMarked)
            const start = scroller.keyIndex
            keyClick(Qt.Key_Right)
            keyClick(Qt.Key_Right)
            const marked = Store.bulkKinds[0].targets[start + 2].format
            verify(findChild(row, "chip_" + marked).keyMarked)
            keyClick(Qt.Key_Space)
            compare([a.target, b.target], [marked, marked])
            // The row keeps the keyboard; the next Tab leaves it for the list.
            tryVerify(() => focused()?.objectName === "chipScroller")
            keyClick(Qt.Key_Tab)
            verify(part("jobList").activeFocus)
            // F6 and Shift+F6 go round the bulk bar, the list and the footer.
            const regions = []
            for (let i = 0; i < 3; ++i) {
                keyClick(Qt.Key_F6)
                regions.push(focused().objectName)
            }
            compare(regions, ["qualitySelector", "chipScroller", "jobList"])
            keyClick(Qt.Key_F6, Qt.ShiftModifier)
            compare(focused().objectName, "chipScroller")
        }

        /// The names of the controls `count` presses of Tab reach.
        function tabStops(count) {
            const seen = []
            for (let i = 0; i < count; ++i) {
                keyClick(Qt.Key_Tab)
                if (focused() && focused().objectName !== "") seen.push(focused().objectName)
            }
            return seen
        }

        function test_tab_reaches_the_shown_controls_and_a_done_row_takes_two_stops() {
            // The start screen: nothing of the closed footer is reached.
            settle()
            const footer = ["qualitySelector", "outputMenu", "convertButton"]
            let seen = tabStops(8)
            for (const name of footer) verify(seen.indexOf(name) < 0, name + " in " + seen)

            const done = stage.addJob("done.json")
            stage.addJob("next.json")
            stage.done(done, 1)
            settle()
            part("addButton").forceActiveFocus(Qt.TabFocusReason)
            seen = ["addButton"].concat(tabStops(12))
            for (const name of ["jobList"].concat(footer))
                verify(seen.indexOf(name) >= 0, name + " in " + seen)
            verify(seen.indexOf("jobList") < seen.indexOf("qualitySelector"))
            const chip = findChild(part("jobList").itemAtIndex(0), "formatMenu")
            chip.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Tab)
            compare(focused().objectName, "revealButton")
            keyClick(Qt.Key_Tab)
            compare(focused(), findChild(part("jobList").itemAtIndex(1), "formatMenu"))
            compare(view.selectedRow, 1)
            // Space presses the focused control.
            part("convertButton").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
            tryVerify(() => Store.jobs.jobAt(1).status !== Job.Ready)
            tryVerify(() => !Store.busy, 30000)
        }

        function test_the_file_panel_opens_from_the_drop_area_and_ctrl_o_and_is_modal() {
            // A click anywhere on the drop area asks for files; the panel goes before the
            // window takes the next click.
            const hero = part("dropHero")
            const panel = part("openPanel")
            for (const [x, y] of [[30, 30], [hero.width / 2, hero.height - 20]]) {
                mouseClick(hero, x, y)
                tryVerify(() => panel.opened)
                keyClick(Qt.Key_Escape)
                tryVerify(() => !panel.visible)
            }
            compare(openSpy.count, 2)

            const job = stage.addJob("a.json")
            settle()
            keyClick(Qt.Key_O, Qt.ControlModifier)
            compare(openSpy.count, 3)
            tryVerify(() => panel.opened)
            // A click where the convert button lies reaches the panel's shade, not the button.
            mouseClick(part("convertButton"))
            compare(job.status, Job.Ready)
            verify(panel.visible)
            // The window's shortcuts rest while the panel is up.
            keyClick(Qt.Key_Return, Qt.ControlModifier)
            compare(job.status, Job.Ready)
            // Ctrl+L goes to the path field.
            const field = findChild(panel.contentItem, "pathField")
            verify(!field.activeFocus)
            keyClick(Qt.Key_L, Qt.ControlModifier)
            verify(field.activeFocus)
            keyClick(Qt.Key_Escape)
            tryVerify(() => !panel.visible)
            // Without the panel, Ctrl+Return converts the ready jobs.
            keyClick(Qt.Key_Return, Qt.ControlModifier)
            verify(job.status !== Job.Ready)
            tryVerify(() => !Store.busy, 30000)
        }

        function test_the_file_panel_returns_several_files_and_a_folder() {
            const folder = stage.makeFolder("pick", ["one.json", "two.json", "three.json"])
            stage.makeFolder("pick/sub", ["x.json", "y.json"])
            Store.openPanel()
            const panel = part("openPanel")
            tryVerify(() => panel.opened)
            panel.model.folder = folder // sub, one, three, two
            keyClick(Qt.Key_A, Qt.ControlModifier)
            compare(panel.markedCount, 4)
            keyClick(Qt.Key_Home)
            keyClick(Qt.Key_Down, Qt.ShiftModifier)  // sub, one
            compare(panel.markedCount, 2)
            keyClick(Qt.Key_End)                     // only two
            compare(panel.markedCount, 1)
            compare(panel.current, 3)
            panel.markOnly(0)
            panel.toggle(1)
            panel.toggle(3)                          // sub, one, two
            keyClick(Qt.Key_Return)
            tryVerify(() => !panel.visible)
            // The folder is expanded one level by the store.
            compare(Array.from({ length: Store.jobs.count }, (_, i) => Store.jobs.jobAt(i).fileName),
                    ["x.json", "y.json", "one.json", "two.json"])
        }

        function test_the_folder_panel_chooses_makes_and_refuses_folders() {
            stage.addJob("a.json")
            const empty = stage.makeFolder("empty", [])
            Store.chooseOutputDirectory()
            const panel = part("folderPanel")
            tryVerify(() => panel.opened)
            panel.model.folder = empty
            keyClick(Qt.Key_Return)
            tryVerify(() => !panel.visible)
            compare(Store.outputDirectoryPath, empty)

            // A new folder is named first, then made and chosen.
            Store.chooseOutputDirectory()
            tryVerify(() => panel.opened)
            compare(panel.model.folder, empty) // where results go now
            mouseClick(findChild(panel.contentItem, "newFolderButton"))
            const name = findChild(panel.contentItem, "newFolderName")
            tryVerify(() => name.visible && name.activeFocus)
            compare(panel.model.count, 0)
            compare(name.selectedText, "Новая папка")
            name.text = "Итоги"
            keyClick(Qt.Key_Return)
            compare(panel.model.pathAt(0), empty + "/Итоги")
            verify(!name.visible)
            // A taken name is said, not reused.
            mouseClick(findChild(panel.contentItem, "newFolderButton"))
            name.text = "Итоги"
            keyClick(Qt.Key_Return)
            compare(findChild(panel.contentItem, "problemText").text, "Папка «Итоги» уже есть.")
            compare(panel.model.count, 1)
            mouseClick(findChild(panel.contentItem, "acceptButton"))
            tryVerify(() => !panel.visible)
            compare(Store.outputDirectoryPath, empty + "/Итоги")

            // A typed folder that does not exist is said, and may be made.
            Store.chooseOutputDirectory()
            tryVerify(() => panel.opened)
            const field = findChild(panel.contentItem, "pathField")
            field.forceActiveFocus()
            field.text = empty + "/нет/такой"
            keyClick(Qt.Key_Return)
            verify(panel.visible)
            compare(Store.outputDirectoryPath, empty + "/Итоги")
            compare(findChild(panel.contentItem, "problemText").text, "Папки «" + empty + "/нет/такой» нет.")
            mouseClick(findChild(panel.contentItem, "createTypedButton"))
            tryVerify(() => !panel.visible)
            compare(Store.outputDirectoryPath, empty + "/нет/такой")
        }

        function test_quitting_asks_only_while_converting() {
            const dialog = part("quitDialog")
            // What a busy queue's Lifecycle.requestQuit() asks (idle, it would end the run).
            Lifecycle.confirmationNeeded()
            tryVerify(() => dialog.opened)
            compare(findChild(dialog.contentItem, "quitTitle").text, "Идёт конвертация")
            mouseClick(findChild(dialog.contentItem, "stayButton"))
            tryVerify(() => !dialog.visible)
            verify(!Lifecycle.quitting)
        }

        function ringShown(item) { return Array.from(item.children).some(child => child.shown === true && child.visible) }
        /// Whether `item` lies below the list, not over a row.
        function belowList(item) { return rectOf(item).y >= rectOf(part("jobList")).y + part("jobList").height - 0.5 }

        function test_a_batch_neither_moves_the_rows_nor_puts_tidying_where_stop_was() {
            // Three files that are no JSON: every one fails.
            const jobs = ["a.json", "b.json", "c.json"].map(name => stage.addJob(name))
            settle()
            const bar = part("bulkBar")
            verify(bar.visible)
            // The rows stay where they were (a moved row moves a whole bar's height).
            const places = () => [0, 1, 2].map(i => rectOf(part("jobList").itemAtIndex(i)).y)
            const before = places()
            const samePlaces = () => verify(places().every((y, i) => Math.abs(y - before[i]) < 1.5),
                                            "rows moved: " + places() + " against " + before)
            // The pointer rests on a row as the batch starts.
            mouseMove(part("jobList").itemAtIndex(1), 200, 20)
            Store.convertAll()
            verify(Store.busy && view.pointerOverList)
            // The band it keeps shows its last chips, inactive, not an empty strip.
            verify(descendants(bar, "chip_").length > 1 && !bar.enabled)
            const stop = findChild(part("footer"), "stopButton") // rows have their own
            verify(stop.visible && !part("clearButton").visible)
            waitForItemPolished(stop.parent)
            const stopPlace = rectOf(stop)
            settle()
            samePlaces()
            tryVerify(() => !Store.busy, 30000)
            settle()
            // The band stays, dimmed, and the rows with it, wherever the pointer is.
            samePlaces()
            verify(bar.visible && bar.opacity < 1)
            mouseMove(part("jobList"), 300, 30)
            mouseMove(view, 500, 5)
            settle()
            samePlaces()
            // «Очистить готовые» has a place of its own: a late double click on Stop
            // removes nothing.
            verify(part("clearButton").visible && !overlap(rectOf(part("clearButton")), stopPlace))
            mouseDoubleClickSequence(view, stopPlace.x + stopPlace.w / 2, stopPlace.y + stopPlace.h / 2)
            settle()
            compare(Store.jobs.count, 3)

            // The end is summed up under the list, with a way to the failures.
            compare(findChild(part("batchStrip"), "batchText").text, "Готово 0 · 3 ошибки")
            verify(belowList(part("batchStrip")))
            mouseClick(part("nextFailedButton"))
            compare(view.selectedRow, 0)
            mouseClick(part("nextFailedButton"))
            compare(view.selectedRow, 1)
            mouseClick(part("retryFailedButton"))
            verify(jobs.every(job => job.status !== Job.Failed))
            tryVerify(() => !Store.busy, 30000)

            // A notice lies under the list too.
            Store.addPaths(["/nonexistent/missing.wav"])
            settle()
            verify(part("notice").visible && belowList(part("notice")))
            Store.dismissNotice()
        }

        function test_the_keyboard_selects_rows_works_their_menus_and_removes_them() {
            const a = stage.addJob("a.json")
            stage.addJob("b.json")
            const c = stage.addJob("c.json")
            stage.running(c, 0.5)
            settle()
            const list = part("jobList")
            list.forceActiveFocus(Qt.TabFocusReason)
            compare(view.selectedRow, 0)
            keyClick(Qt.Key_Down)
            compare(view.selectedRow, 1)
            keyClick(Qt.Key_Space)
            const chip = findChild(list.itemAtIndex(1), "formatMenu")
            tryVerify(() => chip.menu !== null && chip.menu.opened)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Return)
            tryVerify(() => !chip.menu.visible)
            // The focus is back on the chip, with its ring, and the row still selected.
            tryVerify(() => chip.activeFocus)
            verify(ringShown(chip))
            compare(view.selectedRow, 1)
            verify(list.itemAtIndex(1).selected)
            compare(Store.jobs.jobAt(1).target, "plist")
            // Tab goes on to the next control of that row, which shows its ring too.
            keyClick(Qt.Key_Tab)
            compare(focused().objectName, "removeButton")
            verify(ringShown(focused()))
            verify(list.itemAtIndex(1).selected)
            // Escape closes a menu the same way.
            keyClick(Qt.Key_Tab, Qt.ShiftModifier)
            keyClick(Qt.Key_Space)
            tryVerify(() => chip.menu.opened)
            keyClick(Qt.Key_Escape)
            tryVerify(() => chip.activeFocus)

            list.forceActiveFocus(Qt.TabFocusReason)
            compare(view.selectedRow, 1)
            keyClick(Qt.Key_Delete)
            tryCompare(Store.jobs, "count", 2)
            compare(Store.jobs.jobAt(0), a)
            compare(view.selectedRow, 1) // now on c
            // The running row has no ×: Delete and Backspace leave it.
            keyClick(Qt.Key_Backspace)
            keyClick(Qt.Key_Delete)
            compare(Store.jobs.count, 2)
            keyClick(Qt.Key_Up)
            keyClick(Qt.Key_Backspace)
            tryCompare(Store.jobs, "count", 1)
            compare(Store.jobs.jobAt(0), c)
            stage.cancelled(c)
        }

        function test_done_rows_open_with_enter_or_a_double_click_and_tab_scrolls_rows_in() {
            const jobs = Array.from({ length: 14 }, (_, i) => stage.addJob("f" + i + ".json"))
            stage.done(jobs[0], 1)
            stage.done(jobs[1], 1)
            settle()
            // The results were never written: opening them finds that out instead of
            // starting a program, and the rows say so.
            const list = part("jobList")
            list.positionViewAtBeginning()
            list.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Return)
            verify(jobs[0].resultMissing)
            verify(!jobs[1].resultMissing)
            mouseDoubleClickSequence(list.itemAtIndex(1), 300, 20)
            verify(jobs[1].resultMissing)

            // A row reached by Tab, the first one not wholly in view, is scrolled into it.
            let next = 0
            while (within(rectOf(list.itemAtIndex(next)), rectOf(list))) ++next
            findChild(list.itemAtIndex(next - 1), "removeButton").forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Tab)
            compare(view.selectedRow, next)
            const row = list.itemAtIndex(next)
            compare(focused(), findChild(row, "formatMenu"))
            tryVerify(() => within(rectOf(row), rectOf(list)), 1000, "the row is not in view")
        }
    }
}
