"""«Конвертировать в» in GNOME Files' context menu.

The submenu lists the formats every selected file can take, as `lumatra --targets`
tells (grouped by kind when the files share none), and «Другой формат…», which opens
Lumatra's window with the files. Choosing a format runs `lumatra --convert-to`, which
converts in the background and tells how it went in a desktop notification.
"""

import shutil
import subprocess
import threading

from gi.repository import GObject, Nautilus

PROGRAM = "lumatra"
# Building the menu waits for the program at most this long: the file manager's menu
# must never stall.
ANSWER_SECONDS = 2
# Larger selections get the window only: listing their targets could take too long.
LARGEST_SELECTION = 5000


def local_paths(files):
    """The local paths of `files`; None when any of them is not a local file."""
    paths = []
    for info in files:
        location = info.get_location()
        path = location.get_path() if location is not None else None
        if not path:
            return None
        paths.append(path)
    return paths


def target_groups(program, paths):
    """[(group title or None, [(format, title)])] for `paths`, in the program's order."""
    try:
        answer = subprocess.run(
            [program, "--targets", "--", *paths],
            stdin=subprocess.DEVNULL,
            capture_output=True,
            timeout=ANSWER_SECONDS,
            check=False,
        )
    except (OSError, subprocess.SubprocessError):
        return []
    if answer.returncode != 0:
        return []
    groups = []
    for line in answer.stdout.decode("utf-8", "replace").splitlines():
        fields = line.split("\t")
        if len(fields) != 2:
            continue
        if fields[0] == "#":
            groups.append((fields[1], []))
            continue
        if not groups:
            groups.append((None, []))
        groups[-1][1].append((fields[0], fields[1]))
    return [group for group in groups if group[1]]


def start(arguments):
    """Starts the program without waiting for it; it is reaped when it ends."""
    try:
        process = subprocess.Popen(
            arguments,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )
    except OSError:
        return
    threading.Thread(target=process.wait, daemon=True).start()


class LumatraConvertMenu(GObject.GObject, Nautilus.MenuProvider):
    program = shutil.which(PROGRAM) or PROGRAM

    def menu_items(self, files):
        """The «Конвертировать в» item for `files`; empty when none applies."""
        paths = local_paths(files)
        if not paths:
            return []
        groups = target_groups(self.program, paths) if len(paths) <= LARGEST_SELECTION else []

        top = Nautilus.MenuItem(name="Lumatra::convert", label="Конвертировать в", icon="lumatra")
        submenu = Nautilus.Menu()
        top.set_submenu(submenu)
        for number, (title, formats) in enumerate(groups):
            menu = submenu
            if title is not None:
                group = Nautilus.MenuItem(name=f"Lumatra::group{number}", label=title)
                menu = Nautilus.Menu()
                group.set_submenu(menu)
                submenu.append_item(group)
            for format_id, format_title in formats:
                item = Nautilus.MenuItem(
                    name=f"Lumatra::{number}:{format_id}", label=format_title
                )
                item.connect("activate", self.convert, format_id, paths)
                menu.append_item(item)
        other = Nautilus.MenuItem(name="Lumatra::other", label="Другой формат…")
        other.connect("activate", self.open_window, paths)
        submenu.append_item(other)
        return [top]

    def convert(self, _item, format_id, paths):
        start([self.program, "--convert-to", format_id, "--", *paths])

    def open_window(self, _item, paths):
        start([self.program, "--", *paths])

    # GNOME Files 43 passes the selection alone; earlier versions the window first.
    def get_file_items(self, *arguments):
        return self.menu_items(arguments[-1])

    def get_background_items(self, *_arguments):
        return []
