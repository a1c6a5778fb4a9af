#!/usr/bin/env bash
# Prints how long the package's server takes to answer again after each of
# its processes is killed outright (kill -9) or stopped (kill -STOP), on a
# fresh root and free ports. Usage: server-recovery.sh [BIN_DIR]  (build/bin)
set -uo pipefail
bin="${1:-build/bin}"
root="$(mktemp -d /tmp/server-recovery.XXXXXX)"
run="$root/var/run/calendarserver"
script="$root/var/packages/Tessaro/target/tools/calendarserver_start_stop.sh"
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("",0)); print(s.getsockname()[1])'; }
http=$(free_port)
https=$(free_port)
trap 'ORVA_ROOT=$root "$script" stop >/dev/null; rm -rf "$root"' EXIT

ORVA_SERVER_PROCESSES=on "$bin/orva-webapi" --root "$root" call ORVA.ContactAndCalendar.Common set \
  EnableSSL:=true RedirectHTTPToHTTPS:=false HTTPPort:="$http" SSLPort:="$https" >/dev/null || exit 1

pid_with() {
  local file
  for file in /proc/[0-9]*/cmdline; do
    { tr '\0' ' ' <"$file"; } 2>/dev/null | grep -qF -- "$1$run/" && { file="${file#/proc/}"; echo "${file%/cmdline}"; return; }
  done
}
worker() { ps -o pid= --ppid "$(cat "$run/nginx.pid")" | head -n 1 | tr -d ' '; }
answers() {
  ORVA_ROOT="$root" "$script" status >/dev/null &&
    curl -s -o /dev/null -m 2 "http://127.0.0.1:$http/" && curl -sk -o /dev/null -m 2 "https://127.0.0.1:$https/"
}

printf '%-14s %-6s %s\n' process signal "seconds until everything answers again"
for signal in KILL STOP; do
  for process in radicale "nginx master" "nginx worker" supervisord guard; do
    [ "$signal/$process" = "STOP/guard" ] && continue # nothing depends on it to answer
    case "$process" in
    radicale) pid=$(pid_with "radicale --config ") ;;
    "nginx master") pid=$(cat "$run/nginx.pid") ;;
    "nginx worker") pid=$(worker) ;;
    supervisord) pid=$(cat "$run/supervisord.pid") ;;
    guard) pid=$(pid_with "orva_server_guard.py watch ") ;;
    esac
    start=$(date +%s.%N)
    kill -"$signal" "$pid"
    sleep 0.2
    until answers && ! grep -q '^[^)]*) T' "/proc/$pid/stat" 2>/dev/null; do sleep 0.2; done
    printf '%-14s %-6s %.1f\n' "$process" "$signal" "$(echo "$(date +%s.%N) - $start" | bc)"
    sleep 6 # out of supervisord's start window, so that each is a first failure
  done
done
