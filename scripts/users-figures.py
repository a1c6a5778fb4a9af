#!/usr/bin/python3
"""Prints the costs of the appliance's user routes on a fresh root: adding a
user (a bcrypt hash of cost 10, the store's set-up, a calendar), listing N
users with their collections, the connection page's answer and a QR code.

Usage: scripts/users-figures.py [BUILD_BIN_DIR] [USERS]   (default build/bin, 100)
"""
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

bin_dir = sys.argv[1] if len(sys.argv) > 1 else "build/bin"
count = int(sys.argv[2]) if len(sys.argv) > 2 else 100

root = tempfile.mkdtemp(prefix="orva-users-figures-")
env = dict(os.environ, ORVA_SERVER_PROCESSES="off")
serve = subprocess.Popen([os.path.join(bin_dir, "orva-webapi"), "--root", root, "serve",
                          "--listen", "127.0.0.1:0"], stdout=subprocess.PIPE, env=env, text=True)
try:
    port = None
    while port is None:
        match = re.search(r"serving http://127\.0\.0\.1:(\d+)", serve.stdout.readline())
        port = match and int(match.group(1))
    with open(os.path.join(root, "etc/orva-webapi/token")) as stream:
        token = stream.read().strip()

    def post(route, body):
        request = urllib.request.Request(
            "http://127.0.0.1:%d/webapi/%s" % (port, route), data=json.dumps(body).encode(),
            headers={"Authorization": "Bearer " + token, "Content-Type": "application/json"})
        start = time.perf_counter()
        with urllib.request.urlopen(request) as answer:
            data = answer.read()
        return time.perf_counter() - start, data

    adds = [post("users/add", {"user": "user%03d" % i, "password": "pw-%d" % i})[0]
            for i in range(count)]
    lists = [post("users/list", {})[0] for _ in range(10)]
    size = len(post("users/list", {})[1])
    connection = [post("connection", {"user": "user000", "host": "example.lan"})[0]
                  for _ in range(10)]
    qr = [post("connection/qr", {"text": "https://example.lan:8443/user000/contacts/"})[0]
          for _ in range(10)]
    ms = lambda values: "%.1f ms" % (1000 * statistics.median(values))
    print("users added: %d" % count)
    print("users/add median (bcrypt cost 10, book, calendar): %s" % ms(adds))
    print("users/list median with %d users: %s (%d bytes)" % (count, ms(lists), size))
    print("connection median: %s" % ms(connection))
    print("connection/qr median: %s" % ms(qr))
finally:
    serve.terminate()
    serve.wait()
    subprocess.run(["rm", "-rf", root])
