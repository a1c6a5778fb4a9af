#!/usr/bin/python3
"""The CardDAV server's own judgement of card texts, for the differential test
of the store's gate. Reads cards from the file named as first argument, each
framed as "<T|R> <length>\\n<bytes>" (T: the gate took it, R: it refused), and
loads each as the server loads a stored file (Radicale 3: UTF-8 decoding, its
component reader, its upload check, the item and its serialisation, which the
server serves and reads back). Prints one JSON line of counts; the texts that
the gate took and the server refuses go to standard error (the first few) and
make the exit status 1."""
import json
import sys
from multiprocessing import Pool

import vobject
from radicale import item as radicale_item

SHOWN = 5


def server_refusal(raw):
    """None when the server loads and serves the text, else the reason."""
    try:
        text = raw.decode("utf-8")
        items = radicale_item.read_components(text)
        radicale_item.check_and_sanitize_items(items, tag="VADDRESSBOOK")
        (vobject_item,) = items
        item = radicale_item.Item(collection_path="u/contacts", vobject_item=vobject_item)
        served = item.serialize()
        _ = (item.etag, item.uid, item.name, item.component_name)
        # A REPORT with a filter reads the served text back.
        vobject.readOne(served)
        return None
    except Exception as error:  # any failure is the server's refusal
        return "%s: %s" % (type(error).__name__, error)


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
    return taken, raw, server_refusal(raw)


def main():
    jobs = int(sys.argv[2]) if len(sys.argv) > 2 else 1
    counts = {"cards": 0, "taken": 0, "taken_but_refused": 0, "refused_but_servable": 0}
    with Pool(jobs) as pool:
        for taken, raw, refusal in pool.imap_unordered(judge, frames(sys.argv[1]), chunksize=256):
            counts["cards"] += 1
            if taken:
                counts["taken"] += 1
                if refusal is not None:
                    counts["taken_but_refused"] += 1
                    if counts["taken_but_refused"] <= SHOWN:
                        sys.stderr.write("taken but refused (%s):\n%r\n" % (refusal, raw))
            elif refusal is None:
                counts["refused_but_servable"] += 1
    print(json.dumps(counts))
    return 1 if counts["taken_but_refused"] else 0


if __name__ == "__main__":
    sys.exit(main())
