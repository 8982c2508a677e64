import QtQuick
import QtTest
import Lumatra

Item {
    id: root
    width: 600
    height: 700

    TestCase {
        id: testCase
        name: "FormatMenu"
        when: windowShown

        Component { id: menuComponent; FormatMenu {} }

        function cleanup() { stage.clear() }

        function openMenu(job) {
            const menu = createTemporaryObject(menuComponent, root, { job: job })
            // Made on first use.
            compare(menu.menu, null)
            menu.openMenu()
            tryVerify(() => menu.menu.opened)
            wait(50)
            return menu
        }

        function list(children) {
            const items = []
            for (let i = 0; i < children.length; ++i) items.push(children[i])
            return items
        }

        function item(menu, format) {
            for (const group of list(menu.menu.contentItem.children)) {
                for (const child of list(group.children ?? [])) {
                    if (child.objectName === "format_" + format) return child
                }
            }
            return null
        }

        function test_chip_shows_the_raw_value_and_items_title_and_detail() {
            const job = stage.addJob("clip.mp4")
            const menu = openMenu(job)
            compare(item(menu, "hevc").text, "MP4 HEVC — H.265, вдвое меньше")

            mouseClick(item(menu, "hevc"))
            compare(job.target, "hevc")
            tryVerify(() => !menu.menu.visible)
            compare(findChild(menu, "chipLabel").text, "HEVC")

            menu.openMenu()
            tryVerify(() => menu.menu.opened)
            wait(50)
            verify(item(menu, "hevc").current)
            verify(!item(menu, "mp4").current)
        }
    }
}
