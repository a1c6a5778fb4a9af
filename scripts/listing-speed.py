#!/usr/bin/python3
"""Listing speed against its floors, in one run.

Builds (once) a book of 10,000 cards of 200 to 18,000 bytes with bench_reader,
then times, side by side and best of several rounds:
  - `cat` of the card files (the I/O floor),
  - `orva-webapi call ... list_cards` of the whole book, and with a search key,
  - python3-vobject reading the same cards,
and prints the ratios, the host's peak memory against the answer's size and
the reader's speed on one core (bench_reader's BM_Reader and
BM_ReaderNewRecords).

  scripts/listing-speed.py [--build build] [--book /tmp/orva-listing-book]
                           [--rounds 7] [--no-vobject] [--callgrind]

--callgrind adds the instruction count of one list_cards call (valgrind),
which, unlike wall-clock time, does not move with the machine's load.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import time

API = "ORVA.ContactAndCalendar.Contacts"
BOOK_SUFFIX = "var/packages/Tessaro/var/collections/collection-root/bench/contacts"


def run_timed(argv, cwd=None, stdout=subprocess.DEVNULL):
    """Wall time in seconds and peak resident memory in bytes of one run."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, cwd=cwd, stdout=stdout, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if proc.returncode != 0:
        sys.exit(f"{argv[0]} failed ({proc.returncode}): {err.strip()}")
    return elapsed, usage.ru_maxrss * 1024


def ensure_book(build, book):
    cards = os.path.join(book, BOOK_SUFFIX)
    if os.path.isdir(cards) and len(os.listdir(cards)) > 10000:
        return cards
    print(f"building the book in {book} (once; about half a minute) ...", flush=True)
    env = dict(os.environ, ORVA_BENCH_ROOT=book)
    subprocess.run([os.path.join(build, "bin", "bench_reader"),
                    "--benchmark_filter=BM_StoreGetCards"],
                   env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cards


def vobject_seconds(paths):
    import vobject  # python3-vobject
    start = time.perf_counter()
    for path in paths:
        with open(path, encoding="utf-8") as f:
            vobject.readOne(f.read())
    return time.perf_counter() - start


def reader_speeds(build):
    """Best of three, in MB/s, by benchmark name: BM_Reader/1 (one record
    reused, so each card also frees the one before) and BM_ReaderNewRecords
    (a record of its own for each card, as list_cards reads)."""
    out = subprocess.run([os.path.join(build, "bin", "bench_reader"),
                          "--benchmark_filter=BM_Reader/1$|BM_ReaderNewRecords",
                          "--benchmark_format=json", "--benchmark_repetitions=3"],
                         check=True, capture_output=True, text=True).stdout
    best = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") == "iteration":
            name = b["run_name"]
            best[name] = max(best.get(name, 0), b["bytes_per_second"] / 1e6)
    return best


def callgrind_instructions(argv):
    with tempfile.TemporaryDirectory() as tmp:
        out = subprocess.run(["valgrind", "--tool=callgrind",
                              f"--callgrind-out-file={tmp}/cg.out"] + argv,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        found = re.findall(r"Collected : (\d+)", out.stderr)
        return int(found[-1]) if found else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--book", default=os.path.join(tempfile.gettempdir(),
                                                       "orva-listing-book"))
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--no-vobject", action="store_true")
    parser.add_argument("--callgrind", action="store_true")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    host = os.path.join(build, "bin", "orva-webapi")
    cards = ensure_book(build, os.path.abspath(args.book))
    names = sorted(n for n in os.listdir(cards) if not n.startswith("."))
    paths = [os.path.join(cards, n) for n in names]
    book_bytes = sum(os.path.getsize(p) for p in paths)

    call = [host, "--root", os.path.abspath(args.book), "call", API, "list_cards", "user=bench"]
    runs = {
        "cat of the card files": (["cat"] + names, cards),
        "list_cards, whole book": (call, None),
        "list_cards, search key": (call + ["search_key=smi"], None),
    }
    best = {k: float("inf") for k in runs}
    peak = 0
    for argv, cwd in runs.values():  # warm the page cache and the loader
        run_timed(argv, cwd)
    for _ in range(args.rounds):  # interleaved, so load hits every one alike
        for label, (argv, cwd) in runs.items():
            seconds, rss = run_timed(argv, cwd)
            best[label] = min(best[label], seconds)
            if argv is call:
                peak = max(peak, rss)

    with tempfile.TemporaryFile() as answer:
        run_timed(call, stdout=answer)
        answer_bytes = answer.tell()

    floor = best["cat of the card files"]
    listing = best["list_cards, whole book"]
    print(f"book: {len(names)} cards, {book_bytes / 1e6:.1f} MB; "
          f"answer {answer_bytes / 1e6:.1f} MB; best of {args.rounds}")
    print(f"{'':28} {'time':>10} {'ratio':>12}")
    for label, seconds in best.items():
        print(f"{label:28} {seconds * 1000:8.0f} ms {seconds / floor:9.2f} x cat")
    if not args.no_vobject:
        vo = min(vobject_seconds(paths) for _ in range(2))
        print(f"{'python3-vobject, same cards':28} {vo * 1000:8.0f} ms "
              f"{vo / listing:9.1f} x ours")
    # A child's peak counts from before its exec, when it was still a copy of
    # this Python process: fine for the call, which is larger, but no way to
    # take the idle host's few MB (see /usr/bin/time -f %M ... methods).
    print(f"peak memory of the call: {peak / 1e6:.1f} MB = {peak / answer_bytes:.2f} x answer")
    speeds = ", ".join(f"{name} {mbs:.0f} MB/s" for name, mbs in reader_speeds(build).items())
    print(f"reader on one core (bench_reader): {speeds}")
    if args.callgrind:
        count = callgrind_instructions(call)
        print(f"instructions of one list_cards call: {count / 1e6:.0f} M" if count else
              "callgrind gave no count")


if __name__ == "__main__":
    main()
