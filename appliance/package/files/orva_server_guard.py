#!/usr/bin/python3
"""Liveness of the calendar server under supervisord (one per appliance root).

  orva_server_guard.py watch RUN_DIR/      the guard, a program of supervisord
  orva_server_guard.py nginx RUN_DIR/      ends what a dead master left, runs nginx
  orva_server_guard.py status RUN_DIR/     prints what answers (exit 0 when all do)
  orva_server_guard.py wait RUN_DIR/ SECONDS [PROGRAM...]
  orva_server_guard.py end RUN_DIR/        ends every process of this root's server
  orva_server_guard.py start|restart RUN_DIR/ PROGRAM   without waiting for it
  orva_server_guard.py reap                ends servers whose run folder is gone

Answering is judged by a request: Radicale must answer HTTP on its port,
nginx on each of its ports. A process stopped (kill -STOP) for two looks, or
one that leaves two requests unanswered while using no processor time, is
killed, and supervisord starts it again. supervisord in turn is watched by
the guard: when it ends, the guard ends what it left and starts it again.
"""

import fcntl
import os
import signal
import socket
import ssl
import subprocess
import sys
import time
import xmlrpc.client

from supervisor.xmlrpc import SupervisorTransport

from orva_server_processes import (MARK, end, group_of, kill_all, proc_state, read, reap,
                                   run_nginx)
PROGRAMS = ("radicale", "nginx")
PROBE_SECONDS = 3
QUIET_LOOK_SECONDS = 5


def log(run, line):
    root = run[: -len(MARK)] if run.endswith(MARK) else ""
    stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    try:
        with open(root + "/var/log/server.log", "a") as stream:
            stream.write("%s guard: %s\n" % (stamp, line))
    except OSError:
        pass


def rpc(run):
    return xmlrpc.client.ServerProxy(
        "http://127.0.0.1",
        SupervisorTransport(None, None, "unix://" + run + "supervisor.sock")).supervisor


def ports(run):
    words = read(run + "nginx.ports").split()
    return [int(w) for w in words if w.isdigit()]


def answers(port, secure=False, path="/.orva-alive"):
    """True when an HTTP answer comes from the local port in time."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=PROBE_SECONDS) as sock:
            if secure:
                context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
                context.check_hostname = False
                context.verify_mode = ssl.CERT_NONE
                sock = context.wrap_socket(sock)
            sock.sendall(("OPTIONS %s HTTP/1.0\r\nHost: localhost\r\n\r\n" % path).encode())
            return sock.recv(12).startswith(b"HTTP/1.")
    except (OSError, ValueError):
        return False


def probe(run, name):
    """"" when the program answers, else what does not."""
    if name == "radicale":
        port = int(read(run + "radicale.port", "0").strip() or 0)
        return "" if answers(port, path="/") else "Radicale does not answer"
    for index, port in enumerate(ports(run)):
        if not answers(port, secure=index == 1):
            return "nginx does not answer on port %d" % port
    return ""


def info(run):
    """{program: (statename, pid)}; {} when supervisord does not answer."""
    try:
        return {i["name"]: (i["statename"], i["pid"]) for i in rpc(run).getAllProcessInfo()}
    except Exception:
        return {}


def status(run):
    states = info(run)
    lines, failures = [], []
    for index, port in enumerate(ports(run)):
        lines.append("%s port %d" % ("HTTPS" if index else "HTTP", port))
    if not states:
        failures.append("supervisord does not answer")
    for name in PROGRAMS:
        state, pid = states.get(name, ("", 0))
        running = not states or state in ("STARTING", "RUNNING")
        problem = probe(run, name) if running else "%s is %s" % (name, state.lower())
        failures += [problem] if problem else []
        if not problem and name == "radicale":
            lines.append("Radicale answers (pid %d)" % pid if pid else "Radicale answers")
        elif not problem:
            lines.append("nginx answers on ports %s (pid %s)" % (
                ", ".join(map(str, ports(run))), read(run + "nginx.pid").strip()))
    if states:
        pid = read(run + "supervisord.pid").strip()
        lines.append("supervisord runs (pid %s), guard %s" % (
            pid, states.get("guard", ("absent",))[0].lower()))
    restarts = read(run + "restarts").splitlines()
    lines.append("restarts: %d%s" % (len(restarts), " (last: %s)" % restarts[-1] if restarts else ""))
    print("failed: " + "; ".join(failures) if failures else "started")
    print("\n".join(lines))
    return 1 if failures else 0


def wait(run, seconds, names):
    """Waits until each program runs and answers; fails early when
    supervisord gives it up or it ends during its start."""
    until = time.monotonic() + seconds
    problem = "supervisord does not answer"
    while time.monotonic() < until:
        states = info(run)
        problem = ""
        for name in names:
            state = states.get(name, ("absent",))[0]
            if state in ("BACKOFF", "FATAL", "EXITED"):
                tail = read(run + "nginx.out") if name == "nginx" else ""
                last = [l for l in tail.splitlines() if "emerg" in l or "error" in l.lower()]
                return "%s did not start%s" % (name, ": " + last[-1] if last else "")
            problem = problem or ("%s is %s" % (name, state.lower())
                                  if state not in ("STARTING", "RUNNING") else probe(run, name))
        if states and not problem:
            return ""
        time.sleep(0.2)
    return "%s within %d seconds" % (problem, seconds)


def restart_supervisord(run, lock):
    """supervisord ended: ends what it left and starts it again, after any
    start or stop at work (which holds the lock) and unless it stopped the
    server."""
    until = time.monotonic() + 60
    while True:
        try:
            fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
            break
        except OSError:
            if time.monotonic() > until:
                return
            time.sleep(0.2)
    if not os.path.exists(run + "started"):
        return
    end(run)
    subprocess.run(["/usr/bin/supervisord", "-c", run + "supervisord.conf"],
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    log(run, "supervisord had ended; started again with the server")


def note_restart(run, name, old, new):
    stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    line = "%s %s (pid %d) ended; started again as pid %d" % (stamp, name, old, new)
    with open(run + "restarts", "a") as stream:
        stream.write(line + "\n")
    log(run, line[len(stamp) + 1:])


def watch(run):
    parent = os.getppid()
    lock = open(run + "lock", "a")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    last, fails, cpu, looked, fatal = {}, {}, {}, {}, {}
    while os.path.isdir(run):
        time.sleep(1)
        if os.getppid() != parent:
            return restart_supervisord(run, lock)
        try:
            # Shared, as status takes it: only a start or stop keeps it out.
            fcntl.flock(lock, fcntl.LOCK_SH | fcntl.LOCK_NB)
        except OSError:
            last.clear()  # a start or stop is at work: its changes are no restarts
            continue
        try:
            # A stopped supervisord restarts nothing: it is ended, and then
            # started again as one that died.
            if (proc_state(parent) or ("",))[0] == "T":
                fails["supervisord"] = fails.get("supervisord", 0) + 1
                if fails["supervisord"] >= 2:
                    log(run, "supervisord (pid %d) is stopped; ending it" % parent)
                    kill_all([parent], 2)
                    return restart_supervisord(run, lock)
                continue
            fails["supervisord"] = 0
            states = info(run)
            now = time.monotonic()
            for name in PROGRAMS if states else ():
                state, pid = states.get(name, ("absent", 0))
                if state == "FATAL":
                    # supervisord gave up; try again every half minute.
                    if now - fatal.setdefault(name, now) >= 30:
                        fatal.pop(name)
                        rpc(run).startProcess(name, False)
                        log(run, "%s had stopped starting; starting it again" % name)
                    continue
                fatal.pop(name, None)
                if state != "RUNNING":
                    fails[name] = 0
                    continue
                if last.get(name) not in (None, pid):
                    note_restart(run, name, last[name], pid)
                last[name] = pid
                members = group_of(pid)
                stopped = any((proc_state(p) or ("",))[0] == "T" for p in members)
                if not stopped and not fails.get(name) and now - looked.get(name, 0) < QUIET_LOOK_SECONDS:
                    continue
                looked[name] = now
                problem = "it is stopped" if stopped else probe(run, name)
                ticks = sum((proc_state(p) or ("", 0))[1] for p in members)
                if not problem:
                    fails[name] = 0
                    continue
                fails[name] = fails.get(name, 0) + 1
                if fails[name] == 1:
                    cpu[name] = ticks
                elif stopped or ticks == cpu[name]:
                    # Busy is not hung: only one that does no work is ended.
                    log(run, "%s (pid %d): %s; ending it for supervisord to start again"
                        % (name, pid, problem))
                    kill_all(members, 2)
                    fails[name] = 0
        except Exception as error:  # supervisord busy or going away
            log(run, "could not look at the server: %s" % error)
        finally:
            fcntl.flock(lock, fcntl.LOCK_UN)


def main(argv):
    run = argv[2] if len(argv) > 2 else ""
    if len(argv) == 2 and argv[1] == "reap":
        return reap()
    if not run.endswith(MARK):
        sys.exit(__doc__)
    if argv[1] == "watch":
        return watch(run)
    if argv[1] == "nginx":
        return run_nginx(run)
    if argv[1] == "status":
        return status(run)
    if argv[1] == "end":
        return end(run)
    if argv[1] in ("start", "restart") and len(argv) == 4:
        if argv[1] == "restart":
            rpc(run).stopProcess(argv[3], True)
        return 0 if rpc(run).startProcess(argv[3], False) else 1
    if argv[1] == "wait" and len(argv) >= 4:
        problem = wait(run, float(argv[3]), argv[4:] or PROGRAMS)
        if problem:
            print(problem)
        return 1 if problem else 0
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
