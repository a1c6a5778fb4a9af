#!/usr/bin/env bash
# Runs the host on a fresh root through each kind of request under valgrind:
# any memory error or leak fails the test.
set -euo pipefail
bin=${1:?usage: host_calls_under_valgrind.sh BIN_DIR}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

run() {
  valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect --error-exitcode=99 \
    "$bin/orva-webapi" --root "$root" call "$@" >/dev/null || {
    status=$?
    # 1 is an error answer, which some of these requests are meant to get.
    [ "$status" -eq 1 ] || { echo "valgrind failed ($status): $*" >&2; exit 1; }
  }
}

printf 'BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A B\r\nN:B;A;;;\r\nitem1.EMAIL;type=INTERNET:a@b.c\r\nitem1.X-ABLabel:Gym\r\nEND:VCARD\r\n' >"$root/in.vcf"

run ORVA.ContactAndCalendar.Contacts add_card user=alice \
  'card:={"name":{"family_name":"Doe","given_name":"Jane"},"tel":[{"data":"1","type":["CELL"]}],"note":"x\ny"}'
run ORVA.ContactAndCalendar.Contacts import_cards user=alice file_tmp="$root/in.vcf" file=in.vcf
run ORVA.ContactAndCalendar.Contacts list_cards user=alice search_key=gym
run ORVA.ContactAndCalendar.Contacts edit_card user=alice 'card:={"resource_name":"missing"}'
run ORVA.ContactAndCalendar.Contacts export_cards user=alice 'id:=["missing"]'
run ORVA.ContactAndCalendar.Contacts delete_cards user=alice 'id:="not an array"'
run ORVA.ContactAndCalendar.Common get
run ORVA.ContactAndCalendar.Common set EnableSSL:=true RedirectHTTPToHTTPS:=false HTTPPort:=8009 SSLPort:=8443
run ORVA.ContactAndCalendar.Contacts list_cards
echo "valgrind: clean"
