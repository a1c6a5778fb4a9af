#!/usr/bin/python3
"""Renders the calendar server's configuration from its property list.

  orva_server_conf.py render OUT_DIR
      reads the property list and the templates and writes radicale.conf,
      nginx.conf and supervisord.conf into OUT_DIR; prints
      "HTTP_PORT SSL_PORT ssl-on|off redirect-on|off RADICALE_PORT"
  orva_server_conf.py check-ports HELD PORT...
      fails (naming the program that holds it) unless each PORT can be
      bound; the ports in HELD (space separated) are this root's own

Templates: @NAME@ is replaced by a value; the lines between "#if NAME" and
"#endif" are kept only when NAME holds. Paths are under $ORVA_ROOT.
"""

import errno
import grp
import os
import plistlib
import pwd
import random
import re
import socket
import sys

ROOT = os.environ.get("ORVA_ROOT", "/").rstrip("/")
PKG = ROOT + "/var/packages/Tessaro"
PLIST = PKG + "/target/etc/orva_caldavd.plist"
TEMPLATES = PKG + "/target/etc/templates"
RUN_DIR = ROOT + "/var/run/calendarserver"
TEMPLATE_NAMES = ("radicale.conf.in", "nginx.conf.in", "supervisord.conf.in")


def fail(message):
    sys.exit(message)


def read_settings():
    try:
        with open(PLIST, "rb") as stream:
            conf = plistlib.load(stream)
    except Exception as error:
        fail("cannot read the property list %s: %s" % (PLIST, error))
    if not isinstance(conf, dict):
        fail("the property list %s does not hold a dictionary" % PLIST)

    def port(key):
        value = conf.get(key)
        if isinstance(value, bool) or not isinstance(value, int) or not 1 <= value <= 65535:
            fail("the property list %s: %s is not a port (1 to 65535)" % (PLIST, key))
        return value

    def flag(key):
        value = conf.get(key)
        if not isinstance(value, bool):
            fail("the property list %s: %s is not true or false" % (PLIST, key))
        return value

    http, https = port("HTTPPort"), port("SSLPort")
    ssl, redirect = flag("EnableSSL"), flag("RedirectHTTPToHTTPS")
    realm = conf.get("RealmName", "Tessaro Calendar Server")
    # The realm goes into a configuration line and a quoted header parameter,
    # which Radicale sends as Latin-1: anything else there fails every sign-in.
    if not isinstance(realm, str) or not realm.strip() or len(realm) > 200 or any(
            not (" " <= c <= "~" or "\xa0" <= c <= "\xff") or c in '"\\' for c in realm):
        shown = repr(realm[:40] + ("..." if len(realm) > 40 else "")) if isinstance(
            realm, str) else "not text"
        fail("the realm name %s (RealmName in %s) is refused: it must be 1 to 200 printable "
             "Latin-1 characters without quotes or backslashes" % (shown, PLIST))
    if ssl and http == https:
        fail("HTTPPort and SSLPort are both %d" % http)
    return http, https, ssl, redirect, realm.strip()


def can_bind(port):
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    # As the servers bind: a closed connection's leftovers do not count.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        sock.bind(("127.0.0.1" if port else "0.0.0.0", port))
        return sock.getsockname()[1]
    except OSError:
        return 0
    finally:
        sock.close()


def radicale_port(taken):
    """The port Radicale had (so that nginx need not change), else a free one
    below the system's ephemeral range, where ports picked by the system for
    other programs never land. Kept in the run folder; a port another
    program took, or one of taken, is replaced. ORVA_RADICALE_RUNS=yes: this
    root's Radicale holds the kept port now."""
    try:
        with open(RUN_DIR + "/radicale.port") as stream:
            kept = int(stream.read().strip())
        if kept not in taken and (os.environ.get("ORVA_RADICALE_RUNS") == "yes" or can_bind(kept)):
            return kept
    except (OSError, ValueError):
        pass
    for _ in range(200):
        port = random.randrange(20000, 30000)
        if port not in taken and can_bind(port):
            return port
    return can_bind(0) or fail("no free local port for Radicale")


def fill(name, values, conditions, out_dir):
    path = os.path.join(TEMPLATES, name)
    try:
        with open(path, encoding="utf-8") as stream:
            lines = stream.read().splitlines()
    except (OSError, UnicodeDecodeError) as error:
        fail("cannot read the template %s: %s" % (path, error))
    kept, stack = [], []
    for line in lines:
        word = line.strip().split()
        if len(word) == 2 and word[0] == "#if":
            if word[1] not in conditions:
                fail("the template %s: unknown condition %s" % (path, word[1]))
            stack.append(conditions[word[1]])
        elif word == ["#endif"]:
            if not stack:
                fail("the template %s: #endif without #if" % path)
            stack.pop()
        elif all(stack):
            kept.append(line)
    if stack:
        fail("the template %s: #if without #endif" % path)
    text = "\n".join(kept) + "\n"
    for key, value in values.items():
        text = text.replace("@%s@" % key, value)
    target = os.path.join(out_dir, name[:-3])
    with open(target + ".new", "w", encoding="utf-8") as stream:
        stream.write(text)
    os.replace(target + ".new", target)


def render(out_dir):
    http, https, ssl, redirect, realm = read_settings()
    # Paths are written into the configurations as they are.
    if re.search(r'["\\$;{}#%\s]', ROOT):
        fail("the appliance root %r holds characters the server's configuration "
             "cannot take" % ROOT)
    tools = PKG + "/target/tools"
    values = {
        "HTTP_PORT": str(http),
        "SSL_PORT": str(https),
        "RADICALE_PORT": str(radicale_port((http, https))),
        "REALM": realm,
        "RUN_DIR": RUN_DIR,
        "LOG_DIR": ROOT + "/var/log",
        "SSL_DIR": PKG + "/target/etc/ssl",
        "HTPASSWD": PKG + "/target/etc/users.htpasswd",
        "COLLECTIONS": PKG + "/var/collections",
        "TOOLS": tools,
        "ROOT": ROOT or "/",
        "RADICALE": os.environ.get("ORVA_RADICALE", "/usr/bin/radicale"),
        "NGINX": os.environ.get("ORVA_NGINX", "/usr/sbin/nginx"),
        # The sign-in's settings from the caller's environment (tests and
        # figures turn its memory off): a change restarts Radicale.
        "RADICALE_ENV": "".join(',%s="%s"' % (key, value) for key, value in sorted(os.environ.items())
                                if key.startswith("ORVA_SIGNIN_") and re.fullmatch(r"[\w.-]*", value)),
        "USER": pwd.getpwuid(os.getuid()).pw_name,
        "GROUP": grp.getgrgid(os.getgid()).gr_name,
    }
    try:
        with open("/proc/net/if_inet6") as stream:
            ipv6 = bool(stream.read().strip())
    except OSError:
        ipv6 = False
    conditions = {
        "SSL": ssl,
        "REDIRECT": ssl and redirect,
        "HTTP_SERVES": not (ssl and redirect),
        "IPV6": ipv6,
        "RUN_AS_ROOT": os.getuid() == 0,
    }
    for name in TEMPLATE_NAMES:
        fill(name, values, conditions, out_dir)
    print(http, https, "on" if ssl else "off", "on" if conditions["REDIRECT"] else "off",
          values["RADICALE_PORT"])


def holder(port):
    """The program that listens on the port, as "name, pid N", when this
    user may see it; "" otherwise."""
    inodes = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            with open(table) as stream:
                next(stream)
                for line in stream:
                    fields = line.split()
                    if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                        inodes.add("socket:[%s]" % fields[9])
        except (OSError, ValueError, IndexError, StopIteration):
            pass
    for pid in filter(str.isdigit, os.listdir("/proc") if inodes else []):
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if os.readlink("/proc/%s/fd/%s" % (pid, fd)) in inodes:
                    with open("/proc/%s/comm" % pid) as stream:
                        return "%s, pid %s" % (stream.read().strip(), pid)
        except OSError:
            continue
    return ""


def check_ports(held, ports):
    for port in ports:
        if port in held.split():
            continue
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            sock.bind(("0.0.0.0", int(port)))
        except OSError as error:
            if error.errno == errno.EADDRINUSE:
                who = holder(int(port))
                fail("port %s is in use by another program%s" % (port, " (%s)" % who if who else ""))
            if error.errno == errno.EACCES:
                fail("port %s needs privileges this user does not have" % port)
            fail("port %s cannot be used: %s" % (port, error.strerror))
        finally:
            sock.close()


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "render":
        render(sys.argv[2])
    elif len(sys.argv) >= 3 and sys.argv[1] == "check-ports":
        check_ports(sys.argv[2], sys.argv[3:])
    else:
        sys.exit(__doc__)
