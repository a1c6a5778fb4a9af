#!/bin/bash
# The server's TLS certificate, signed by the appliance's own certificate
# authority: phones trust the authority (the profile installs it), and the
# authority can vouch only for the appliance's own names and addresses
# (name constraints), so its key cannot be used to intercept other sites.
# The leaf lasts at most 825 days, names what clients connect to and is for
# serverAuth; it is made at the first start with SSL and signed again, by the
# same authority, when fewer than 30 days remain or the machine's names
# changed. Names beyond the authority's constraints need a new authority,
# and phones must then be set up again.
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
CA_CERT="$SSL_DIR/ca.crt"
CA_KEY="$SSL_DIR/ca.key"
MARK="$SSL_DIR/.self-signed"
RUN_DIR="$ROOT/var/run/calendarserver"
LOG_FILE="$ROOT/var/log/server.log"
# ORVA_CERT_DAYS: a shorter life, for tests of the renewal.
DAYS="${ORVA_CERT_DAYS:-825}"
CA_DAYS=3650
RENEW_DAYS=30
CHECK_SECONDS="${ORVA_CERT_CHECK_SECONDS:-86400}"

usage() {
	cat <<USAGE
Usage: $PROG ensure|renew|watch|names

  ensure  make the authority and a pair when there is none, or sign this
          script's pair again when it is due (prints what it did)
  renew   as ensure, holding the start/stop lock, and reload the running
          nginx when the certificate changed
  watch   renew once a day while the server's run folder exists (started by
          the start/stop script; ORVA_CERT_CHECK_SECONDS changes the period)
  names   print the names the certificate should carry, one a line

The pair: $CERT and server.key (mode 0600), signed by the authority
ca.crt and ca.key (0600), whose name constraints permit only the names of
"names". The leaf lasts $DAYS days, names localhost, the host name and the
machine's addresses, has extended key usage serverAuth, and is signed again
when fewer than $RENEW_DAYS days remain or the names changed. A pair whose
fingerprint is not in $MARK is an administrator's and is left alone.
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

# An empty configuration: only what the command line says goes in.
no_defaults() {
	printf '[req]\ndistinguished_name=dn\n[dn]\n'
}

# The authority's name constraints: exactly the names given (NAME,NAME...).
constraints() {
	local name out=""
	for name in ${1//,/ }; do
		case "$name" in
		DNS:*) out+=",permitted;$name" ;;
		IP:*:*) out+=",permitted;$name/FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF:FFFF" ;;
		IP:*) out+=",permitted;$name/255.255.255.255" ;;
		esac
	done
	printf 'critical%s' "$out"
}

# Why the authority must be made again for the names $1; "" when it can
# sign for them.
authority_reason() {
	local covered name
	if [ ! -e "$CA_CERT" ] || [ ! -e "$CA_KEY" ]; then
		echo "there is no certificate authority yet"
		return
	fi
	if ! openssl x509 -in "$CA_CERT" -noout -checkend $(((DAYS + RENEW_DAYS) * 86400)) >/dev/null 2>&1; then
		echo "the certificate authority ends too soon"
		return
	fi
	covered=",$(sed -n 's/^authority_names=//p' "$MARK" 2>/dev/null),"
	for name in ${1//,/ }; do
		if [[ "$covered" != *",$name,"* ]]; then
			echo "the machine's names changed beyond what the certificate authority covers ($name)"
			return
		fi
	done
}

# Why this script's pair must be signed again; "" when it need not.
renewal_reason() {
	if ! openssl x509 -in "$CERT" -noout -checkend $((RENEW_DAYS * 86400)) >/dev/null 2>&1; then
		echo "fewer than $RENEW_DAYS days remain"
	elif [ -z "$(sed -n 's/^authority_names=//p' "$MARK" 2>/dev/null)" ]; then
		echo "phones are now given a certificate authority that can vouch only for this appliance"
	elif [ "$(sed -n 's/^names=//p' "$MARK" 2>/dev/null)" != "$(wanted_names | paste -sd, -)" ]; then
		echo "the machine's names changed"
	fi
}

# Makes the authority when it cannot sign for the names $1 (setting
# AUTHORITY_NAMES), and says so.
ensure_authority() {
	local reason tmp_key tmp_cert out
	reason="$(authority_reason "$1")"
	[ -n "$reason" ] || return 0
	tmp_key="$(mktemp "$SSL_DIR/.ca-key.XXXXXX")" && tmp_cert="$(mktemp "$SSL_DIR/.ca-crt.XXXXXX")" ||
		die "cannot write in $SSL_DIR"
	if ! out="$(umask 077 && openssl req -x509 -config <(no_defaults) -newkey ec \
		-pkeyopt ec_paramgen_curve:prime256v1 -nodes -days "$CA_DAYS" \
		-subj "/CN=$(uname -n) appliance certificate authority" \
		-addext "basicConstraints=critical,CA:TRUE,pathlen:0" \
		-addext "keyUsage=critical,keyCertSign,cRLSign" \
		-addext "nameConstraints=$(constraints "$1")" \
		-keyout "$tmp_key" -out "$tmp_cert" 2>&1)"; then
		rm -f "$tmp_key" "$tmp_cert"
		die "cannot make a certificate authority: ${out##*$'\n'}"
	fi
	chmod 600 "$tmp_key" && chmod 644 "$tmp_cert" && mv -f "$tmp_key" "$CA_KEY" &&
		mv -f "$tmp_cert" "$CA_CERT" || die "cannot put the certificate authority in $SSL_DIR"
	AUTHORITY_NAMES="$1"
	if [ "$reason" = "there is no certificate authority yet" ]; then
		echo "made a certificate authority for $1"
	else
		echo "made a new certificate authority ($reason): phones must be set up again" \
			"(install the new profile or authority certificate)"
	fi
}

make_pair() {
	local names tmp_key tmp_cert out
	names="$(wanted_names | paste -sd, -)"
	mkdir -p "$SSL_DIR" || die "cannot create $SSL_DIR"
	AUTHORITY_NAMES="$(sed -n 's/^authority_names=//p' "$MARK" 2>/dev/null)"
	ensure_authority "$names"
	tmp_key="$(mktemp "$SSL_DIR/.key.XXXXXX")" && tmp_cert="$(mktemp "$SSL_DIR/.crt.XXXXXX")" ||
		die "cannot write in $SSL_DIR"
	trap 'rm -f "$tmp_key" "$tmp_cert"' EXIT
	if ! out="$(umask 077 && openssl req -x509 -config <(no_defaults) -CA "$CA_CERT" \
		-CAkey "$CA_KEY" -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days "$DAYS" \
		-subj "/CN=$(uname -n)" \
		-addext "basicConstraints=critical,CA:FALSE" \
		-addext "keyUsage=critical,digitalSignature" \
		-addext "extendedKeyUsage=serverAuth" \
		-addext "subjectAltName=$names" \
		-keyout "$tmp_key" -out "$tmp_cert" 2>&1)"; then
		die "cannot make the server's certificate: ${out##*$'\n'}"
	fi
	chmod 600 "$tmp_key" && chmod 644 "$tmp_cert" || die "cannot set the modes in $SSL_DIR"
	# The mark first: a pair half put in place is still known as ours.
	printf 'sha256=%s\nnames=%s\nauthority_names=%s\n' "$(fingerprint "$tmp_cert")" "$names" \
		"$AUTHORITY_NAMES" >"$MARK.tmp" &&
		mv -f "$MARK.tmp" "$MARK" && mv -f "$tmp_key" "$KEY" && mv -f "$tmp_cert" "$CERT" ||
		die "cannot put the certificate in $SSL_DIR"
	trap - EXIT
	echo "signed a certificate for $names by the appliance's certificate authority, valid $DAYS days"
}

# Prints what it did; nothing when the pair stays.
ensure() {
	local reason
	if [ ! -e "$CERT" ] && [ ! -e "$KEY" ]; then
		make_pair
		return
	fi
	if [ ! -e "$CERT" ] || [ ! -e "$KEY" ]; then
		die "only one of $CERT and $KEY exists; put both there, or neither to have a pair made"
	fi
	if [ "$(sed -n 's/^sha256=//p' "$MARK" 2>/dev/null)" = "$(fingerprint "$CERT")" ]; then
		reason="$(renewal_reason)"
	elif [ ! -e "$MARK" ] && made_by_old_script; then
		reason="it lasts longer than phones accept"
	else
		return 0 # the administrator's pair
	fi
	[ -n "$reason" ] || return 0
	echo "renewing the server's certificate: $reason"
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
