#!/usr/bin/python3
"""Speed and peak memory of imports, through the host (orva-webapi call), for
each count of cards (default 10,000 and 100,000):

  vcard    import_cards of a vCard file of the cards
  csv      import_cards of the same cards as a Google Contacts CSV file
  again    the vCard file imported a second time into the same book (every
           card a duplicate or an update candidate)
  ics      the calendar import of as many events (when the host has it)

Each line prints seconds and the process's peak resident memory (MB), the
ratios csv/vcard time and ics/vcard time (goal <= 2), and at the end the
peak at the largest count over the peak at the smallest (goal <= 1.2).
Needs a normal build in build/.

usage: scripts/import-figures.py [--counts 10000,100000] [--keep DIR]
"""
import argparse
import csv
import io
import json
import os
import shutil
import subprocess
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
HOST = os.path.join(TOP, "build", "bin", "orva-webapi")
API = "ORVA.ContactAndCalendar.Contacts"

GOOGLE = ["First Name", "Middle Name", "Last Name", "Name Prefix", "Name Suffix", "Nickname",
          "Organization Name", "Organization Title", "Organization Department", "Birthday",
          "Notes", "Labels", "E-mail 1 - Label", "E-mail 1 - Value", "E-mail 2 - Label",
          "E-mail 2 - Value", "Phone 1 - Label", "Phone 1 - Value", "Phone 2 - Label",
          "Phone 2 - Value", "Address 1 - Label", "Address 1 - Street", "Address 1 - City",
          "Address 1 - Region", "Address 1 - Postal Code", "Address 1 - Country"]


def person(i):
    return {
        "First Name": "Given%d" % i, "Middle Name": "Middle", "Last Name": "Family%d" % i,
        "Organization Name": "Example Corp", "Organization Department": "Sales",
        "Organization Title": "Engineer", "Birthday": "1980-%02d-%02d" % (i % 12 + 1, i % 28 + 1),
        "Notes": "Met at the fair, talked about the roof; call back in spring. Card %d." % i,
        "Labels": "* myContacts ::: Clients",
        "E-mail 1 - Label": "Work", "E-mail 1 - Value": "given%d@example.org" % i,
        "E-mail 2 - Label": "Home", "E-mail 2 - Value": "g%d@example.net" % i,
        "Phone 1 - Label": "Mobile", "Phone 1 - Value": "+1 555 %04d" % (i % 10000),
        "Phone 2 - Label": "Work", "Phone 2 - Value": "+1 555 9%03d" % (i % 1000),
        "Address 1 - Label": "Home", "Address 1 - Street": "%d Main Street" % i,
        "Address 1 - City": "Springfield", "Address 1 - Region": "IL",
        "Address 1 - Postal Code": "62701", "Address 1 - Country": "USA",
    }


def vcard(i, p):
    return "\r\n".join([
        "BEGIN:VCARD", "VERSION:3.0", "UID:src-%d" % i, "FN:%s %s %s" % (
            p["First Name"], p["Middle Name"], p["Last Name"]),
        "N:%s;%s;%s;;" % (p["Last Name"], p["First Name"], p["Middle Name"]),
        "ORG:Example Corp;Sales", "TITLE:Engineer", "BDAY:" + p["Birthday"],
        "EMAIL;TYPE=WORK:" + p["E-mail 1 - Value"], "EMAIL;TYPE=HOME:" + p["E-mail 2 - Value"],
        "TEL;TYPE=CELL:" + p["Phone 1 - Value"], "TEL;TYPE=WORK:" + p["Phone 2 - Value"],
        "ADR;TYPE=HOME:;;%s;Springfield;IL;62701;USA" % p["Address 1 - Street"],
        "CATEGORIES:Clients",
        "NOTE:" + p["Notes"].replace(",", "\\,").replace(";", "\\;"), "END:VCARD"]) + "\r\n"


def event(i):
    day = 1 + i % 28
    return "\r\n".join([
        "BEGIN:VEVENT", "UID:ev-%d@example.org" % i, "DTSTAMP:20240101T000000Z",
        "DTSTART;TZID=Europe/Berlin:2024%02d%02dT%02d0000" % (i % 12 + 1, day, 8 + i % 10),
        "DURATION:PT1H", "SUMMARY:Meeting %d" % i, "LOCATION:Room %d" % (i % 50),
        "DESCRIPTION:Agenda for meeting %d\\, bring notes." % i, "END:VEVENT"]) + "\r\n"


TIMEZONE = ("BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:DAYLIGHT\r\nTZOFFSETFROM:+0100\r\n"
            "TZOFFSETTO:+0200\r\nTZNAME:CEST\r\nDTSTART:19700329T020000\r\n"
            "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU\r\nEND:DAYLIGHT\r\nBEGIN:STANDARD\r\n"
            "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nTZNAME:CET\r\nDTSTART:19701025T030000\r\n"
            "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n")


def write_files(count, work):
    paths = {k: os.path.join(work, "%s-%d.%s" % (k, count, e))
             for k, e in (("vcard", "vcf"), ("csv", "csv"), ("ics", "ics"))}
    with open(paths["vcard"], "w", newline="") as out:
        for i in range(count):
            out.write(vcard(i, person(i)))
    with open(paths["csv"], "w", newline="") as out:
        writer = csv.DictWriter(out, GOOGLE, lineterminator="\r\n")
        writer.writeheader()
        for i in range(count):
            writer.writerow(person(i))
    with open(paths["ics"], "w", newline="") as out:
        out.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Figures//EN\r\n" + TIMEZONE)
        for i in range(count):
            out.write(event(i))
        out.write("END:VCALENDAR\r\n")
    return paths


def measured(args):
    """Seconds and peak resident MB of one host call, and its answer."""
    result = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + args, capture_output=True,
                            text=True, env=dict(os.environ, ORVA_SERVER_PROCESSES="off"))
    seconds, kb = result.stderr.strip().splitlines()[-1].split()
    try:
        answer = json.loads(result.stdout)
    except ValueError:
        answer = {"output": result.stdout[:200], "error": result.stderr[:200]}
    return float(seconds), int(kb) / 1024.0, answer


def import_call(root, user, path):
    return [HOST, "--root", root, "call", API, "import_cards", "user=" + user,
            "file_tmp=" + path, "file=" + os.path.basename(path)]


def has_calendar_import():
    result = subprocess.run([HOST, "--help"], capture_output=True, text=True)
    return "import-calendar" in result.stdout + result.stderr


def run_one(count, work):
    paths = write_files(count, work)
    root = os.path.join(work, "root-%d" % count)
    os.makedirs(root)
    figures = {"count": count}
    for kind, user in (("vcard", "v"), ("csv", "c"), ("again", "v")):
        path = paths["vcard" if kind == "again" else kind]
        seconds, mb, answer = measured(import_call(root, user, path))
        data = answer.get("data") or answer
        figures[kind] = {"s": round(seconds, 2), "peak_mb": round(mb, 1),
                         "answer": {k: v for k, v in data.items() if k != "update_candidates"}
                         if isinstance(data, dict) else data}
        if isinstance(data, dict) and "update_candidates" in data:
            figures[kind]["answer"]["update_candidates"] = len(data["update_candidates"])
    if has_calendar_import():
        # A calendar as the calendars' page makes one.
        folder = os.path.join(root, "var/packages/Tessaro/var/collections/collection-root/i/calendar")
        os.makedirs(folder)
        with open(os.path.join(folder, ".Radicale.props"), "w") as out:
            out.write('{"D:displayname": "Calendar", "tag": "VCALENDAR"}')
        seconds, mb, answer = measured([HOST, "--root", root, "import-calendar", "i", "calendar",
                                        paths["ics"]])
        figures["ics"] = {"s": round(seconds, 2), "peak_mb": round(mb, 1),
                          "answer": answer.get("data", answer)}
        figures["ics_over_vcard"] = round(figures["ics"]["s"] / figures["vcard"]["s"], 2)
    figures["csv_over_vcard"] = round(figures["csv"]["s"] / figures["vcard"]["s"], 2)
    print(json.dumps(figures))
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--counts", default="10000,100000")
    parser.add_argument("--keep", help="keep the files and roots in this folder")
    args = parser.parse_args()
    work = args.keep or tempfile.mkdtemp(prefix="import-figures-")
    os.makedirs(work, exist_ok=True)
    try:
        results = [run_one(int(c), work) for c in args.counts.split(",")]
        if len(results) > 1:
            ratios = {kind: round(results[-1][kind]["peak_mb"] / results[0][kind]["peak_mb"], 2)
                      for kind in ("vcard", "csv", "again", "ics") if kind in results[0]}
            print(json.dumps({"peak_largest_over_smallest": ratios}))
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
