"""The appliance under load: a fresh root seeded by the host, the package's
server (nginx in front of Radicale) started through the Common "set" on free
loopback ports, the host's web API, and the CPU and memory of each."""

import json
import os
import re
import shutil
import socket
import subprocess
import time

import requests

SCRIPT = "var/packages/Tessaro/target/tools/calendarserver_start_stop.sh"
TOKEN = "etc/orva-webapi/token"
TEMPLATE = "var/packages/Tessaro/target/etc/templates/radicale.conf.in"
PACKAGE_FILES = [(name, "var/packages/Tessaro/target/tools") for name in (
    "calendarserver_start_stop.sh", "orva_radicale_auth.py", "orva_radicale_storage.py")] + [
    (name, "var/packages/Tessaro/target/etc/templates") for name in (
        "radicale.conf.in", "nginx.conf.in")]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Appliance:
    def __init__(self, bin_dir, root):
        self.host = os.path.join(os.path.abspath(bin_dir), "orva-webapi")
        self.root = os.path.abspath(root)
        self.env = dict(os.environ, ORVA_SERVER_PROCESSES="on")
        self.serve = None
        self.dav_port = None
        self.api_port = None
        self.token = None
        self.session = requests.Session()

    def run_host(self, *args, check=True):
        done = subprocess.run([self.host, "--root", self.root] + list(args), env=self.env,
                              capture_output=True, text=True)
        if check and done.returncode != 0:
            raise RuntimeError("orva-webapi %s: %s %s" % (" ".join(args[:3]), done.stdout[-500:],
                                                          done.stderr[-500:]))
        return done.stdout

    def prepare(self, plain_storage=False):
        """Seeds the root (configuration, package programs) without a server;
        plain_storage leaves the package's storage plug-in out of Radicale's
        configuration (for figures without it)."""
        self.run_host("methods")
        # The package's programs and templates as this build has them (a
        # root used before keeps its own otherwise), as an update would.
        package = os.path.join(os.path.dirname(self.host), "..", "share", "orva", "package")
        for name, folder in PACKAGE_FILES:
            shutil.copy(os.path.join(package, name), os.path.join(self.root, folder, name))
        template = os.path.join(self.root, TEMPLATE)
        with open(template) as stream:
            lines = stream.read().splitlines(True)
        kept = [line for line in lines
                if not (plain_storage and line.startswith("type = orva_radicale_storage"))]
        with open(template, "w") as stream:
            stream.writelines(kept)

    def start(self):
        """Starts the CardDAV/CalDAV server on a free port, then the web API."""
        # A port taken meanwhile by another program, or a start slower than
        # the script waits on a busy machine: tried again on other ports.
        for attempt in range(3):
            self.dav_port = free_port()
            answer = json.loads(self.run_host(
                "call", "ORVA.ContactAndCalendar.Common", "set", "EnableSSL:=false",
                "RedirectHTTPToHTTPS:=false", "HTTPPort:=%d" % self.dav_port,
                "SSLPort:=%d" % free_port(), check=False) or "{}")
            if answer.get("success"):
                break
            print("the server did not start (%s)%s" % (
                answer, ", again" if attempt < 2 else ""), flush=True)
        else:
            raise RuntimeError("the server did not start")
        self.serve = subprocess.Popen([self.host, "--root", self.root, "serve", "--listen",
                                       "127.0.0.1:0"], stdout=subprocess.PIPE, env=self.env,
                                      text=True)
        while self.api_port is None:
            line = self.serve.stdout.readline()
            if not line:
                raise RuntimeError("the web API did not start")
            match = re.search(r"serving http://127\.0\.0\.1:(\d+)", line)
            self.api_port = match and int(match.group(1))
        with open(os.path.join(self.root, TOKEN)) as stream:
            self.token = stream.read().strip()

    def stop(self):
        if self.serve is not None:
            self.serve.terminate()
            self.serve.wait()
        subprocess.run([os.path.join(self.root, SCRIPT), "stop"], env=dict(
            self.env, ORVA_ROOT=self.root), capture_output=True)

    @property
    def dav(self):
        return "http://127.0.0.1:%d" % self.dav_port

    def api(self, method, params, timeout=1800):
        """One method of the Contacts API through the web API; its data."""
        answer = self.session.post(
            "http://127.0.0.1:%d/webapi" % self.api_port, timeout=timeout,
            headers={"Authorization": "Bearer " + self.token},
            json={"api": "ORVA.ContactAndCalendar.Contacts", "method": method, "version": 1,
                  "params": params})
        body = answer.json()
        if answer.status_code != 200 or not body.get("success"):
            raise RuntimeError("%s answered %d: %s" % (method, answer.status_code,
                                                       str(body)[:300]))
        return body.get("data")

    def upload(self, user, name, data, timeout=1800):
        """import_cards of a file, uploaded as the administration page does."""
        answer = self.session.post(
            "http://127.0.0.1:%d/webapi" % self.api_port, timeout=timeout,
            headers={"Authorization": "Bearer " + self.token},
            data={"api": "ORVA.ContactAndCalendar.Contacts", "method": "import_cards",
                  "version": "1", "params": json.dumps({"user": user})},
            files={"file": (name, data, "text/vcard")})
        body = answer.json()
        if answer.status_code != 200 or not body.get("success"):
            raise RuntimeError("import_cards answered %d: %s" % (answer.status_code,
                                                                 str(body)[:300]))
        return body.get("data")


class ProcessMeter:
    """CPU seconds and resident memory of the processes that run with the
    root in their command line, by kind, sampled now and then."""

    TICK = os.sysconf("SC_CLK_TCK")
    PAGE = os.sysconf("SC_PAGE_SIZE")

    def __init__(self, root):
        self.mark = root.encode()
        self.ticks = {}  # pid -> (kind, last ticks seen, ticks at first sight)
        self.peak_rss = {}
        self.started = time.monotonic()
        self.sampled = False

    @staticmethod
    def kind(cmdline):
        if cmdline.startswith(b"nginx"):
            return "nginx"
        if b"orva-webapi" in cmdline:
            return "web API host"
        if b"radicale" in cmdline and b"--config" in cmdline:
            return "Radicale"
        return "other (warm-up, scripts)"

    def sample(self):
        rss = {}
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read().replace(b"\0", b" ")
                if self.mark not in cmdline:
                    continue
                with open("/proc/%s/stat" % pid) as f:
                    fields = f.read().rsplit(")", 1)[1].split()
                with open("/proc/%s/statm" % pid) as f:
                    resident = int(f.read().split()[1]) * self.PAGE
            except (OSError, IndexError, ValueError):
                continue
            kind = self.kind(cmdline)
            ticks = int(fields[11]) + int(fields[12])
            previous = self.ticks.get(pid)
            # A process that starts after the first look counts from its start.
            first = previous[2] if previous else (ticks if not self.sampled else 0)
            self.ticks[pid] = (kind, ticks, first)
            rss[kind] = rss.get(kind, 0) + resident
        self.sampled = True
        for kind, value in rss.items():
            self.peak_rss[kind] = max(self.peak_rss.get(kind, 0), value)

    def figures(self):
        """{kind: (CPU seconds since the first sample, peak RSS bytes)}."""
        cpu = {}
        for kind, ticks, first in self.ticks.values():
            cpu[kind] = cpu.get(kind, 0.0) + (ticks - first) / self.TICK
        return {kind: (cpu.get(kind, 0.0), self.peak_rss.get(kind, 0))
                for kind in sorted(set(cpu) | set(self.peak_rss))}

    def elapsed(self):
        return time.monotonic() - self.started


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])
