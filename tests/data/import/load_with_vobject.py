#!/usr/bin/python3
"""Loads every card of the vCard file given as argument with vobject, as a
CardDAV server would, and prints one JSON object per card on one line: each
property name (lower case) with the list of its values as vobject reads them
(structured values joined by '|', binary values as their byte count).
Exits with status 1, naming the card, when one does not load."""
import json
import sys

import vobject


def shown(prop):
    value = prop.value
    if isinstance(value, bytes):
        return "bytes:%d" % len(value)
    if isinstance(value, vobject.vcard.Name):
        return "|".join(str(p) for p in (value.family, value.given, value.additional,
                                         value.prefix, value.suffix))
    if isinstance(value, vobject.vcard.Address):
        return "|".join(str(p) for p in (value.box, value.extended, value.street, value.city,
                                         value.region, value.code, value.country))
    if isinstance(value, list):
        return "|".join(str(p) for p in value)
    return str(value)


def main():
    with open(sys.argv[1], encoding="utf-8", newline="") as stream:
        text = stream.read()
    cards = []
    try:
        for card in vobject.readComponents(text, validate=True):
            card.serialize()
            props = {}
            for child in card.getChildren():
                props.setdefault(child.name.lower(), []).append(shown(child))
            cards.append(props)
    except Exception as error:  # any failure to load is the finding
        print("card %d does not load: %r" % (len(cards) + 1, error), file=sys.stderr)
        return 1
    for props in cards:
        print(json.dumps(props, ensure_ascii=False, sort_keys=True))
    return 0


if __name__ == "__main__":
    sys.exit(main())
