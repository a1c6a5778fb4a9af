#!/bin/bash
# The server's self-signed TLS certificate: made at the first start with
# SSL, and made again when fewer than 30 days remain or the machine's names
# changed. Phones accept a server certificate only when it lasts at most 825
# days, names what they connect to (subjectAltName) and is for serverAuth.
# A pair an administrator put in place is never touched: only a pair that
# this script made (its fingerprint is in ssl/.self-signed) is renewed.

set -u
umask 022

ROOT="${ORVA_ROOT:-/}"
ROOT="${ROOT%/}"
PROG="server_certificate.sh"
SSL_DIR="$ROOT/var/packages/Tessaro/target/etc/ssl"
CERT="$SSL_DIR/server.crt"
KEY="$SSL_DIR/server.key"
MARK="$SSL_DIR/.self-signed"
RUN_DIR="$ROOT/var/run/calendarserver"
LOG_FILE="$ROOT/var/log/server.log"
# ORVA_CERT_DAYS: a shorter life, for tests of the renewal.
DAYS="${ORVA_CERT_DAYS:-825}"
RENEW_DAYS=30
CHECK_SECONDS="${ORVA_CERT_CHECK_SECONDS:-86400}"

usage() {
	cat <<USAGE
Usage: $PROG ensure|renew|watch|names

  ensure  make a self-signed pair when there is none, or renew this
          script's pair when it is due (prints what it did)
  renew   as ensure, holding the start/stop lock, and reload the running
          nginx when the certificate changed
  watch   renew once a day while the server's run folder exists (started by
          the start/stop script; ORVA_CERT_CHECK_SECONDS changes the period)
  names   print the names the certificate should carry, one a line

The pair: $CERT and server.key (mode 0600). It lasts $DAYS days, names
localhost, the host name and the machine's addresses, has extended key usage
serverAuth, and is renewed when fewer than $RENEW_DAYS days remain or the names
changed. A pair whose fingerprint is not in $MARK is an administrator's and
is left alone.
USAGE
}

log() {
	printf '%s %s\n' "$(date -u +%Y-%m-%dT%H:%M:%SZ)" "$*" >>"$LOG_FILE" 2>/dev/null
}

die() {
	echo "$PROG: $*" >&2
	exit 1
}

# localhost, the host name (and its full name), loopback and the machine's
# global addresses; sorted, so that a change of names is seen.
wanted_names() {
	local name full address
	name="$(uname -n)"
	{
		echo "DNS:localhost"
		[[ "$name" =~ ^[A-Za-z0-9.-]+$ ]] && echo "DNS:$name"
		full="$(hostname -f 2>/dev/null)"
		[[ "$full" =~ ^[A-Za-z0-9.-]+$ ]] && echo "DNS:$full"
		echo "IP:127.0.0.1"
		echo "IP:::1"
		for address in $(hostname -I 2>/dev/null); do
			[[ "$address" == fe80:* ]] && continue
			[[ "$address" =~ ^[0-9a-fA-F.:]+$ ]] && echo "IP:$address"
		done
	} | sort -u
}

fingerprint() {
	openssl x509 -in "$1" -noout -fingerprint -sha256 2>/dev/null | sed 's/^.*=//'
}

# The pair the start/stop script made before this one: self-signed for the
# host name, "DNS:NAME, DNS:localhost, IP Address:127.0.0.1", 10 years.
made_by_old_script() {
	local name text start end
	name="$(uname -n)"
	text="$(openssl x509 -in "$CERT" -noout -subject -issuer -ext subjectAltName 2>/dev/null)" || return 1
	[[ "$text" == *"subject=CN = $name"*"issuer=CN = $name"*"DNS:$name, DNS:localhost, IP Address:127.0.0.1"* ]] ||
		return 1
	start="$(date -d "$(openssl x509 -in "$CERT" -noout -startdate | sed 's/^notBefore=//')" +%s)" &&
		end="$(date -d "$(openssl x509 -in "$CERT" -noout -enddate | sed 's/^notAfter=//')" +%s)" ||
		return 1
	[ $(((end - start) / 86400)) -gt 825 ]
}

# Why this script's pair must be made again; "" when it need not.
renewal_reason() {
	local names
	if ! openssl x509 -in "$CERT" -noout -checkend $((RENEW_DAYS * 86400)) >/dev/null 2>&1; then
		echo "fewer than $RENEW_DAYS days remain"
		return
	fi
	names="$(sed -n 's/^names=//p' "$MARK" 2>/dev/null)"
	[ "$names" = "$(wanted_names | paste -sd, -)" ] || echo "the machine's names changed"
}

make_pair() {
	local names tmp_key tmp_cert out
	names="$(wanted_names | paste -sd, -)"
	mkdir -p "$SSL_DIR" || die "cannot create $SSL_DIR"
	tmp_key="$(mktemp "$SSL_DIR/.key.XXXXXX")" && tmp_cert="$(mktemp "$SSL_DIR/.crt.XXXXXX")" ||
		die "cannot write in $SSL_DIR"
	trap 'rm -f "$tmp_key" "$tmp_cert"' EXIT
	if ! out="$(umask 077 && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 \
		-nodes -days "$DAYS" -subj "/CN=$(uname -n)" \
		-addext "subjectAltName=$names" \
		-addext "extendedKeyUsage=serverAuth" \
		-addext "keyUsage=critical,digitalSignature,keyCertSign" \
		-keyout "$tmp_key" -out "$tmp_cert" 2>&1)"; then
		die "cannot make a self-signed certificate: ${out##*$'\n'}"
	fi
	chmod 600 "$tmp_key" && chmod 644 "$tmp_cert" || die "cannot set the modes in $SSL_DIR"
	# The mark first: a pair half put in place is still known as ours.
	printf 'sha256=%s\nnames=%s\n' "$(fingerprint "$tmp_cert")" "$names" >"$MARK.tmp" &&
		mv -f "$MARK.tmp" "$MARK" && mv -f "$tmp_key" "$KEY" && mv -f "$tmp_cert" "$CERT" ||
		die "cannot put the certificate in $SSL_DIR"
	trap - EXIT
	echo "made a self-signed certificate for $names, valid $DAYS days"
}

# Prints what it did; nothing when the pair stays.
ensure() {
	local reason
	if [ ! -e "$CERT" ] && [ ! -e "$KEY" ]; then
		make_pair
		return
	fi
	if [ ! -e "$CERT" ] || [ ! -e "$KEY" ]; then
		die "only one of $CERT and $KEY exists; put both there, or neither to have a self-signed pair made"
	fi
	if [ "$(sed -n 's/^sha256=//p' "$MARK" 2>/dev/null)" = "$(fingerprint "$CERT")" ]; then
		reason="$(renewal_reason)"
	elif [ ! -e "$MARK" ] && made_by_old_script; then
		reason="it lasts longer than phones accept"
	else
		return 0 # the administrator's pair
	fi
	[ -n "$reason" ] || return 0
	echo "renewing the self-signed certificate: $reason"
	make_pair
}

renew() {
	local out pid
	mkdir -p "$RUN_DIR" || die "cannot create $RUN_DIR"
	exec 9>>"$RUN_DIR/lock" || die "cannot open $RUN_DIR/lock"
	flock -w 600 9 || die "the start/stop script did not finish within 600 seconds"
	out="$(ensure)" || exit 1
	[ -n "$out" ] || return 0
	log "certificate: ${out//$'\n'/; }"
	pid="$(cat "$RUN_DIR/nginx.pid" 2>/dev/null)"
	# nginx reads the new pair when told to reload.
	if [[ "$pid" =~ ^[0-9]+$ ]] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$RUN_DIR/"; then
		kill -HUP "$pid" && log "certificate: nginx (pid $pid) reloaded"
	fi
	echo "$out"
}

case "${1:-}" in
ensure) ensure ;;
renew) renew ;;
names) wanted_names ;;
watch)
	# Stopped with TERM: the pending sleep goes with it.
	sleeper=""
	trap '[ -n "$sleeper" ] && kill "$sleeper" 2>/dev/null; exit 0' TERM INT
	while :; do
		sleep "$CHECK_SECONDS" &
		sleeper=$!
		wait "$sleeper"
		[ -d "$RUN_DIR" ] || exit 0
		(renew >/dev/null 2>&1)
	done
	;;
-h | --help | help) usage ;;
*)
	usage >&2
	exit 2
	;;
esac
