"""The calendar server's processes as /proc shows them: which are this
root's (their command line names its run folder), their state, their
process groups, and ending them. Used by orva_server_guard.py.
"""

import os
import signal
import time

MARK = "/var/run/calendarserver/"


def read(path, default=""):
    try:
        with open(path, "rb") as stream:
            return stream.read().decode("utf-8", "replace")
    except OSError:
        return default


def proc_state(pid):
    """(state letter, processor ticks, process group) of a pid, or None."""
    text = read("/proc/%d/stat" % pid)
    fields = text[text.rfind(")") + 2:].split()
    if len(fields) < 13:
        return None
    return fields[0], int(fields[11]) + int(fields[12]), int(fields[2])


def group_of(pgid):
    return [int(p) for p in os.listdir("/proc") if p.isdigit() and
            (proc_state(int(p)) or ("", 0, 0))[2] == pgid]


def ours(run):
    """Pids of the server's processes: those whose command line names the
    run folder, but this program's own runs for the start/stop script."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        line = read("/proc/%s/cmdline" % pid).replace("\0", " ")
        if run in line and (" watch " in line or "orva_server_guard.py " not in line):
            found.append(int(pid))
    return [p for p in found if p != os.getpid()]


def kill_all(pids, wait=5.0):
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
    until = time.monotonic() + wait
    while time.monotonic() < until and any(
            (proc_state(p) or ("Z",))[0] not in "ZX" for p in pids):
        time.sleep(0.05)


def nginx_leftovers(run):
    """Workers of a master that died: its group outlives it while they run."""
    try:
        pgid = int(read(run + "nginx.pid").strip())
    except ValueError:
        return []
    if proc_state(pgid) and "nginx: master" in read("/proc/%d/cmdline" % pgid):
        return []
    return [p for p in group_of(pgid) if read("/proc/%d/cmdline" % p).startswith("nginx:")]


def end(run):
    """Ends every process of this root's server, supervisord first."""
    daemon = [p for p in ours(run) if "supervisord" in read("/proc/%d/cmdline" % p)]
    kill_all(daemon)
    pids = ours(run)
    workers = [w for p in pids if read("/proc/%d/cmdline" % p).startswith("nginx: master")
               for w in group_of(p)]
    kill_all(pids + workers + nginx_leftovers(run))


def run_nginx(run):
    kill_all(nginx_leftovers(run))
    root = run[: -len(MARK)]
    nginx = os.environ.get("ORVA_NGINX", "/usr/sbin/nginx")
    os.execv(nginx, [nginx, "-p", run + "nginx/", "-e", root + "/var/log/nginx-error.log",
                     "-c", run + "nginx.conf"])


def reap():
    """Servers whose run folder is gone can be stopped by nobody else, and
    would keep their ports from every later start."""
    gone = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        line = read("/proc/%s/cmdline" % pid).replace("\0", " ")
        at = line.find(MARK)
        if at > 0 and int(pid) != os.getpid():
            run = line[line.rfind(" ", 0, at) + 1: at + len(MARK)]
            if run.startswith("/") and not os.path.isdir(run):
                gone.add(run)
    for run in gone:
        end(run)
        print("stopped a server whose run folder %s is gone" % run)
