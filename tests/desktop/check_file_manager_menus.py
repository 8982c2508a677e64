#!/usr/bin/python3
"""Installs the built program into a scratch prefix and uses its «Конвертировать в»
entries as each file manager does (Dolphin's and Nemo's Exec lines expanded, Thunar's
entries launched through GIO, GNOME Files' extension asked for its menu); checks what
each offers for a selection and the files the chosen entries make.

    check_file_manager_menus.py BUILD_DIR
"""

import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import gi

from gi.repository import Gio, GLib, GObject

try:
    gi.require_version("Nautilus", "4.0")
    from gi.repository import Nautilus
except (ValueError, ImportError):
    Nautilus = None

scratch = Path(tempfile.mkdtemp(prefix="lumatra-menus-"))
prefix = scratch / "prefix"
share = prefix / "share"
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message, file=sys.stderr)


subprocess.run(["cmake", "--install", sys.argv[1], "--prefix", str(prefix)],
               check=True, stdout=subprocess.DEVNULL)

# The program as the file manager starts it: found on PATH, the saved settings of a
# fresh user (results next to each file), no window running, no notification service.
(scratch / "runtime").mkdir(mode=0o700)
os.environ.update({
    "PATH": f"{prefix / 'bin'}:{os.environ['PATH']}",
    "XDG_CONFIG_HOME": str(scratch / "config"),
    "XDG_RUNTIME_DIR": str(scratch / "runtime"),
    "DBUS_SESSION_BUS_ADDRESS": f"unix:path={scratch / 'no-bus'}",
})
os.environ.pop("DISPLAY", None)
os.environ.pop("WAYLAND_DISPLAY", None)

files = scratch / "files"
files.mkdir()


def media(path, source="sine=d=0.2"):
    subprocess.run(["ffmpeg", "-loglevel", "error", "-f", "lavfi", "-i", source, "-frames:v", "1",
                    os.fsencode(path)], check=True)


# Names a file manager hands over as they are: spaces, a line break, bytes not UTF-8.
songs = [files / "song one.wav", files / "line\nbreak.wav", files / os.fsdecode(b"caf\xe9.wav")]
for song in songs + [files / "clip.mp4"]:
    media(song)
media(files / "photo.png", "color=c=red:s=8x8")
media(files / "pic.gif", "color=c=red:s=8x8")
(files / "data.json").write_text('[{"a": 1}]')
(files / "notes.txt").write_text("notes")


def entries(folder, group, section=None):
    """{label: (types, exec, path, excluded types)} of the menu files in `folder`."""
    found = {}
    for path in sorted((share / folder).iterdir()):
        keys = GLib.KeyFile()
        keys.load_from_file(str(path), GLib.KeyFileFlags.NONE)
        types = keys.get_string(group, "MimeType" if group != "Nemo Action" else "Mimetypes")
        try:
            excluded = keys.get_string(group, "ExcludeServiceTypes").split(",")
        except GLib.Error:
            excluded = []
        found[keys.get_string(section or group, "Name")] = (
            [t for t in types.split(";") if t], keys.get_string(section or group, "Exec"), path,
            excluded)
    return found


def offered(menu, selection):
    """The labels a file manager shows: an entry one of whose types (or a type above it)
    every selected file has, and none of its excluded types."""
    kinds = [Gio.content_type_guess(os.fsdecode(f.name), None)[0] for f in selection]
    return [label for label, (types, _, _, excluded) in menu.items()
            if all(any(Gio.content_type_is_a(k, t) for t in types) and k not in excluded
                   for k in kinds)]


def expand(exec_line, paths, quote=False):
    """The argv of an Exec line with %F expanded to the paths."""
    if quote:
        # Nemo puts the quoted paths into the line, then splits it as a shell does.
        joined = " ".join(GLib.shell_quote(os.fsdecode(p)) for p in paths)
        return GLib.shell_parse_argv(exec_line.replace("%F", joined))[1]
    argv = []
    for word in GLib.shell_parse_argv(exec_line)[1]:
        argv.extend(os.fsencode(p) for p in paths) if word == "%F" else argv.append(word)
    return argv


def run(argv):
    return subprocess.run(argv, capture_output=True, timeout=300)


def made(*paths):
    return all(p.exists() for p in paths)


# Dolphin: one submenu gathers the entries whose types every selected file has.
dolphin = entries("kio/servicemenus", "Desktop Entry", "Desktop Action convert")
audio = ["MP3", "M4A", "WAV", "FLAC", "ALAC", "OPUS", "OGG", "AIFF"]
pictures = ["JPG", "PNG", "HEIC", "AVIF", "TIFF", "GIF", "BMP", "ICO", "ICNS", "PDF"]
for selection, wanted in [
    (songs, audio),
    ([songs[0], files / "clip.mp4"], audio),
    ([files / "photo.png", files / "pic.gif"], pictures),
    ([files / "data.json"], ["CSV", "PLIST"]),
    ([files / "notes.txt"], ["PDF", "DOCX", "RTF", "HTML", "ODT"]),
]:
    got = offered(dolphin, selection)
    check(got == wanted + ["Другой формат…"], f"Dolphin offers {got} for {selection}")
# (No notification service answers: the end is told on standard error, and nothing waits.)
started = time.monotonic()
answer = run(expand(dolphin["MP3"][1], songs))
errors = answer.stderr.decode(errors="replace")
check(answer.returncode == 0 and "Готово 3 → MP3" in errors, f"Dolphin's MP3 failed: {errors}")
check(time.monotonic() - started < 20, "a conversion without notifications waited")
check(made(*(s.with_suffix(".mp3") for s in songs)), "Dolphin's MP3 made no results")

# Thunar: its «Отправить» entries (sorted by name), started through GIO as Thunar does.
thunar = entries("Thunar/sendto", "Desktop Entry")
got = offered(thunar, [files / "photo.png", files / "pic.gif"])
check("Конвертировать в JPG" in got and "Конвертировать в MP4" not in got,
      f"Thunar offers {got} for pictures")
pids = []
jpg = Gio.DesktopAppInfo.new_from_filename(str(thunar["Конвертировать в JPG"][2]))
jpg.launch_uris_as_manager(
    [Gio.File.new_for_path(str(files / n)).get_uri() for n in ("photo.png", "pic.gif")], None,
    GLib.SpawnFlags.SEARCH_PATH | GLib.SpawnFlags.DO_NOT_REAP_CHILD, None, None,
    lambda _info, pid, _data: pids.append(pid), None)
for pid in pids:
    os.waitpid(pid, 0)
check(pids and made(files / "photo.jpg", files / "pic.jpg"), "Thunar's JPG made no results")

# Nemo: its actions, the paths quoted into the line.
nemo = entries("nemo/actions", "Nemo Action")
got = offered(nemo, [files / "data.json"])
check(got[-3:] == ["Конвертировать в CSV", "Конвертировать в PLIST", "Lumatra: другой формат…"],
      f"Nemo offers {got} for JSON")
answer = run(expand(nemo["Конвертировать в CSV"][1], [files / "data.json"], quote=True))
check(answer.returncode == 0 and made(files / "data.csv"), "Nemo's CSV made no result")

# A thousand files at once, through the same line.
many = scratch / "many"
many.mkdir()
for number in range(1000):
    (many / f"{number:04} table.json").write_text(f'[{{"n": {number}}}]')
selection = sorted(many.iterdir())
check(run(expand(dolphin["CSV"][1], selection)).returncode == 0, "a thousand files failed")
check(len(list(many.glob("*.csv"))) == 1000, "a thousand files gave fewer results")
answer = run(["lumatra", "--targets", "--", *selection])
check(answer.stdout.decode().startswith("csv\tCSV\n"), "targets of a thousand files")

# A URI as some file managers hand them over: escaped bytes and spaces.
uri = Gio.File.new_for_path(str(songs[0])).get_uri()
answer = run(["lumatra", "--convert-to", "flac", "--", uri])
check(answer.returncode == 0 and made(files / "song one.flac"), "a file URI was not converted")

# A read-only medium: the files fail, saying where to choose another folder; nothing hangs.
# (A read-only mount needs a namespace of its own, which some containers forbid.)
if run(["unshare", "-rm", "true"]).returncode != 0:
    print("no mount namespace here: the read-only medium is skipped")
else:
    (scratch / "medium").mkdir()
    answer = run(["unshare", "-rm", "sh", "-c",
                  'mount -t tmpfs tmpfs "$1" && cp "$2" "$1/" && mount -o remount,ro "$1" && '
                  'lumatra --convert-to mp3 -- "$1/song one.wav"', "sh", str(scratch / "medium"),
                  str(songs[0])])
    errors = answer.stderr.decode()
    check(answer.returncode == 1 and "только для чтения" in errors and "Выбрать папку" in errors,
          f"read-only medium: {answer.returncode} {errors}")

# GNOME Files: the extension, loaded from where it was installed, asked for its menu.
if Nautilus is None:
    print("GNOME Files' extension interface (python3-nautilus) is not installed: skipped")
else:
    class FileInfo(GObject.Object, Nautilus.FileInfo):
        def __init__(self, path):
            super().__init__()
            self.path = path

        def do_get_location(self):
            return Gio.File.new_for_path(os.fsdecode(self.path))

    module = importlib.util.spec_from_file_location(
        "lumatra_convert", share / "nautilus-python/extensions/lumatra-convert.py")
    extension = importlib.util.module_from_spec(module)
    module.loader.exec_module(extension)

    def menu(selection):
        [item] = extension.LumatraConvertMenu().get_file_items([FileInfo(p) for p in selection])
        check(item.props.label == "Конвертировать в", "GNOME Files has no «Конвертировать в»")
        return item.props.menu

    def labels(menu):
        return [(item.props.label, labels(item.props.menu) if item.props.menu else None)
                for item in menu.get_items()]

    album = files / "album"
    album.mkdir()
    results = [album / "01.mp3", album / "02.mp3"]
    for result in results:
        media(result.with_suffix(".wav"))
    plain = lambda names: [(t, None) for t in names]  # noqa: E731
    for selection, wanted in [
        ([album], plain(audio + ["Другой формат…"])),
        ([songs[0], files / "photo.png"],
         [("Аудио", plain(audio)), ("Фото", plain(pictures)), ("Другой формат…", None)]),
    ]:
        got = labels(menu(selection))
        check(got == wanted, f"GNOME Files offers {got}")
    menu([album]).get_items()[0].activate()
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and not made(*results):
        time.sleep(0.2)
    check(made(*results), "GNOME Files' MP3 made no results")

shutil.rmtree(scratch, ignore_errors=True)
if failures:
    sys.exit(1)
print("file manager menus work")
