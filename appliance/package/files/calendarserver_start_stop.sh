#!/bin/bash
# Starts, stops and restarts the package's calendar and contacts server:
# Radicale serves CardDAV and CalDAV from the contact store's collections
# folder, and nginx in front of it listens on the ports of the server's
# property list, holds the TLS certificate and redirects HTTP to HTTPS.
#
# The parts: orva_server_conf.py renders the configurations from the
# property list and the templates; supervisord (one per appliance root)
# runs the processes and starts again one that ends; orva_server_guard.py,
# one of its programs, restarts one that stops answering and supervisord
# itself when it ends. This script checks, puts configurations in place and
# tells supervisord what to do, one run at a time per root (a lock).

set -u
umask 022

ROOT="${ORVA_ROOT:-/}"
ROOT="${ROOT%/}"
export ORVA_ROOT="${ROOT:-/}"
PROG="calendarserver_start_stop.sh"
PKG="$ROOT/var/packages/Tessaro"
HTPASSWD="$PKG/target/etc/users.htpasswd"
TOOLS="$PKG/target/tools"
RUN_DIR="$ROOT/var/run/calendarserver"
LOG_DIR="$ROOT/var/log"
LOG_FILE="$LOG_DIR/server.log"
NGINX="${ORVA_NGINX:-/usr/sbin/nginx}"
SUPERVISORD=/usr/bin/supervisord
SUPERVISORCTL=/usr/bin/supervisorctl
CONF="$TOOLS/orva_server_conf.py"
GUARD="$TOOLS/orva_server_guard.py"
# Seconds for the server to answer after a start.
WAIT_START=30

usage() {
	cat <<USAGE
Usage: $PROG start|stop|restart|status

  start    start the server with the property list as it is (nothing is
           done when it is running already)
  stop     stop the server and its supervisor; nothing of it is left running
  restart  start again with the property list as it now is; when the
           property list cannot be read, a port is taken or the new server
           does not start, the server is left as it was
  status   print "started" and what answers (exit status 0), "stopped" (3),
           or "failed: " and what does not answer (1)

supervisord (one per appliance root, $RUN_DIR/supervisord.conf) starts a
process that ends again at once, and one that keeps ending after 1, 2, 3 ...
seconds. Its guard ends a process that stops answering (so that it is
started again) and starts supervisord again when it ends; each restart is a
line in server.log and is counted by status.

start and restart fail (exit status 1, the reason on standard error) when
the property list is missing or invalid, a port is in use by another
program, or a process does not start.

Paths (under \$ORVA_ROOT when it is set):
  property list     /var/packages/Tessaro/target/etc/orva_caldavd.plist
  users, passwords  /var/packages/Tessaro/target/etc/users.htpasswd (bcrypt)
  certificate, key  /var/packages/Tessaro/target/etc/ssl/ (server_certificate.sh)
  templates         /var/packages/Tessaro/target/etc/templates/
  collections       /var/packages/Tessaro/var/collections
  run folder        /var/run/calendarserver/ (configurations, pids, the
                    supervisor's socket; last_failure: the reason of the last
                    run that failed, as "[failure]" "reason=...")
  logs              /var/log/server.log (one line per start, stop or restart),
                    radicale.log, nginx-error.log, supervisord.log

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

STAGE=""
trap '[ -n "$STAGE" ] && rm -rf -- "$STAGE"' EXIT

ctl() {
	timeout 30 "$SUPERVISORCTL" -c "$RUN_DIR/supervisord.conf" "$@" </dev/null 9>&-
}

# True when this root's supervisord runs.
supervised() {
	local pid
	pid="$(cat "$RUN_DIR/supervisord.pid" 2>/dev/null)"
	[[ "$pid" =~ ^[0-9]+$ ]] &&
		tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -qF -- "-c $RUN_DIR/supervisord.conf"
}

# Makes an empty password file when there is none: the server starts, and
# nobody can sign in until the administrator adds a user.
ensure_password_file() {
	[ -e "$HTPASSWD" ] && return 0
	(umask 077 && : >>"$HTPASSWD") || fail "cannot create the password file $HTPASSWD"
}

# The certificate authority and the server's certificate, made at the first
# start with SSL and renewed when due; an administrator's pair is used as it is.
ensure_certificate() {
	local out
	out="$("$TOOLS/server_certificate.sh" ensure 2>&1)" || fail "${out##*$'\n'}"
	[ -z "$out" ] || log "$ACTION: ${out//$'\n'/; }"
}

# Moves the staged configuration $1 into place; the one in use is kept as
# $1.old until the new one runs.
install_conf() {
	[ -f "$RUN_DIR/$1" ] && cp -p "$RUN_DIR/$1" "$RUN_DIR/$1.old"
	mv -f "$STAGE/$1" "$RUN_DIR/$1"
}

start_supervisord() {
	local out
	for name in radicale.conf nginx.conf supervisord.conf; do install_conf "$name"; done
	rm -f "$RUN_DIR"/*.old
	: >"$RUN_DIR/started"
	"$SUPERVISORD" -c "$RUN_DIR/supervisord.conf" </dev/null >/dev/null 2>&1 9>&- ||
		fail "supervisord did not start (see $LOG_DIR/supervisord.log)"
	if ! out="$("$GUARD" wait "$RUN_DIR/" "$WAIT_START")"; then
		stop_all quiet
		fail "$out"
	fi
}

# nginx with a new configuration; the old one is put back when it does not
# start.
move_nginx() {
	local out
	ctl stop nginx >/dev/null
	install_conf nginx.conf
	printf '%s\n' "$1" >"$RUN_DIR/nginx.ports"
	"$GUARD" start "$RUN_DIR/" nginx >/dev/null 2>&1
	out="$("$GUARD" wait "$RUN_DIR/" "$WAIT_START" nginx)" && return 0
	ctl stop nginx >/dev/null
	mv -f "$RUN_DIR/nginx.conf" "$RUN_DIR/nginx.conf.failed"
	if [ -f "$RUN_DIR/nginx.conf.old" ]; then
		mv -f "$RUN_DIR/nginx.conf.old" "$RUN_DIR/nginx.conf"
		printf '%s\n' "$2" >"$RUN_DIR/nginx.ports"
		"$GUARD" start "$RUN_DIR/" nginx >/dev/null 2>&1
		"$GUARD" wait "$RUN_DIR/" "$WAIT_START" nginx >/dev/null &&
			fail "nginx did not start: $out; the server runs as before"
	fi
	fail "nginx did not start: $out"
}

start_like() {
	local settings http https ssl redirect radicale_port ports held="" runs=no out
	STAGE="$(mktemp -d "$RUN_DIR/.stage.XXXXXX")" || fail "cannot write in $RUN_DIR"
	supervised && runs=yes
	# Its Radicale holds its port, or is about to again.
	[ $runs = yes ] && export ORVA_RADICALE_RUNS=yes
	settings="$("$CONF" render "$STAGE" 2>&1)" || fail "${settings##*$'\n'}"
	read -r http https ssl redirect radicale_port <<<"$settings"
	local summary="HTTP $http, HTTPS $https, SSL $ssl, redirect $redirect"

	if [ "${ORVA_SERVER_PROCESSES:-on}" = off ]; then
		: >"$RUN_DIR/no-processes" || fail "cannot write in $RUN_DIR"
		log "$ACTION: started without processes (ORVA_SERVER_PROCESSES=off); $summary"
		return 0
	fi
	if [ "$ACTION" = start ] && [ $runs = yes ] && [ -f "$RUN_DIR/started" ]; then
		log "start: already running"
		return 0
	fi
	out="$("$GUARD" reap)"
	[ -z "$out" ] || log "$ACTION: $out"
	# What a supervisord that died left behind would hold the ports.
	[ $runs = no ] && "$GUARD" end "$RUN_DIR/"
	ports="$http"
	[ "$ssl" = on ] && ports="$http $https"
	[ $runs = yes ] && held="$(cat "$RUN_DIR/nginx.ports" 2>/dev/null)"
	out="$("$CONF" check-ports "$held" $ports 2>&1)" || fail "$out"
	ensure_password_file
	[ "$ssl" = on ] && ensure_certificate
	mkdir -p "$RUN_DIR/nginx" || fail "cannot create $RUN_DIR/nginx"
	if ! out="$("$NGINX" -p "$RUN_DIR/nginx/" -e "$LOG_DIR/nginx-error.log" -c "$STAGE/nginx.conf" -t 2>&1 </dev/null 9>&-)"; then
		fail "the nginx configuration is not valid: $(printf '%s\n' "$out" | grep -a 'emerg' | tail -n 1)"
	fi
	printf '%s\n' "$radicale_port" >"$RUN_DIR/radicale.port"
	rm -f "$RUN_DIR/no-processes"

	if [ $runs = no ]; then
		printf '%s\n' "$ports" >"$RUN_DIR/nginx.ports"
		start_supervisord
	else
		# Programs added or removed (the certificate's with SSL) first.
		if ! cmp -s "$STAGE/supervisord.conf" "$RUN_DIR/supervisord.conf"; then
			install_conf supervisord.conf
			ctl update >/dev/null || fail "supervisord did not take its new configuration"
			out="$("$GUARD" wait "$RUN_DIR/" "$WAIT_START" radicale)" || fail "$out"
		fi
		# Always: nginx reads the certificate only when it starts.
		move_nginx "$ports" "$held"
		if ! cmp -s "$STAGE/radicale.conf" "$RUN_DIR/radicale.conf"; then
			install_conf radicale.conf
			"$GUARD" restart "$RUN_DIR/" radicale >/dev/null 2>&1
			out="$("$GUARD" wait "$RUN_DIR/" "$WAIT_START" radicale)" || fail "$out"
		fi
		rm -f "$RUN_DIR"/*.old
		: >"$RUN_DIR/started"
	fi
	log "$ACTION: started; $summary"
}

stop_all() {
	local was=no
	[ -f "$RUN_DIR/started" ] || [ -f "$RUN_DIR/no-processes" ] && was=yes
	# First, so that the guard does not start supervisord again.
	rm -f "$RUN_DIR/started" "$RUN_DIR/no-processes"
	if supervised; then
		ctl shutdown >/dev/null 2>&1
		local pid i
		pid="$(cat "$RUN_DIR/supervisord.pid" 2>/dev/null)"
		for ((i = 0; i < 200; i++)); do
			[[ "$pid" =~ ^[0-9]+$ ]] && kill -0 "$pid" 2>/dev/null || break
			sleep 0.1
		done
	fi
	# Whatever did not end in time, or was left by a supervisord that died.
	"$GUARD" end "$RUN_DIR/"
	rm -f "$RUN_DIR/nginx.ports" "$RUN_DIR/restarts"
	[ "${1:-}" = quiet ] && return 0
	if [ $was = yes ]; then log "stop: stopped"; else log "stop: was not running"; fi
}

status() {
	if [ -f "$RUN_DIR/no-processes" ]; then
		echo "started (without processes)"
		return 0
	fi
	if [ ! -f "$RUN_DIR/started" ]; then
		echo stopped
		return 3
	fi
	"$GUARD" status "$RUN_DIR/"
}

ACTION="${1:-}"
if [ $# -ne 1 ]; then
	usage >&2
	exit 2
fi
case "$ACTION" in
start | stop | restart | status) ;;
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
flock -w 60 9 || fail "another start or stop did not finish within 60 seconds"
rm -f "$RUN_DIR/last_failure"
case "$ACTION" in
start | restart) start_like ;;
stop) stop_all ;;
esac
exit 0
