#!/usr/bin/python3
"""Reads a CardDAV REPORT answer (multistatus XML) from standard input, loads
each card's address data with vobject as a CardDAV client does, and prints
one JSON object by UID with the texts a client shows: fn, the five name
parts, org (its units), title, note and bday, and the values of every url,
tel, email, nickname and X- property (lists, in the card's order)."""
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
    for child in card.getChildren():
        key = child.name.lower()
        if key in ("url", "tel", "email", "nickname") or key.startswith("x-"):
            cards[card.uid.value].setdefault(key, []).append(child.value)
print(json.dumps(cards, ensure_ascii=False))
