#!/usr/bin/python3
"""list_cards in windows, on books of 10,000 and 100,000 cards, in one run.

Builds (once) the 10,000-card book of scripts/listing-speed.py, and a
100,000-card book made of ten copies of its cards, then prints for each the
wall time and peak memory of `orva-webapi call ... list_cards`: the whole
book, a 200-card window at its start, middle and end, a search over the
whole book ("smi") and a 200-card window of that search; and, beside the
windows, `cat` of the same 200 card files, and `ls -U` of the folder (the
cost of finding a window's cards). Best of --rounds runs.

  scripts/listing-windows.py [--build build] [--book /tmp/orva-listing-book]
                             [--big /tmp/orva-listing-book-100k] [--rounds 3]
"""

import argparse
import importlib.util
import os
import shutil
import subprocess
import sys
import time

API = "ORVA.ContactAndCalendar.Contacts"
BOOK_SUFFIX = "var/packages/Tessaro/var/collections/collection-root/bench/contacts"
WINDOW = 200


def run_timed(argv):
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv[0]} failed: {err.strip()}")
    return elapsed, usage.ru_maxrss * 1024


def ensure_book(build, book):
    # The 10,000-card book is listing-speed.py's own.
    source = importlib.util.spec_from_file_location(
        "listing_speed", os.path.join(os.path.dirname(os.path.abspath(__file__)), "listing-speed.py"))
    listing_speed = importlib.util.module_from_spec(source)
    source.loader.exec_module(listing_speed)
    return listing_speed.ensure_book(build, book)


def ensure_big_book(book, big):
    cards = os.path.join(big, BOOK_SUFFIX)
    if os.path.isdir(cards) and len(os.listdir(cards)) >= 100000:
        return cards
    print(f"building the 100,000-card book in {big} (once) ...", flush=True)
    shutil.rmtree(big, ignore_errors=True)
    shutil.copytree(book, big, symlinks=True)
    names = [n for n in os.listdir(cards) if n.startswith("card-")]
    for copy in range(1, 10):
        for name in names:
            shutil.copyfile(os.path.join(cards, name), os.path.join(cards, f"copy{copy}-{name}"))
    return cards


def card_names(cards):
    return sorted(n for n in os.listdir(cards)
                  if not n.startswith(".") and not n.endswith("~")
                  and os.path.isfile(os.path.join(cards, n)))


def measure(host, root, cards, rounds):
    names = card_names(cards)
    total = len(names)

    def call(*params):
        return [host, "--root", root, "call", API, "list_cards", "user=bench", *params]

    cases = [
        ("whole listing", call(), None),
        ("window at the start", call("offset:=0", f"limit:={WINDOW}"), names[:WINDOW]),
        ("window in the middle", call(f"offset:={total // 2}", f"limit:={WINDOW}"),
         names[total // 2:total // 2 + WINDOW]),
        ("window at the end", call(f"offset:={total - WINDOW}", f"limit:={WINDOW}"),
         names[total - WINDOW:]),
        ("search 'smi', whole", call("search_key=smi"), None),
        ("search 'smi', window", call("search_key=smi", "offset:=0", f"limit:={WINDOW}"), None),
    ]
    # Finding a window's cards means listing the folder: its floor.
    find = min(run_timed(["ls", "-U", cards])[0] for _ in range(rounds))
    print(f"\n{total:,} cards (listing the folder: ls -U {find * 1000:.1f} ms)")
    for label, argv, window_names in cases:
        best_time, best_memory = None, None
        for _ in range(rounds):
            seconds, memory = run_timed(argv)
            best_time = seconds if best_time is None else min(best_time, seconds)
            best_memory = memory if best_memory is None else min(best_memory, memory)
        line = f"  {label:24} {best_time * 1000:8.1f} ms  peak {best_memory / 1e6:7.1f} MB"
        if window_names:
            cat = min(run_timed(["cat", *[os.path.join(cards, n) for n in window_names]])[0]
                      for _ in range(rounds))
            line += f"   cat of its files {cat * 1000:6.1f} ms"
        print(line, flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--book", default="/tmp/orva-listing-book")
    parser.add_argument("--big", default="/tmp/orva-listing-book-100k")
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    host = os.path.join(args.build, "bin", "orva-webapi")
    cards = ensure_book(args.build, args.book)
    big_cards = ensure_big_book(args.book, args.big)
    measure(host, args.book, cards, args.rounds)
    measure(host, args.big, big_cards, args.rounds)


if __name__ == "__main__":
    main()
