#!/usr/bin/python3
"""Reads one stored card with vobject, as a CardDAV client would, and prints
its texts as JSON: fn, n (family, given, additional, prefix, suffix), org (the
units), title, bday and note; a property the card lacks is null."""
import json
import sys

import vobject


def value_of(card, name):
    prop = getattr(card, name, None)
    return None if prop is None else prop.value


def main():
    with open(sys.argv[1], encoding="utf-8", newline="") as stream:
        card = vobject.readOne(stream.read())
    name = value_of(card, "n")
    print(json.dumps({
        "fn": value_of(card, "fn"),
        "n": None if name is None else {
            "family": name.family, "given": name.given, "additional": name.additional,
            "prefix": name.prefix, "suffix": name.suffix},
        "org": value_of(card, "org"),
        "title": value_of(card, "title"),
        "bday": value_of(card, "bday"),
        "note": value_of(card, "note"),
    }, ensure_ascii=False))


if __name__ == "__main__":
    main()
