#!/usr/bin/env python3
"""Writes a generated data file of about N megabytes to standard output.

Usage: data_generate.py json|csv MEGABYTES
       data_generate.py short-json|short-csv RECORDS

The records look like a program's export: ids, Cyrillic names, prices, flags, cities and
a quoted comment, so readers meet numbers, escapes, quotes and non-ASCII text. The
"short" shape is many small records of short Cyrillic strings, numbers, booleans, nulls
and small arrays (120,000 of them make about 6.6 MB of JSON), where the cost per value
and per record weighs more than the cost per byte.
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
elif kind in ("short-json", "short-csv"):
    words = ["да", "нет", "Юля", "Пётр", "кот", "дом", "Оля", "лес", "мир", "сад"]
    records = int(megabytes)
    if kind == "short-csv":
        emit("id;s;b;n;z;a\n")
    else:
        emit("[")
    for i in range(records):
        word, other = rng.choice(words), rng.choice(words)
        flag = "true" if i % 3 else "false"
        if kind == "short-csv":
            emit('%d;%s;%s;%d;;"[1,""%s""]"\n' % (i, word, flag, rng.randrange(100), other))
        else:
            emit(('{"id":%d,"s":"%s","b":%s,"n":%d,"z":null,"a":[1,"%s"]}'
                  % (i, word, flag, rng.randrange(100), other)) +
                 ("," if i + 1 < records else "]\n"))
else:
    sys.exit("usage: data_generate.py json|csv MEGABYTES, or short-json|short-csv RECORDS")
out.write("".join(chunk))
