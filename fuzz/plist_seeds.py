#!/usr/bin/env python3
"""Writes large property-list seeds for plist_fuzz into a folder (kept out of git).

Usage: plist_seeds.py FOLDER

The files are the hostile shapes the readers must survive: 200,000 arrays opened with an
attribute that holds "/>" (2.8 MB), nesting just under and over the limit, a binary list
of 500,000 integers and one whose arrays refer to each other.
"""
import os
import plistlib
import sys

folder = sys.argv[1]
os.makedirs(folder, exist_ok=True)


def write(name, data):
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data if isinstance(data, bytes) else data.encode())


write("attribute_nesting.plist", "<plist>" + '<array a="/>">' * 200000)
write("deep_1024.plist", "<plist>" + "<array>" * 1024 + "</array>" * 1024 + "</plist>")
write("deep_1025.plist", "<plist>" + "<dict><key>k</key>" * 1025)
write("integers.plist", plistlib.dumps(list(range(500000)), fmt=plistlib.FMT_BINARY))
write("records.plist", plistlib.dumps(
    [{"name": "Клиент %d" % i, "n": i, "f": i / 3, "ok": i % 2 == 0} for i in range(2000)]))
# Two arrays that hold each other: offsets of objects 0 and 1, each an array of the other.
body = b"bplist00" + b"\xA1\x01" + b"\xA1\x00"
table = len(body)
body += bytes([8, 10])
write("circle.plist", body + bytes(6) + bytes([1, 1]) + (2).to_bytes(8, "big") +
      (0).to_bytes(8, "big") + table.to_bytes(8, "big"))
