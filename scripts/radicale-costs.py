#!/usr/bin/python3
"""What one request costs Radicale itself on one book, without sign-in or
nginx: the median of each request kind a phone sends, with Radicale's plain
file storage and with the package's storage plug-in (orva_radicale_storage),
on a book of CARDS cards seeded as scripts/office-load seeds them.

usage: scripts/radicale-costs.py [--cards 1000] [--repeat 20]
"""
import argparse
import base64
import http.client
import os
import random
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import uuid

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "scripts"))
from office_load import dav, seed  # noqa: E402

PLUGIN_DIR = os.path.join(TOP, "appliance", "package", "files")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Radicale:
    def __init__(self, folder, work, storage):
        self.port = free_port()
        config = os.path.join(work, "radicale-%d.conf" % self.port)
        with open(config, "w") as out:
            out.write("[server]\nhosts = 127.0.0.1:%d\n[auth]\ntype = none\n[rights]\n"
                      "type = owner_only\n[storage]\nfilesystem_folder = %s\n%s[web]\n"
                      "type = none\n[logging]\nlevel = warning\n" % (
                          self.port, folder, "type = %s\n" % storage if storage else ""))
        self.process = subprocess.Popen(
            ["/usr/bin/python3", "-m", "radicale", "--config", config],
            env=dict(os.environ, PYTHONPATH=PLUGIN_DIR), stdout=subprocess.DEVNULL)
        for _ in range(400):
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                break
            except OSError:
                time.sleep(0.05)
        self.connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=600)
        self.auth = "Basic " + base64.b64encode(b"user0000:x").decode()

    def request(self, method, path, body=b"", headers=None):
        all_headers = {"Authorization": self.auth, "Content-Type": "application/xml"}
        all_headers.update(headers or {})
        start = time.perf_counter()
        self.connection.request(method, path, body=body, headers=all_headers)
        response = self.connection.getresponse()
        data = response.read()
        return time.perf_counter() - start, response.status, data, response.getheader("ETag")

    def stop(self):
        self.connection.close()
        self.process.terminate()
        self.process.wait()


def measure(folder, work, storage, repeat, rng):
    server = Radicale(folder, work, storage)
    book = "/user0000/contacts/"
    times = {}

    def note(kind, result, ok):
        seconds, status = result[0], result[1]
        if status not in ok:
            raise SystemExit("%s answered %d" % (kind, status))
        times.setdefault(kind, []).append(seconds)
        return result

    try:
        token = dav.Answer(note("first sync-collection", server.request(
            "REPORT", book, dav.sync_collection("").encode()), (207,))[2]).token
        # Both servers first see every file (the plug-in remembers only
        # files settled for a while).
        time.sleep(2.5)
        hrefs = sorted(n for n in os.listdir(os.path.join(folder, "collection-root/user0000/contacts"))
                       if not n.startswith("."))
        for i in range(repeat):
            note("sync-collection, nothing new", server.request(
                "REPORT", book, dav.sync_collection(token).encode()), (207,))
            note("PROPFIND book getctag", server.request(
                "PROPFIND", book, dav.COLLECTIONS.encode(), {"Depth": "0"}), (207,))
            chosen = rng.sample(hrefs, 10)
            note("multiget of 10", server.request(
                "REPORT", book, dav.multiget("contacts", [book + h for h in chosen]).encode(),
                {"Depth": "1"}), (207,))
            uid = str(uuid.UUID(int=rng.getrandbits(128), version=4))
            note("PUT new card", server.request(
                "PUT", book + uid + ".vcf", seed.card_text(uid, i, "cost").encode(),
                {"If-None-Match": "*", "Content-Type": "text/vcard"}), (201,))
            name = rng.choice(hrefs)
            note("PUT changed card", server.request(
                "PUT", book + name, seed.card_text(name, i, "cost r%d" % i).encode(),
                {"Content-Type": "text/vcard"}), (201,))
            answer = dav.Answer(note("sync-collection, 2 new", server.request(
                "REPORT", book, dav.sync_collection(token).encode()), (207,))[2])
            token = answer.token
    finally:
        server.stop()
    return {kind: statistics.median(values) for kind, values in times.items()}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cards", type=int, default=1000)
    parser.add_argument("--repeat", type=int, default=20)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="radicale-costs-")
    try:
        results = {}
        for storage in ("", "orva_radicale_storage"):
            root = os.path.join(work, storage or "plain")
            os.makedirs(os.path.join(root, os.path.dirname(seed.HTPASSWD)))
            seed.seed(root, 1, args.cards, 0, 1, 1)
            results[storage] = measure(os.path.join(root, seed.COLLECTIONS), work, storage,
                                       args.repeat, random.Random(2))
        with open("/proc/loadavg") as f:
            load = " ".join(f.read().split()[:3])
        print("one book of %d cards, median of %d, load average %s" % (args.cards, args.repeat,
                                                                       load))
        print("%-32s %12s %12s" % ("request", "plain ms", "plug-in ms"))
        for kind in results[""]:
            print("%-32s %12.1f %12.1f" % (kind, 1000 * results[""][kind],
                                          1000 * results["orva_radicale_storage"][kind]))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
