#!/usr/bin/env python3
"""Runs the attacks on `orva-webapi serve` that an outside probe used and
prints figures: requests per second with the token (wrk) without and during
each attack, and the host's peak memory. Not part of `make test`: each attack
runs for the given time (default 30 s) against a fresh server.

    scripts/attack-figures.py [--build DIR] [--seconds N] [--only NAME...]

Attacks (slowhttptest and wrk are Debian packages, see install-deps.sh):
  slow-headers  1,500 connections sending a header line every 5 s
  slow-body     1,500 connections POSTing 8 KiB to / a few bytes every 5 s
  slow-body-api the same to /webapi without the token
  large-bodies  200 sockets each announcing 4 MiB to / and sending all but
                the last byte
  token-bodies  20 sockets with the token each announcing 4 MiB and sending
                10 bytes every 5 s (a token holder's worst case)
"""
import argparse
import os
import re
import resource
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIST = ('{"api":"ORVA.ContactAndCalendar.Contacts","version":1,'
        '"method":"list_cards","params":{"user":"alice"}}')


class Host:
    """One serve process on a fresh root and a free port."""

    def __init__(self, build):
        self.root = tempfile.mkdtemp(prefix="orva-attack-")
        self.proc = subprocess.Popen(
            [os.path.join(build, "bin", "orva-webapi"), "--root", self.root, "serve",
             "--listen", "127.0.0.1:0"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            env=dict(os.environ, ORVA_SERVER_PROCESSES="off"))
        self.port = None
        for line in self.proc.stdout:
            match = re.match(r"orva-webapi serving http://127\.0\.0\.1:(\d+)/webapi", line)
            if match:
                self.port = int(match.group(1))
            if line.startswith("token: "):
                self.token = line.split()[1]
                break
        self.peak_rss = 0
        self._watching = True
        self._watch = threading.Thread(target=self._sample, daemon=True)
        self._watch.start()

    def _sample(self):
        while self._watching:
            self.peak_rss = max(self.peak_rss, self.status("VmRSS"))
            time.sleep(0.1)

    def status(self, key):
        try:
            with open("/proc/%d/status" % self.proc.pid) as stream:
                for line in stream:
                    if line.startswith(key + ":"):
                        return int(line.split()[1])
        except OSError:
            pass
        return 0

    def cpu_seconds(self):
        try:
            with open("/proc/%d/stat" % self.proc.pid) as stream:
                fields = stream.read().rsplit(")", 1)[1].split()
            return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            return 0.0

    def stop(self):
        self._watching = False
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.root, ignore_errors=True)


def wrk(host, seconds):
    """Requests per second with the token, and the non-2xx and socket errors."""
    lua = os.path.join(host.root, "request.lua")
    with open(lua, "w") as stream:
        stream.write('wrk.method = "POST"\nwrk.body = %r\n' % LIST)
        stream.write('wrk.headers["Authorization"] = "Bearer %s"\n' % host.token)
        stream.write('wrk.headers["Content-Type"] = "application/json"\n')
    out = subprocess.run(["wrk", "-t2", "-c16", "-d%ds" % seconds, "--timeout", "5s", "-s", lua,
                          "http://127.0.0.1:%d/webapi" % host.port],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout
    rate = re.search(r"Requests/sec:\s+([\d.]+)", out)
    errors = re.search(r"Socket errors: (.*)", out)
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    return (float(rate.group(1)) if rate else 0.0, errors.group(1) if errors else "none",
            int(non2xx.group(1)) if non2xx else 0)


def slowhttptest(args):
    return subprocess.Popen(["slowhttptest"] + args, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def large_bodies(port, stop, path="/", token=None, count=200, trickle=False):
    """count sockets announcing 4 MiB each, sending all but the last byte (or
    10 bytes every 5 s when trickle); reopened when the server closes them."""
    head = "POST %s HTTP/1.1\r\nHost: t\r\nContent-Type: application/json\r\n" % path
    if token:
        head += "Authorization: Bearer %s\r\n" % token
    head += "Content-Length: 4194288\r\n\r\n"
    body = b"x" * (4194288 - 1)

    def one():
        while not stop.is_set():
            try:
                sock = socket.create_connection(("127.0.0.1", port), timeout=5)
                sock.sendall(head.encode())
                if trickle:
                    while not stop.wait(5):
                        sock.sendall(b"x" * 10)
                else:
                    sock.sendall(body)
                    sock.recv(1)
                sock.close()
            except OSError:
                pass
            # One attempt a second a socket: the attacker's own work stays
            # small beside the server's on a shared machine.
            stop.wait(1)

    threads = [threading.Thread(target=one, daemon=True) for _ in range(count)]
    for thread in threads:
        thread.start()
    return threads


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--only", nargs="*", default=[])
    args = parser.parse_args()
    for tool in ("wrk", "slowhttptest"):
        if shutil.which(tool) is None:
            sys.exit("attack-figures: %s is missing (scripts/install-deps.sh)" % tool)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 8192), hard))
    seconds = args.seconds

    host = Host(args.build)
    base, _, _ = wrk(host, 10)
    print("without attack: %.0f token requests/s, peak RSS %d kB" % (base, host.peak_rss),
          flush=True)
    host.stop()

    url = lambda host, path: "http://127.0.0.1:%d%s" % (host.port, path)
    attacks = {
        "slow-headers": lambda h, stop: slowhttptest(
            ["-c", "1500", "-H", "-i", "5", "-r", "300", "-u", url(h, "/"), "-x", "24",
             "-p", "3", "-l", str(seconds + 10)]),
        "slow-body": lambda h, stop: slowhttptest(
            ["-c", "1500", "-B", "-i", "5", "-r", "300", "-s", "8192", "-t", "POST",
             "-u", url(h, "/"), "-x", "10", "-p", "3", "-l", str(seconds + 10)]),
        "slow-body-api": lambda h, stop: slowhttptest(
            ["-c", "1500", "-B", "-i", "5", "-r", "300", "-s", "8192", "-t", "POST",
             "-u", url(h, "/webapi"), "-x", "10", "-p", "3", "-l", str(seconds + 10)]),
        "large-bodies": lambda h, stop: large_bodies(h.port, stop),
        "token-bodies": lambda h, stop: large_bodies(h.port, stop, "/webapi", h.token, 20, True),
    }
    for name, start in attacks.items():
        if args.only and name not in args.only:
            continue
        host = Host(args.build)
        stop = threading.Event()
        attacker = start(host, stop)
        time.sleep(5)  # let the attack build up
        cpu = host.cpu_seconds()
        rate, errors, non2xx = wrk(host, seconds)
        cpu = host.cpu_seconds() - cpu
        stop.set()
        if isinstance(attacker, subprocess.Popen):
            attacker.terminate()
            attacker.wait()
        print("%-14s %.0f token requests/s (%.0f %% of %.0f), non-2xx %d, socket errors %s, "
              "peak RSS %d kB (VmHWM %d kB), host CPU %.1f s in %d s"
              % (name, rate, 100 * rate / base if base else 0, base, non2xx, errors,
                 host.peak_rss, host.status("VmHWM"), cpu, seconds), flush=True)
        host.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
