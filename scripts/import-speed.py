#!/usr/bin/python3
"""Import speed side by side, for 1,000 and 10,000 real-shaped cards with
photos (about 1 KB each):

  import   import_cards through the host (orva-webapi call), every card durable
  cp       cp -r of the stored card files (no sync)
  put      the same cards PUT one by one to Radicale (one kept-alive connection);
           past --put-limit seconds the rest is estimated at the rate so far,
           which only underestimates (each PUT costs more the fuller the book)
  warm-up  how long after the import's answer the store's background warm-up
           of the server's item cache has an entry for every card
  first    the first CardDAV REPORT of the book after the import (once warmed;
           with --no-warm-up the store's warm-up is off, as before it existed)
  again    the same REPORT a second time

and the ratios put/import (goal >= 50), import/cp (goal <= 5) and
first/again (goal <= 2). Needs a normal build in build/.

usage: scripts/import-speed.py [--counts 1000,10000] [--no-put] [--no-warm-up]
"""
import argparse
import base64
import http.client
import json
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HOST = os.path.join(TOP, "build", "bin", "orva-webapi")
BOOK = "var/packages/Tessaro/var/collections/collection-root/bench/contacts"
REPORT = (b'<?xml version="1.0"?><C:addressbook-query xmlns:D="DAV:" '
          b'xmlns:C="urn:ietf:params:xml:ns:carddav"><D:prop><D:getetag/>'
          b'<C:address-data/></D:prop></C:addressbook-query>')


def folded(line):
    out = [line[:75]]
    for i in range(75, len(line), 74):
        out.append(" " + line[i:i + 74])
    return "\r\n".join(out)


def card(i, rng):
    photo = base64.b64encode(rng.randbytes(560)).decode()
    lines = [
        "BEGIN:VCARD", "VERSION:3.0", "PRODID:-//Bench//Speed//EN", "UID:src-%d" % i,
        "N:Family%d;Given;Middle;;" % i, "FN:Given Middle Family%d" % i,
        "ORG:Example Corp;Sales", "TITLE:Engineer",
        "EMAIL;type=INTERNET;type=WORK;type=pref:given%d@example.org" % i,
        "EMAIL;type=INTERNET;type=HOME:g%d@example.net" % i,
        "TEL;type=CELL;type=VOICE;type=pref:+1 555 %04d" % (i % 10000),
        "TEL;type=WORK;type=VOICE:+1 555 9%03d" % (i % 1000),
        "item1.ADR;type=HOME;type=pref:;;%d Main Street;Springfield;IL;62701;USA" % i,
        "item1.X-ABADR:us", folded("NOTE:Met at the fair\\, talked about the roof; call back in"
                                   " spring. Card %d." % i),
        folded("PHOTO;ENCODING=b;TYPE=JPEG:" + photo), "REV:2024-01-01T00:00:00Z", "END:VCARD"]
    return "\r\n".join(lines) + "\r\n"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return time.perf_counter() - start, result


class Radicale:
    """Radicale on a storage folder, without sign-in (any user name goes)."""

    def __init__(self, folder, work):
        self.port = free_port()
        config = os.path.join(work, "radicale-%d.conf" % self.port)
        with open(config, "w") as out:
            out.write("[server]\nhosts = 127.0.0.1:%d\n[auth]\ntype = none\n[rights]\n"
                      "type = owner_only\n[storage]\nfilesystem_folder = %s\n[web]\ntype = none\n"
                      "[logging]\nlevel = warning\n" % (self.port, folder))
        self.process = subprocess.Popen(["/usr/bin/python3", "-m", "radicale", "--config", config],
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        self.connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=600)
        self.auth = "Basic " + base64.b64encode(b"bench:x").decode()

    def request(self, method, path, body=b"", headers=None):
        all_headers = {"Authorization": self.auth}
        all_headers.update(headers or {})
        self.connection.request(method, path, body=body, headers=all_headers)
        response = self.connection.getresponse()
        data = response.read()
        return response.status, data

    def stop(self):
        self.connection.close()
        self.process.terminate()
        self.process.wait()


def cache_entries(root):
    folder = os.path.join(root, BOOK, ".Radicale.cache", "item")
    try:
        return sum(1 for name in os.listdir(folder) if not name.startswith("."))
    except FileNotFoundError:
        return 0


def run_one(count, with_put, warm_up, put_limit, work):
    rng = random.Random(count)
    cards = [card(i, rng) for i in range(count)]
    upload = os.path.join(work, "upload-%d.vcf" % count)
    with open(upload, "w", newline="") as out:
        out.write("".join(cards))
    root = os.path.join(work, "root-%d" % count)
    os.makedirs(root)
    env = dict(os.environ, ORVA_SERVER_PROCESSES="on" if warm_up else "off")
    subprocess.run([HOST, "--root", root, "call", "ORVA.ContactAndCalendar.Contacts", "list_cards",
                    "user=bench"], check=True, stdout=subprocess.DEVNULL, env=env)
    import_s, answer = timed(lambda: subprocess.run(
        [HOST, "--root", root, "call", "ORVA.ContactAndCalendar.Contacts", "import_cards",
         "user=bench", "file_tmp=" + upload, "file=upload.vcf"],
        check=True, capture_output=True, env=env).stdout)
    stored = json.loads(answer)["data"]["stored"]
    answered = time.perf_counter()
    warm_up_s = None
    if warm_up:
        while cache_entries(root) < stored and time.perf_counter() - answered < 600:
            time.sleep(0.01)
        warm_up_s = time.perf_counter() - answered
    cp_s, _ = timed(lambda: subprocess.run(
        ["cp", "-r", os.path.join(root, BOOK), os.path.join(work, "copy-%d" % count)], check=True))

    put_s = None
    put_done = count
    if with_put:
        folder = os.path.join(work, "put-%d" % count)
        os.makedirs(folder)
        server = Radicale(folder, work)
        try:
            server.request("MKCOL", "/bench/")
            server.request("MKCOL", "/bench/contacts/", (
                b'<?xml version="1.0"?><D:mkcol xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:'
                b'carddav"><D:set><D:prop><D:resourcetype><D:collection/><C:addressbook/>'
                b'</D:resourcetype></D:prop></D:set></D:mkcol>'))

            def put_all():
                start = time.perf_counter()
                for i, text in enumerate(cards):
                    status, _ = server.request("PUT", "/bench/contacts/src-%d.vcf" % i,
                                               text.encode(), {"Content-Type": "text/vcard"})
                    if status not in (201, 204):
                        raise RuntimeError("PUT answered %d" % status)
                    if time.perf_counter() - start > put_limit:
                        return i + 1
                return len(cards)
            put_s, put_done = timed(put_all)
            # Each PUT costs more the fuller the book: the rate of the first
            # cards makes the estimate of the whole a lower bound.
            put_s = put_s * len(cards) / put_done
        finally:
            server.stop()

    server = Radicale(os.path.join(root, "var/packages/Tessaro/var/collections"), work)
    try:
        headers = {"Depth": "1", "Content-Type": "application/xml"}
        cold_s, (cold_status, cold_body) = timed(
            lambda: server.request("REPORT", "/bench/contacts/", REPORT, headers))
        warm_s, (warm_status, warm_body) = timed(
            lambda: server.request("REPORT", "/bench/contacts/", REPORT, headers))
    finally:
        server.stop()
    served = cold_body.count(b"BEGIN:VCARD")
    result = {
        "cards": count, "stored": stored, "served": served,
        "report_status": [cold_status, warm_status], "same_answer": cold_body == warm_body,
        "import_s": round(import_s, 3), "cp_s": round(cp_s, 3),
        "put_s": round(put_s, 3) if put_s is not None else None,
        "put_cards_timed": put_done if put_s is not None else None,
        "warm_up_s": round(warm_up_s, 3) if warm_up_s is not None else None,
        "first_report_s": round(cold_s, 3), "again_report_s": round(warm_s, 3),
        "put_over_import": round(put_s / import_s, 1) if put_s is not None else None,
        "import_over_cp": round(import_s / cp_s, 1),
        "first_over_again": round(cold_s / warm_s, 1),
    }
    print(json.dumps(result))
    sys.stdout.flush()
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--counts", default="1000,10000")
    parser.add_argument("--no-put", action="store_true", help="skip the PUT to Radicale")
    parser.add_argument("--put-limit", type=float, default=60.0,
                        help="seconds of PUT at most; the rest is estimated at the rate so far")
    parser.add_argument("--no-warm-up", action="store_true",
                        help="import with the server's processes off: no cache warm-up")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="import-speed-")
    try:
        for count in (int(c) for c in args.counts.split(",")):
            run_one(count, not args.no_put, not args.no_warm_up, args.put_limit, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
