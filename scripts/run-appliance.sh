#!/usr/bin/env bash
# Runs the reference appliance for a person to try it: the package's
# CardDAV/CalDAV server (nginx in front of Radicale, on the contact store's
# files) and the web-API host, both on one appliance root. Ctrl-C, or SIGTERM
# to this script, stops both.
set -uo pipefail
if [ $# -ne 3 ]; then
  echo "usage: run-appliance.sh BIN_DIR ROOT HOST:PORT" >&2
  exit 2
fi
bin=$1
root=$2
listen=$3
host="$bin/orva-webapi"
package="$bin/../share/orva/package"
target="$root/var/packages/Tessaro/target"
script="$target/tools/calendarserver_start_stop.sh"

# The host seeds a fresh root; the package's programs and templates are then
# brought up to date, as installing a new version of the package would.
"$host" --root "$root" methods >/dev/null || exit 1
root=$(cd "$root" && pwd)
install -m 0755 "$package/orva_calendar_conf_dump.py" "$package/calendarserver_start_stop.sh" \
  "$package/orva_server_conf.py" "$package/orva_server_guard.py" "$package/server_certificate.sh" \
  "$package/orva_server_processes.py" \
  "$target/tools/" || exit 1
install -m 0644 "$package/orva_radicale_storage.py" "$target/tools/" || exit 1
install -d "$target/etc/templates" &&
  install -m 0644 "$package/radicale.conf.in" "$package/nginx.conf.in" \
    "$package/supervisord.conf.in" "$target/etc/templates/" || exit 1
ORVA_ROOT="$root" "$target/tools/orva_calendar_conf_dump.py" --dump \
  /var/packages/Tessaro/target/etc/calendar_server_json.conf \
  /var/packages/Tessaro/target/etc/orva_caldavd.plist || exit 1

host_pid=""
stop_server() { ORVA_ROOT="$root" "$script" stop; }
trap stop_server EXIT
# A signal to this script goes on to the host (bash would otherwise wait for
# its foreground child before it ran a trap); the host's end then ends the
# script, and the EXIT trap stops the server.
stop_host() { [ -n "$host_pid" ] && kill -TERM "$host_pid" 2>/dev/null; }
trap 'stop_host; [ -n "$host_pid" ] || exit 0' INT TERM

echo "CardDAV/CalDAV server:"
if ORVA_ROOT="$root" "$script" start; then
  ORVA_ROOT="$root" "$script" status | sed -n 's/^\(HTTPS*\) port \([0-9]*\)$/\1 \2/p' |
    while read -r scheme port; do
      scheme=$(echo "$scheme" | tr 'A-Z' 'a-z')
      echo "  $scheme://localhost:$port/   (CardDAV client address: $scheme://localhost:$port/USER/contacts/)"
    done
  echo "  users and passwords: $target/etc/users.htpasswd"
  echo "  add one: htpasswd -B $target/etc/users.htpasswd alice"
else
  echo "  did not start (see above); the web API's Common set changes its ports"
fi
echo "Web API:"
"$host" --root "$root" serve --listen "$listen" &
host_pid=$!
# wait returns early when a signal's trap runs; wait again for the host's end.
while ! wait "$host_pid"; do
  kill -0 "$host_pid" 2>/dev/null || break
done
