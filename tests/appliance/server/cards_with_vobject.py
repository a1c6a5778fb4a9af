#!/usr/bin/python3
"""Reads a CardDAV REPORT answer (multistatus XML) from standard input, loads
each card's address data with vobject as a CardDAV client does, and prints
one JSON object by FN: for every other property (UID, VERSION, PRODID and
REV aside) a list of [value, sorted TYPE values, the group's X-ABLabel]."""
import json
import sys
import xml.etree.ElementTree as ElementTree

import vobject

CARDDAV = "{urn:ietf:params:xml:ns:carddav}"
SKIPPED = {"uid", "version", "prodid", "rev", "fn", "x-ablabel"}


def plain(value):
    if isinstance(value, vobject.vcard.Name):
        return [value.family, value.given, value.additional, value.prefix, value.suffix]
    if isinstance(value, vobject.vcard.Address):
        return [value.box, value.extended, value.street, value.city, value.region,
                value.code, value.country]
    return value


cards = {}
for data in ElementTree.fromstring(sys.stdin.read()).iter(CARDDAV + "address-data"):
    card = vobject.readOne(data.text)
    labels = {line.group: line.value for line in card.lines()
              if line.name.lower() == "x-ablabel" and line.group}
    fields = {}
    for line in card.lines():
        name = line.name.lower()
        if name in SKIPPED:
            continue
        types = sorted(t.upper() for t in line.params.get("TYPE", []))
        fields.setdefault(name, []).append([plain(line.value), types,
                                            labels.get(line.group, "")])
    cards[card.fn.value] = fields
print(json.dumps(cards, ensure_ascii=False, sort_keys=True, indent=1))
