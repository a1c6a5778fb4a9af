#!/usr/bin/python3
"""Reads vCard files with vobject, as a CardDAV client would, and prints each
file's properties as JSON: a list per file of [NAME, value as text, sorted
TYPE values], the card's own UID, VERSION, PRODID and REV left out."""
import json
import sys

import vobject

OWN = {"UID", "VERSION", "PRODID", "REV"}


def text_of(value):
    if isinstance(value, (bytes, bytearray)):
        return value.hex()
    if isinstance(value, list):
        return ",".join(text_of(v) for v in value)
    return str(value)


def properties(path):
    with open(path, encoding="utf-8", newline="") as stream:
        card = vobject.readOne(stream.read())
    found = []
    for line in card.getChildren():
        name = line.name.upper()
        if name in OWN:
            continue
        types = sorted(t.upper() for t in line.params.get("TYPE", []))
        found.append([name, text_of(line.value), types])
    return found


def main():
    print(json.dumps([properties(path) for path in sys.argv[1:]], ensure_ascii=False))


if __name__ == "__main__":
    main()
