#!/usr/bin/python3
"""Loads pairs of cards with vobject, as a CardDAV server would, and compares
them property by property: for every NAME.before.vcf in the folder given as
argument, NAME.after.vcf must load and hold the same properties, parameters
and values. Left out of the comparison, as a no-op edit may change them: FN,
the parameters of N, NOTE, TITLE, ORG and BDAY, an empty NOTE or N, trailing
empty components of N and ORG, the letter case of names and how a TYPE list
is spelled. Each card after the edit must also pass the CardDAV server's
own check of an uploaded card (Radicale's). Prints each difference and exits
with status 1 when there is one or when a card does not load."""
import os
import sys

import vobject
from radicale import item as radicale_item

SINGLE = {"n", "note", "title", "org", "bday"}


def value_of(child):
    value = child.value
    if isinstance(value, bytes):
        return "bytes:" + value.hex()
    if isinstance(value, vobject.vcard.Name):
        parts = [value.family, value.given, value.additional, value.prefix, value.suffix]
    elif isinstance(value, vobject.vcard.Address):
        parts = [value.box, value.extended, value.street, value.city, value.region, value.code,
                 value.country]
    elif isinstance(value, list):
        parts = list(value)
    else:
        return str(value)
    parts = ["|".join(p) if isinstance(p, list) else str(p) for p in parts]
    while parts and parts[-1] == "":
        parts.pop()
    return ";".join(parts)


def properties(path):
    with open(path, encoding="utf-8", newline="") as stream:
        card = vobject.readOne(stream.read(), validate=True)
    card.serialize()
    found = []
    for child in card.getChildren():
        name = child.name.lower()
        value = value_of(child)
        if name == "fn" or (name in ("note", "n") and value == ""):
            continue
        params = []
        if name not in SINGLE:
            for key, values in child.params.items():
                flat = sorted(v for one in values for v in one.split(",") if v)
                params.append("%s=%s" % (key.upper(), ",".join(flat)))
            params += sorted(p.upper() for p in child.singletonparams)
        group = (child.group or "").lower()
        found.append("%s.%s;%s:%s" % (group, name, ";".join(sorted(params)), value))
    return sorted(found)


def check_as_server_upload(path):
    """Raises when Radicale would refuse the card as a client's upload."""
    with open(path, encoding="utf-8", newline="") as stream:
        items = list(vobject.readComponents(stream.read()))
    radicale_item.check_and_sanitize_items(items, is_collection=False, tag="VADDRESSBOOK")


def main():
    folder = sys.argv[1]
    failures = 0
    names = sorted(f[: -len(".before.vcf")] for f in os.listdir(folder) if f.endswith(".before.vcf"))
    for name in names:
        try:
            before = properties(os.path.join(folder, name + ".before.vcf"))
            after = properties(os.path.join(folder, name + ".after.vcf"))
            check_as_server_upload(os.path.join(folder, name + ".after.vcf"))
        except Exception as error:  # any failure to load is the finding
            print("%s does not load: %r" % (name, error))
            failures += 1
            continue
        for line in before:
            if before.count(line) > after.count(line):
                print("%s lost %s" % (name, line))
                failures += 1
        for line in after:
            if after.count(line) > before.count(line):
                print("%s gained %s" % (name, line))
                failures += 1
    print("%d cards compared" % len(names))
    return 1 if failures or not names else 0


if __name__ == "__main__":
    sys.exit(main())
