#!/bin/bash
# Starts, stops and restarts the package's calendar and contacts server:
# Radicale serves CardDAV and CalDAV from the contact store's collections
# folder, and nginx in front of it listens on the ports of the server's
# property list, holds the TLS certificate and redirects HTTP to HTTPS.
#
# One run at a time per appliance root (a lock), so that "set" requests and
# an administrator may call it together. A restart checks everything it can
# before it stops anything, and puts the old server back when the new one
# does not start.

set -u
umask 022

ROOT="${ORVA_ROOT:-/}"
ROOT="${ROOT%/}"
PROG="calendarserver_start_stop.sh"
PKG="$ROOT/var/packages/Tessaro"
ETC="$PKG/target/etc"
PLIST="$ETC/orva_caldavd.plist"
TEMPLATES="$ETC/templates"
SSL_DIR="$ETC/ssl"
CERT="$SSL_DIR/server.crt"
KEY="$SSL_DIR/server.key"
HTPASSWD="$ETC/users.htpasswd"
COLLECTIONS="$PKG/var/collections"
RUN_DIR="$ROOT/var/run/calendarserver"
LOG_DIR="$ROOT/var/log"
LOG_FILE="$LOG_DIR/server.log"
RADICALE_LOG="$LOG_DIR/radicale.log"
NGINX_ERROR_LOG="$LOG_DIR/nginx-error.log"
NGINX="${ORVA_NGINX:-/usr/sbin/nginx}"
PYTHON=/usr/bin/python3
[ -x "$PYTHON" ] || PYTHON=python3
RADICALE="${ORVA_RADICALE:-/usr/bin/radicale}"
TOOLS="$PKG/target/tools"
# Radicale finds the package's sign-in check (orva_radicale_auth) here.
export PYTHONPATH="$TOOLS${PYTHONPATH:+:$PYTHONPATH}"
# Seconds to wait for a process to answer or to end.
WAIT_START=20
WAIT_STOP=10
# The watchdog: looks every second; waits 1, 2, 4 ... up to this many
# seconds between restarts of a process that keeps dying, and starts again
# from 1 once it has run for WATCH_SETTLE seconds.
WATCH_MAX_DELAY=60
WATCH_SETTLE=30

usage() {
	cat <<USAGE
Usage: $PROG start|stop|restart|status

  start    start the server with the property list as it is (nothing is
           done when it is running already)
  stop     stop the server and its watchdog; nothing of it is left
           running (nginx workers whose master died included)
  restart  start again with the property list as it now is; when the
           property list cannot be read, a port is taken or the new server
           does not start, the server is left as it was
  status   print "started", the ports and the watchdog's restarts (exit
           status 0), "stopped" (3), or "failed" and what is wrong (1)

start and restart also start a watchdog, which starts Radicale or nginx
again within seconds when one of them dies (waiting longer each time one
keeps dying); each restart is a line in server.log.

start and restart fail (exit status 1, the reason on standard error) when
the property list is missing or invalid, a port is in use by another
program, or a process does not start.

The server: Radicale (CardDAV and CalDAV) on the contact store's collections
folder, behind nginx on HTTPPort and, with EnableSSL, on SSLPort with TLS.
Paths (under \$ORVA_ROOT when it is set):
  property list     /var/packages/Tessaro/target/etc/orva_caldavd.plist
  users, passwords  /var/packages/Tessaro/target/etc/users.htpasswd (bcrypt)
  certificate, key  /var/packages/Tessaro/target/etc/ssl/server.crt, server.key
                    (a self-signed pair is made when neither exists)
  templates         /var/packages/Tessaro/target/etc/templates/
  collections       /var/packages/Tessaro/var/collections
  pids, state       /var/run/calendarserver/ (last_failure: the reason of the
                    last run that failed, as "[failure]" "reason=...")
  logs              /var/log/server.log (one line per start, stop or restart),
                    radicale.log, nginx-error.log, nginx-access.log

ORVA_SERVER_PROCESSES=off checks the property list and records the state
without running any process (for tests of the settings alone).
USAGE
}

log() {
	printf '%s %s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$*" >>"$LOG_FILE" 2>/dev/null
}

# Ends the run: one log line, the reason on standard error and in the run
# folder's last_failure (for "set", which names it in its answer).
fail() {
	log "$ACTION failed: $*"
	echo "$PROG: $ACTION failed: $*" >&2
	local reason="${*//[$'\r\n']/ }"
	printf '[failure]\nreason=%s\n' "$reason" >"$RUN_DIR/.last_failure.$$" 2>/dev/null &&
		mv -f "$RUN_DIR/.last_failure.$$" "$RUN_DIR/last_failure" 2>/dev/null
	exit 1
}

TEMP_FILES=()
cleanup() {
	local f
	for f in "${TEMP_FILES[@]}"; do rm -rf -- "$f"; done
}
trap cleanup EXIT

# Makes a temporary file of this run in the run folder and names it in the
# variable $1; it is removed when the run ends, unless moved into place.
temp_file() {
	local name
	name="$(mktemp "$RUN_DIR/.$2.XXXXXX")" || return 1
	TEMP_FILES+=("$name")
	printf -v "$1" '%s' "$name"
}

# --- processes ---------------------------------------------------------------

# True when the pid runs one of this root's server processes (a pid file can
# outlive its process, and the pid can be used again by another program).
is_ours() {
	local pid="$1" cmdline
	[[ "$pid" =~ ^[0-9]+$ ]] || return 1
	cmdline="$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")" || return 1
	[[ "$cmdline" == *"$RUN_DIR/"* ]]
}

read_pid() {
	local pid=""
	[ -f "$1" ] && read -r pid <"$1" 2>/dev/null
	printf '%s' "$pid"
}

# Stops a process of ours: TERM, then KILL (with its children) when it does
# not end in time. Fails only when it is still there after that.
stop_process() {
	local pid="$1" i
	is_ours "$pid" || return 0
	kill -TERM "$pid" 2>/dev/null
	for ((i = 0; i < WAIT_STOP * 10; i++)); do
		is_ours "$pid" || return 0
		sleep 0.1
	done
	pkill -KILL -P "$pid" 2>/dev/null
	kill -KILL "$pid" 2>/dev/null
	for ((i = 0; i < 20; i++)); do
		is_ours "$pid" || return 0
		sleep 0.1
	done
	return 1
}

# Stops the servers of this package whose run folder is gone (their root was
# deleted while they ran): nothing could stop them any more, and they would
# keep their ports from every later start.
reap_abandoned() {
	local file args cmdline run pid i index rest
	local -a reaped=()
	for file in $(grep -lasF -- "/var/run/calendarserver/" /proc/[0-9]*/cmdline); do
		mapfile -d '' args 2>/dev/null <"$file" || continue
		cmdline="${args[*]}"
		[[ "$cmdline" == "nginx: master process "* || "$cmdline" == *" $RADICALE --config "* ||
			"$cmdline" == *"/$PROG watch "* ]] || continue
		run="${cmdline%%/var/run/calendarserver/*}"
		run="${run##* }/var/run/calendarserver"
		[[ "$run" == /* ]] && [ ! -d "$run" ] || continue
		pid="${file#/proc/}"
		pid="${pid%/cmdline}"
		kill -TERM "$pid" 2>/dev/null || continue
		reaped+=("$pid")
		log "$ACTION: stopped pid $pid, a server whose run folder $run is gone"
	done
	# Their ports are free only once they have ended.
	for ((i = 0; i < WAIT_STOP * 10 && ${#reaped[@]} > 0; i++)); do
		for index in "${!reaped[@]}"; do
			# Ended, or a zombie nobody collected yet (its command line is empty).
			IFS= read -r -d '' rest 2>/dev/null <"/proc/${reaped[$index]}/cmdline" ||
				unset "reaped[$index]"
		done
		[ ${#reaped[@]} -gt 0 ] && sleep 0.1
	done
}

# Ends what is left of the process group $1 of this server's nginx once its
# master is gone (a master killed outright leaves its workers holding the
# ports). The group outlives its leader only while members remain, and no
# new process can take its number meanwhile, so every member is this
# server's own; only nginx processes are ended, all the same.
end_nginx_group() {
	local group="$1" file line pid i
	local -a fields members=()
	[[ "$group" =~ ^[0-9]+$ ]] || return 0
	is_ours "$group" && return 0
	for file in /proc/[0-9]*/stat; do
		IFS= read -r line 2>/dev/null <"$file" || continue
		read -r -a fields <<<"${line##*) }"
		[ "${fields[2]}" = "$group" ] || continue
		pid="${file#/proc/}"
		pid="${pid%/stat}"
		IFS= read -r -d '' line 2>/dev/null <"/proc/$pid/cmdline"
		[[ "$line" == nginx:* ]] && members+=("$pid")
	done
	[ ${#members[@]} -eq 0 ] && return 0
	kill -KILL "${members[@]}" 2>/dev/null
	log "$ACTION: ended ${#members[@]} nginx process(es) left by its master (pid $group)"
	for ((i = 0; i < 50; i++)); do
		for pid in "${!members[@]}"; do
			IFS= read -r -d '' line 2>/dev/null <"/proc/${members[$pid]}/cmdline" || unset "members[$pid]"
		done
		[ ${#members[@]} -eq 0 ] && return 0
		sleep 0.1
	done
}

# True when something accepts connections on the local port.
port_answers() {
	(exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# --- settings and configuration files ---------------------------------------

# Reads the property list and fills in both templates: writes the Radicale
# configuration to $1 and the nginx configuration (Radicale's port still
# open) to $2, and prints "HTTP SSL ssl-on redirect-on" for the script.
render() {
	"$PYTHON" - "$PLIST" "$TEMPLATES" "$1" "$2" <<'PY'
import os
import plistlib
import pwd
import grp
import re
import sys

plist, templates, radicale_out, nginx_out = sys.argv[1:5]
root = os.environ.get("ORVA_ROOT", "/").rstrip("/")


def fail(message):
    sys.exit(message)


try:
    with open(plist, "rb") as stream:
        conf = plistlib.load(stream)
except Exception as error:
    fail("cannot read the property list %s: %s" % (plist, error))
if not isinstance(conf, dict):
    fail("the property list %s does not hold a dictionary" % plist)


def port(key):
    value = conf.get(key)
    if isinstance(value, bool) or not isinstance(value, int) or not 1 <= value <= 65535:
        fail("the property list %s: %s is not a port (1 to 65535)" % (plist, key))
    return value


def flag(key):
    value = conf.get(key)
    if not isinstance(value, bool):
        fail("the property list %s: %s is not true or false" % (plist, key))
    return value


http, https = port("HTTPPort"), port("SSLPort")
ssl, redirect = flag("EnableSSL"), flag("RedirectHTTPToHTTPS")
realm = conf.get("RealmName", "Tessaro Calendar Server")
# The realm goes into a configuration line and a quoted header parameter,
# which Radicale sends as Latin-1: anything else there fails every sign-in.
if not isinstance(realm, str) or not realm.strip() or len(realm) > 200 or any(
        not (" " <= c <= "~" or "\xa0" <= c <= "\xff") or c in '"\\' for c in realm):
    shown = repr(realm[:40] + ("..." if len(realm) > 40 else "")) if isinstance(realm, str) else "not text"
    fail("the realm name %s (RealmName in %s) is refused: it must be 1 to 200 printable "
         "Latin-1 characters without quotes or backslashes" % (shown, plist))
if ssl and http == https:
    fail("HTTPPort and SSLPort are both %d" % http)
# Paths are written into both configurations as they are.
if re.search(r'["\\$;{}#\s]', root):
    fail("the appliance root %r holds characters the server's configuration "
         "cannot take" % root)

values = {
    "HTTP_PORT": str(http),
    "SSL_PORT": str(https),
    "REALM": realm.strip(),
    "RUN_DIR": root + "/var/run/calendarserver",
    "LOG_DIR": root + "/var/log",
    "SSL_DIR": root + "/var/packages/Tessaro/target/etc/ssl",
    "HTPASSWD": root + "/var/packages/Tessaro/target/etc/users.htpasswd",
    "COLLECTIONS": root + "/var/packages/Tessaro/var/collections",
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


def fill(name, out):
    path = os.path.join(templates, name)
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
    with open(out, "w", encoding="utf-8") as stream:
        stream.write(text)


fill("radicale.conf.in", radicale_out)
fill("nginx.conf.in", nginx_out)
print(http, https, "on" if ssl else "off", "on" if conditions["REDIRECT"] else "off")
PY
}

# Makes an empty password file when there is none: the server starts, and
# nobody can sign in until the administrator adds a user.
ensure_password_file() {
	[ -e "$HTPASSWD" ] && return 0
	(umask 077 && : >>"$HTPASSWD") || fail "cannot create the password file $HTPASSWD"
}

# A self-signed certificate at the first start with SSL, renewed when due
# (server_certificate.sh); a certificate and key that an administrator put
# there are used as they are.
ensure_certificate() {
	local out
	out="$(ORVA_ROOT="$ROOT" "$TOOLS/server_certificate.sh" ensure 2>&1)" || fail "${out##*$'\n'}"
	[ -z "$out" ] || log "$ACTION: ${out//$'\n'/; }"
}

# Checks the certificate once a day while the server runs, renewing it in
# time (a server may run for longer than the certificate lasts).
start_certificate_watch() {
	is_ours "$(read_pid "$RUN_DIR/certificate-watch.pid")" && return 0
	(exec setsid "$TOOLS/server_certificate.sh" watch "$RUN_DIR/" </dev/null >/dev/null 2>&1 9>&-) &
	printf '%s\n' "$!" >"$RUN_DIR/certificate-watch.pid"
}

# Fails unless every port can be bound, leaving out those that this root's
# running nginx holds now (it lets them go before the new one starts).
check_ports_free() {
	local held="$1"
	shift
	"$PYTHON" - "$held" "$@" <<'PY' || exit 1
import errno
import os
import socket
import sys

held = set(sys.argv[1].split())


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
    if not inodes:
        return ""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            for fd in os.listdir("/proc/%s/fd" % pid):
                if os.readlink("/proc/%s/fd/%s" % (pid, fd)) in inodes:
                    with open("/proc/%s/comm" % pid) as stream:
                        return "%s, pid %s" % (stream.read().strip(), pid)
        except OSError:
            continue
    return ""


for port in sys.argv[2:]:
    if port in held:
        continue
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    # As nginx binds: a closed connection's leftovers do not count.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        sock.bind(("0.0.0.0", int(port)))
    except OSError as error:
        if error.errno == errno.EADDRINUSE:
            who = holder(int(port))
            sys.exit("port %s is in use by another program%s" % (port, " (%s)" % who if who else ""))
        if error.errno == errno.EACCES:
            sys.exit("port %s needs privileges this user does not have" % port)
        sys.exit("port %s cannot be used: %s" % (port, error.strerror))
    finally:
        sock.close()
PY
}

# --- Radicale ----------------------------------------------------------------

# Starts Radicale with the configuration $1; sets NEW_RADICALE_PID and
# NEW_RADICALE_PORT once it listens. The lock's descriptor is not passed on.
start_radicale() {
	local conf="$1" offset line i
	[ -x "$RADICALE" ] || fail "Radicale is not installed ($RADICALE; Debian package radicale)"
	offset=$(stat -c %s "$RADICALE_LOG" 2>/dev/null || echo 0)
	# Its own session, so that signals to the caller's group do not reach it;
	# what it writes of the users' data is theirs alone, as the store's files.
	(umask 077 && exec setsid "$RADICALE" --config "$conf" </dev/null >>"$RADICALE_LOG" 2>&1 9>&-) &
	NEW_RADICALE_PID=$!
	NEW_RADICALE_PORT=""
	for ((i = 0; i < WAIT_START * 20; i++)); do
		line="$(tail -c +"$((offset + 1))" "$RADICALE_LOG" 2>/dev/null |
			grep -a "^\[[^]]*\] \[$NEW_RADICALE_PID[]/].*Listening on '\[127.0.0.1\]:[0-9]*'" | head -n 1)"
		if [ -n "$line" ]; then
			NEW_RADICALE_PORT="${line##*:}"
			NEW_RADICALE_PORT="${NEW_RADICALE_PORT%%\'*}"
			port_answers "$NEW_RADICALE_PORT" && return 0
		fi
		if ! kill -0 "$NEW_RADICALE_PID" 2>/dev/null; then
			wait "$NEW_RADICALE_PID" 2>/dev/null
			line="$(tail -c +"$((offset + 1))" "$RADICALE_LOG" 2>/dev/null | grep -a 'ERROR\|CRITICAL' | tail -n 1)"
			fail "Radicale did not start${line:+: ${line#*] }} (see $RADICALE_LOG)"
		fi
		sleep 0.05
	done
	stop_process "$NEW_RADICALE_PID"
	fail "Radicale did not answer within $WAIT_START seconds (see $RADICALE_LOG)"
}

# --- nginx -------------------------------------------------------------------

nginx_run() {
	"$NGINX" -p "$RUN_DIR/nginx/" -e "$NGINX_ERROR_LOG" -c "$@" </dev/null 9>&-
}

# Starts nginx with the configuration $1; waits for its pid file and ports.
# Prints the reason and fails when it does not start.
start_nginx() {
	local conf="$1" out pid port i
	shift
	rm -f "$RUN_DIR/nginx.pid"
	if ! out="$(nginx_run "$conf" 2>&1)"; then
		printf '%s\n' "$(printf '%s\n' "$out" | grep -a 'emerg\|alert\|crit' | tail -n 1)"
		return 1
	fi
	for ((i = 0; i < WAIT_START * 20; i++)); do
		pid="$(read_pid "$RUN_DIR/nginx.pid")"
		if is_ours "$pid"; then
			for port in "$@"; do port_answers "$port" || continue 2; done
			return 0
		fi
		sleep 0.05
	done
	echo "nginx did not answer within $WAIT_START seconds (see $NGINX_ERROR_LOG)"
	return 1
}

stop_nginx() {
	local pid
	pid="$(read_pid "$RUN_DIR/nginx.pid")"
	stop_process "$pid" || return 1
	end_nginx_group "$pid"
	rm -f "$RUN_DIR/nginx.pid" "$RUN_DIR/nginx.ports"
}

# --- actions -----------------------------------------------------------------

running_radicale() {
	local pid
	pid="$(read_pid "$RUN_DIR/radicale.pid")"
	is_ours "$pid" && printf '%s' "$pid"
}

running_nginx() {
	local pid
	pid="$(read_pid "$RUN_DIR/nginx.pid")"
	is_ours "$pid" && printf '%s' "$pid"
}

start_like() {
	local settings http https ssl redirect radicale_conf nginx_conf out
	local old_radicale_pid old_radicale_port old_nginx_ports ports reuse_radicale=no
	temp_file radicale_conf radicale.conf && temp_file nginx_conf nginx.conf ||
		fail "cannot write in $RUN_DIR"
	settings="$(render "$radicale_conf" "$nginx_conf" 2>&1)" || fail "${settings##*$'\n'}"
	read -r http https ssl redirect <<<"$settings"
	local summary="HTTP $http, HTTPS $https, SSL $ssl, redirect $redirect"

	if [ "${ORVA_SERVER_PROCESSES:-on}" = off ]; then
		: >"$RUN_DIR/no-processes" || fail "cannot write in $RUN_DIR"
		log "$ACTION: started without processes (ORVA_SERVER_PROCESSES=off); $summary"
		return 0
	fi
	old_radicale_pid="$(running_radicale)"
	if [ "$ACTION" = start ] && [ -n "$old_radicale_pid" ] && [ -n "$(running_nginx)" ]; then
		start_watchdog
		log "start: already running"
		return 0
	fi

	reap_abandoned
	# Workers of a master that died would hold the ports against the check.
	[ -z "$(running_nginx)" ] && end_nginx_group "$(read_pid "$RUN_DIR/nginx.pid")"
	ports="$http"
	[ "$ssl" = on ] && ports="$http $https"
	old_nginx_ports=""
	[ -n "$(running_nginx)" ] && old_nginx_ports="$(cat "$RUN_DIR/nginx.ports" 2>/dev/null)"
	out="$(check_ports_free "$old_nginx_ports" $ports 2>&1)" || fail "$out"
	ensure_password_file
	[ "$ssl" = on ] && ensure_certificate
	mkdir -p "$RUN_DIR/nginx" || fail "cannot create $RUN_DIR/nginx"

	# Radicale: kept when its configuration is the same; otherwise the new
	# one starts beside the old one, which keeps serving until nginx moved.
	old_radicale_port="$(cat "$RUN_DIR/radicale.port" 2>/dev/null)"
	if [ -n "$old_radicale_pid" ] && [ -n "$old_radicale_port" ] &&
		cmp -s "$radicale_conf" "$RUN_DIR/radicale.conf"; then
		reuse_radicale=yes
		NEW_RADICALE_PID="$old_radicale_pid"
		NEW_RADICALE_PORT="$old_radicale_port"
	else
		start_radicale "$radicale_conf"
	fi
	sed -i "s/@RADICALE_PORT@/$NEW_RADICALE_PORT/" "$nginx_conf"

	if ! out="$(nginx_run "$nginx_conf" -t 2>&1)"; then
		[ $reuse_radicale = no ] && stop_process "$NEW_RADICALE_PID"
		fail "the nginx configuration is not valid: $(printf '%s\n' "$out" | grep -a 'emerg' | tail -n 1)"
	fi

	# The moment of change: stop the old nginx, start the new one, and put the
	# old one back when the new one does not start.
	stop_nginx || fail "the running nginx does not stop"
	[ -f "$RUN_DIR/nginx.conf" ] && mv -f "$RUN_DIR/nginx.conf" "$RUN_DIR/nginx.conf.old"
	mv -f "$nginx_conf" "$RUN_DIR/nginx.conf"
	if ! out="$(start_nginx "$RUN_DIR/nginx.conf" $ports)"; then
		stop_nginx
		mv -f "$RUN_DIR/nginx.conf" "$RUN_DIR/nginx.conf.failed"
		[ $reuse_radicale = no ] && stop_process "$NEW_RADICALE_PID"
		if [ -n "$old_nginx_ports" ] && [ -f "$RUN_DIR/nginx.conf.old" ]; then
			mv -f "$RUN_DIR/nginx.conf.old" "$RUN_DIR/nginx.conf"
			if start_nginx "$RUN_DIR/nginx.conf" $old_nginx_ports >/dev/null; then
				printf '%s\n' "$old_nginx_ports" >"$RUN_DIR/nginx.ports"
				fail "nginx did not start: $out; the server runs as before"
			fi
		fi
		fail "nginx did not start: $out"
	fi
	rm -f "$RUN_DIR/nginx.conf.old" "$RUN_DIR/nginx.conf.failed"
	printf '%s\n' "$ports" >"$RUN_DIR/nginx.ports"

	if [ $reuse_radicale = no ]; then
		[ -n "$old_radicale_pid" ] && stop_process "$old_radicale_pid"
		mv -f "$radicale_conf" "$RUN_DIR/radicale.conf"
		printf '%s\n' "$NEW_RADICALE_PID" >"$RUN_DIR/radicale.pid"
		printf '%s\n' "$NEW_RADICALE_PORT" >"$RUN_DIR/radicale.port"
	fi
	rm -f "$RUN_DIR/no-processes"
	start_watchdog
	[ "$ssl" = on ] && start_certificate_watch
	log "$ACTION: started; $summary"
}

stop_all() {
	local was=no
	[ -n "$(running_nginx)$(running_radicale)" ] || [ -f "$RUN_DIR/no-processes" ] && was=yes
	stop_watchdog || fail "the watchdog (pid $(read_pid "$RUN_DIR/watchdog.pid")) does not stop"
	stop_nginx || fail "nginx (pid $(read_pid "$RUN_DIR/nginx.pid")) does not stop"
	stop_process "$(read_pid "$RUN_DIR/radicale.pid")" ||
		fail "Radicale (pid $(read_pid "$RUN_DIR/radicale.pid")) does not stop"
	rm -f "$RUN_DIR/radicale.pid" "$RUN_DIR/radicale.port" "$RUN_DIR/no-processes" \
		"$RUN_DIR/restarts"
	stop_process "$(read_pid "$RUN_DIR/certificate-watch.pid")" && rm -f "$RUN_DIR/certificate-watch.pid"
	if [ $was = yes ]; then log "stop: stopped"; else log "stop: was not running"; fi
}

status() {
	local nginx radicale ports port
	if [ -f "$RUN_DIR/no-processes" ]; then
		echo "started (without processes)"
		return 0
	fi
	nginx="$(running_nginx)"
	radicale="$(running_radicale)"
	if [ -z "$nginx" ] && [ -z "$radicale" ]; then
		if [ -f "$RUN_DIR/nginx.pid" ] || [ -f "$RUN_DIR/radicale.pid" ]; then
			echo "failed: the server was started and is not running any more"
			return 1
		fi
		echo stopped
		return 3
	fi
	if [ -z "$nginx" ]; then
		echo "failed: Radicale runs, nginx does not"
		return 1
	fi
	if [ -z "$radicale" ]; then
		echo "failed: nginx runs, Radicale does not"
		return 1
	fi
	read -r -a ports <"$RUN_DIR/nginx.ports"
	for port in "${ports[@]}"; do
		if ! port_answers "$port"; then
			echo "failed: nothing answers on port $port"
			return 1
		fi
	done
	echo "started"
	echo "HTTP port ${ports[0]}"
	[ ${#ports[@]} -gt 1 ] && echo "HTTPS port ${ports[1]}"
	if [ -n "$(running_watchdog)" ]; then
		echo "watchdog running"
	else
		echo "watchdog not running: a process that dies is not started again"
	fi
	local restarts=0 last=""
	if [ -f "$RUN_DIR/restarts" ]; then
		restarts=$(wc -l <"$RUN_DIR/restarts")
		last="$(tail -n 1 "$RUN_DIR/restarts")"
	fi
	echo "restarts by the watchdog: $restarts${last:+ (last: $last)}"
	return 0
}

# --- watchdog ----------------------------------------------------------------

# The watchdog runs this script with "watch RUN_DIR/", so that is_ours knows
# it as this root's own.
running_watchdog() {
	local pid
	pid="$(read_pid "$RUN_DIR/watchdog.pid")"
	is_ours "$pid" && printf '%s' "$pid"
}

# The watchdog writes its own pid file; this waits for it, briefly.
start_watchdog() {
	local i
	[ -n "$(running_watchdog)" ] && return 0
	rm -f "$RUN_DIR/watchdog.pid"
	ORVA_ROOT="$ROOT" setsid "$0" watch "$RUN_DIR/" </dev/null >/dev/null 2>&1 9>&- &
	for ((i = 0; i < 50; i++)); do
		[ -n "$(running_watchdog)" ] && return 0
		sleep 0.05
	done
	log "$ACTION: the watchdog did not start"
}

stop_watchdog() {
	stop_process "$(read_pid "$RUN_DIR/watchdog.pid")" || return 1
	rm -f "$RUN_DIR/watchdog.pid"
}

# Notes one restart for status and server.log.
note_restart() {
	printf '%s %s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$*" >>"$RUN_DIR/restarts"
	log "watchdog: $*"
}

# Starts Radicale again with its configuration in use and points nginx at
# its new port. Prints the reason and fails when it does not start.
revive_radicale() {
	local old="$1" out pid port nginx
	# A subshell: start_radicale ends the run when Radicale does not start.
	out="$(start_radicale "$RUN_DIR/radicale.conf" 2>&1 >/dev/null &&
		printf '%s %s' "$NEW_RADICALE_PID" "$NEW_RADICALE_PORT")" || {
		printf '%s\n' "${out##*$'\n'}"
		return 1
	}
	read -r pid port <<<"$out"
	printf '%s\n' "$pid" >"$RUN_DIR/radicale.pid"
	printf '%s\n' "$port" >"$RUN_DIR/radicale.port"
	sed -i "s/server 127\.0\.0\.1:[0-9]*;/server 127.0.0.1:$port;/" "$RUN_DIR/nginx.conf"
	nginx="$(running_nginx)"
	[ -n "$nginx" ] && kill -HUP "$nginx"
	note_restart "Radicale (pid $old) had ended; started again as pid $pid"
}

revive_nginx() {
	local old="$1" out
	end_nginx_group "$old"
	if ! out="$(start_nginx "$RUN_DIR/nginx.conf" $(cat "$RUN_DIR/nginx.ports" 2>/dev/null))"; then
		printf '%s\n' "$out"
		return 1
	fi
	note_restart "nginx (pid $old) had ended; started again as pid $(read_pid "$RUN_DIR/nginx.pid")"
}

# Looks every second whether Radicale and nginx still run and starts again
# the one that does not, with a growing delay for one that keeps dying. Acts
# only while no start or stop runs (the lock), and ends when the server is
# stopped or its run folder is gone.
watch() {
	local now name pid out
	local -A delay=([radicale]=1 [nginx]=1) next=([radicale]=0 [nginx]=0)
	local -A since=([radicale]=0 [nginx]=0)
	trap 'exit 0' TERM INT
	printf '%s\n' "$$" >"$RUN_DIR/.watchdog.pid.$$" && mv -f "$RUN_DIR/.watchdog.pid.$$" "$RUN_DIR/watchdog.pid"
	while [ -d "$RUN_DIR" ] && [ "$(read_pid "$RUN_DIR/watchdog.pid")" = "$$" ]; do
		sleep 1 &
		wait $!
		flock -n 9 || continue
		if [ ! -f "$RUN_DIR/radicale.pid" ] || [ ! -f "$RUN_DIR/nginx.ports" ]; then
			flock -u 9
			break
		fi
		now=$(date +%s)
		for name in radicale nginx; do
			pid="$(read_pid "$RUN_DIR/$name.pid")"
			if is_ours "$pid"; then
				((now - since[$name] >= WATCH_SETTLE)) && delay[$name]=1
				continue
			fi
			((now < next[$name])) && continue
			if ! out="$("revive_$name" "$pid")"; then
				log "watchdog: $name could not be started again: $out"
			fi
			since[$name]=$now
			next[$name]=$((now + delay[$name]))
			delay[$name]=$((delay[$name] * 2 > WATCH_MAX_DELAY ? WATCH_MAX_DELAY : delay[$name] * 2))
		done
		flock -u 9
	done
}

ACTION="${1:-}"
if [ $# -ne 1 ] && ! { [ "$ACTION" = watch ] && [ $# -eq 2 ]; }; then
	usage >&2
	exit 2
fi
case "$ACTION" in
start | stop | restart | status | watch) ;;
-h | --help | help)
	usage
	exit 0
	;;
*)
	usage >&2
	exit 2
	;;
esac

mkdir -p "$LOG_DIR" 2>/dev/null
if ! mkdir -p "$RUN_DIR" 2>/dev/null; then
	echo "$PROG: $ACTION failed: cannot create $RUN_DIR" >&2
	log "$ACTION failed: cannot create $RUN_DIR"
	exit 1
fi
# One run at a time; status only waits for a change to finish.
exec 9>>"$RUN_DIR/lock" || fail "cannot open the lock $RUN_DIR/lock"
if [ "$ACTION" = status ]; then
	flock -s -w 60 9 || fail "another start or stop did not finish within 60 seconds"
	status
	exit $?
fi
if [ "$ACTION" = watch ]; then
	watch
	exit 0
fi
flock -w 60 9 || fail "another start or stop did not finish within 60 seconds"
rm -f "$RUN_DIR/last_failure"
case "$ACTION" in
start | restart) start_like ;;
stop) stop_all ;;
esac
exit 0
