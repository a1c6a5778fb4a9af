#!/usr/bin/python3
"""The CardDAV server's own judgement of card texts, for the differential test
of the store's gate. Reads cards from the file named as first argument, each
framed as "<T|R> <length>\\n<bytes>" (T: the gate took it, R: it refused), and
loads each as the server loads a stored file (Radicale 3: UTF-8 decoding, its
component reader, its upload check, the item and its serialisation, which the
server serves and reads back). Each card the gate took and the server serves
is then compared with what it serves, property by property (served_text.py).
Prints one JSON line of counts; the texts that the gate took and the server
refuses or serves otherwise go to standard error (the first few) and make the
exit status 1."""
import json
import sys
from multiprocessing import Pool

from served_text import difference

import vobject
from radicale import item as radicale_item

SHOWN = 5


def served(raw):
    """(served text, None) when the server loads and serves the text, else
    (None, the reason)."""
    try:
        text = raw.decode("utf-8")
        items = radicale_item.read_components(text)
        radicale_item.check_and_sanitize_items(items, tag="VADDRESSBOOK")
        (vobject_item,) = items
        item = radicale_item.Item(collection_path="u/contacts", vobject_item=vobject_item)
        text = item.serialize()
        _ = (item.etag, item.uid, item.name, item.component_name)
        # A REPORT with a filter reads the served text back.
        vobject.readOne(text)
        return text, None
    except Exception as error:  # any failure is the server's refusal
        return None, "%s: %s" % (type(error).__name__, error)


def frames(path):
    with open(path, "rb") as stream:
        data = stream.read()
    pos = 0
    while pos < len(data):
        eol = data.index(b"\n", pos)
        verdict, length = data[pos:eol].split(b" ")
        start = eol + 1
        yield verdict == b"T", data[start : start + int(length)]
        pos = start + int(length)


def judge(frame):
    taken, raw = frame
    text, refusal = served(raw)
    changed = None
    if taken and text is not None:
        changed = difference(raw.decode("utf-8"), text)
    return taken, raw, refusal, changed


def main():
    jobs = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    counts = {"cards": 0, "taken": 0, "taken_but_refused": 0, "refused_but_servable": 0,
              "compared": 0, "served_otherwise": 0}
    with Pool(jobs) as pool:
        for taken, raw, refusal, changed in pool.imap_unordered(judge, frames(sys.argv[1]),
                                                                chunksize=256):
            counts["cards"] += 1
            if taken:
                counts["taken"] += 1
                if refusal is not None:
                    counts["taken_but_refused"] += 1
                    if counts["taken_but_refused"] <= SHOWN:
                        sys.stderr.write("taken but refused (%s):\n%r\n" % (refusal, raw))
                else:
                    counts["compared"] += 1
                    if changed is not None:
                        counts["served_otherwise"] += 1
                        if counts["served_otherwise"] <= SHOWN:
                            sys.stderr.write("served otherwise (%s):\n%r\n" % (changed, raw))
            elif refusal is None:
                counts["refused_but_servable"] += 1
    print(json.dumps(counts))
    return 1 if counts["taken_but_refused"] or counts["served_otherwise"] else 0


if __name__ == "__main__":
    sys.exit(main())
