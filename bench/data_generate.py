#!/usr/bin/env python3
"""Writes a generated data file of about N megabytes to standard output.

Usage: data_generate.py json|csv MEGABYTES

The records look like a program's export: ids, Cyrillic names, prices, flags, cities and
a quoted comment, so readers meet numbers, escapes, quotes and non-ASCII text.
"""
import random
import sys

kind, megabytes = sys.argv[1], float(sys.argv[2])
target = int(megabytes * 1_000_000)
rng = random.Random(42)
cities = ["Москва", "Казань", "Berlin", "Lisboa", "Новосибирск"]
out = sys.stdout
written = 0
chunk = []

def emit(text):
    global written
    chunk.append(text)
    written += len(text.encode())
    if len(chunk) >= 10000:
        out.write("".join(chunk))
        chunk.clear()

if kind == "json":
    emit("[\n")
    i = 0
    while written < target:
        emit(("," if i else "") +
             '{"id":%d,"name":"Клиент %d","price":%d.%02d,"active":%s,"city":"%s",'
             '"tags":["a","b\\n"],"note":null}\n'
             % (i, rng.randrange(100000), rng.randrange(10000), rng.randrange(100),
                "true" if rng.randrange(2) else "false", rng.choice(cities)))
        i += 1
    emit("]\n")
elif kind == "csv":
    emit("id,name,price,active,city,comment\n")
    i = 0
    while written < target:
        emit('%d,Клиент %d,%d.%02d,%s,%s,"quoted, with ""comma"""\n'
             % (i, rng.randrange(100000), rng.randrange(10000), rng.randrange(100),
                "true" if rng.randrange(2) else "false", rng.choice(cities)))
        i += 1
else:
    sys.exit("usage: data_generate.py json|csv MEGABYTES")
out.write("".join(chunk))
