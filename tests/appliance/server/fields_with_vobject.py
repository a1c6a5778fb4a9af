#!/usr/bin/python3
"""Reads a CardDAV REPORT answer (multistatus XML) from standard input, loads
each card's address data with vobject as a CardDAV client does, and prints
one JSON object by UID with the texts a client shows: fn, the five name
parts, org (its units), title, note and bday."""
import json
import sys
import xml.etree.ElementTree as ElementTree

import vobject

CARDDAV = "{urn:ietf:params:xml:ns:carddav}"


def text_of(card, name):
    child = getattr(card, name, None)
    return None if child is None else child.value


cards = {}
for data in ElementTree.fromstring(sys.stdin.read()).iter(CARDDAV + "address-data"):
    card = vobject.readOne(data.text)
    name = text_of(card, "n")
    cards[card.uid.value] = {
        "fn": text_of(card, "fn"),
        "n": None if name is None else [name.family, name.given, name.additional,
                                        name.prefix, name.suffix],
        "org": text_of(card, "org"),
        "title": text_of(card, "title"),
        "note": text_of(card, "note"),
        "bday": text_of(card, "bday"),
    }
print(json.dumps(cards, ensure_ascii=False))
