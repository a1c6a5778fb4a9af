#!/bin/bash
# Starts, stops and restarts the calendar and contacts server of the package.
#
# The server itself is not part of the package yet: "start" and "restart"
# check its property list and record the start in the pid file, but run no
# server process, and say so in their log line.

set -u

ROOT="${ORVA_ROOT:-/}"
ROOT="${ROOT%/}"
PLIST="$ROOT/var/packages/Tessaro/target/etc/orva_caldavd.plist"
PID_FILE="$ROOT/var/run/calendarserver.pid"
LOG_FILE="$ROOT/var/log/server.log"
PROG="calendarserver_start_stop.sh"

usage() {
	cat <<USAGE
Usage: $PROG start|stop|restart|status

  start    read the server's property list and start the server
  stop     stop the server
  restart  start again with the property list as it now is; when it
           cannot be read, the server is left as it was
  status   print "started" or "stopped" (exit status 0 or 3)

Paths (under \$ORVA_ROOT when it is set):
  property list  /var/packages/Tessaro/target/etc/orva_caldavd.plist
  pid file       /var/run/calendarserver.pid
  log            /var/log/server.log (one line per start, stop or restart)

No server process is run yet: start and restart record the start in the pid
file (the pid of the script that made it) and log the settings they read.
USAGE
}

log() {
	mkdir -p "${LOG_FILE%/*}" || return 1
	printf '%s %s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$*" >>"$LOG_FILE"
}

# Prints the settings of the property list on one line; fails (with the
# reason on standard error) when it is missing, unreadable or incomplete.
read_settings() {
	python3 - "$PLIST" <<'PY'
import plistlib
import sys

try:
    with open(sys.argv[1], "rb") as stream:
        conf = plistlib.load(stream)
except Exception as error:
    sys.exit("cannot read %s: %s" % (sys.argv[1], error))
if not isinstance(conf, dict):
    sys.exit("%s does not hold a dictionary" % sys.argv[1])
for key in ("HTTPPort", "SSLPort"):
    value = conf.get(key)
    if isinstance(value, bool) or not isinstance(value, int):
        sys.exit("%s: %s is not a port" % (sys.argv[1], key))
on = lambda key: "on" if conf.get(key) is True else "off"
print("HTTP %d, HTTPS %d, SSL %s, redirect %s" % (
    conf["HTTPPort"], conf["SSLPort"], on("EnableSSL"), on("RedirectHTTPToHTTPS")))
PY
}

record_start() {
	mkdir -p "${PID_FILE%/*}" && printf '%s\n' "$$" >"$PID_FILE.new" && mv -f "$PID_FILE.new" "$PID_FILE"
}

start_like() {
	local action="$1" settings
	if ! settings="$(read_settings)"; then
		log "$action failed: cannot read the property list $PLIST"
		echo "$PROG: $action failed: cannot read the property list $PLIST" >&2
		return 1
	fi
	if [ "$action" = start ] && [ -f "$PID_FILE" ]; then
		log "start: already started; no server process is run yet ($settings)"
		return 0
	fi
	if ! record_start; then
		log "$action failed: cannot write the pid file $PID_FILE"
		echo "$PROG: $action failed: cannot write the pid file $PID_FILE" >&2
		return 1
	fi
	log "$action: no server process is run yet; settings read ($settings)"
}

stop() {
	if [ -f "$PID_FILE" ]; then
		if ! rm -f "$PID_FILE"; then
			log "stop failed: cannot remove the pid file $PID_FILE"
			return 1
		fi
		log "stop: stopped (no server process was running)"
	else
		log "stop: was not started"
	fi
}

if [ $# -ne 1 ]; then
	usage >&2
	exit 2
fi

case "$1" in
start | restart)
	start_like "$1" || exit 1
	;;
stop)
	stop || exit 1
	;;
status)
	if [ -f "$PID_FILE" ]; then
		echo started
	else
		echo stopped
		exit 3
	fi
	;;
-h | --help | help)
	usage
	;;
*)
	usage >&2
	exit 2
	;;
esac
exit 0
