"""The administrator at the same time: imports a file of cards into one book,
lists a large book, edits users' cards, all through the host's web API as
the administration page does. Each step is timed into the run's figures."""

import os
import statistics
import time

import gevent

from office_load.seed import COLLECTIONS



def import_file(count, tag):
    lines = []
    for i in range(count):
        lines.append("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:%s Person %d\r\nN:Person %d;%s;;;\r\n"
                     "ORG:Imported Ltd\r\nEMAIL;TYPE=INTERNET:%s.%d@example.com\r\n"
                     "TEL;TYPE=WORK:+44 20 7946 %04d\r\nNOTE:office-load import\r\n"
                     "END:VCARD\r\n" % (tag, i, i, tag, tag.lower(), i, i % 10000))
    return "".join(lines).encode()


def cache_entries(root, user):
    folder = os.path.join(root, COLLECTIONS, "collection-root", user, "contacts",
                          ".Radicale.cache", "item")
    try:
        return sum(1 for name in os.listdir(folder) if not name.startswith("."))
    except FileNotFoundError:
        return 0


class Administrator:
    def __init__(self, appliance, environment, plan, cards, pause):
        self.appliance = appliance
        self.environment = environment
        self.plan = plan
        self.cards = cards
        self.pause = pause
        self.revision = 0
        self.unloaded = {}
        self.loaded = {}
        # Books of their own in every run, also on a store used before.
        stamp = time.strftime("%Y%m%d%H%M%S")
        self.large_book = "office-admin-" + stamp
        self.import_book = "office-import-" + stamp

    def timed(self, kind, call, *args):
        start = time.perf_counter()
        error = None
        try:
            return call(*args)
        except Exception as failure:
            error = failure
            return None
        finally:
            ms = (time.perf_counter() - start) * 1000
            self.environment.events.request.fire(
                request_type="API", name=kind, response_time=ms, response_length=0,
                exception=error, context={})
            self.last_ms = ms
            self.last_ok = error is None

    def wait_warm(self, user, stored, limit=600):
        """Until the store's warm-up of the server's cache has done the book."""
        end = time.monotonic() + limit
        while cache_entries(self.appliance.root, user) < stored and time.monotonic() < end:
            gevent.sleep(0.5)

    def baseline(self):
        """Import and listing with nothing else running."""
        self.appliance.api("list_cards", {"user": self.large_book})
        self.appliance.api("list_cards", {"user": self.import_book})
        start = time.perf_counter()
        answer = self.appliance.upload(self.large_book, "office.vcf",
                                       import_file(self.cards, "Large"))
        self.unloaded["import"] = time.perf_counter() - start
        self.wait_warm(self.large_book, answer.get("stored", self.cards) if answer else self.cards)
        times = []
        for _ in range(3):
            start = time.perf_counter()
            self.appliance.api("list_cards", {"user": self.large_book})
            times.append(time.perf_counter() - start)
        self.unloaded["list"] = statistics.median(times)

    def during(self, delay, stop_at):
        gevent.sleep(delay)
        data = import_file(self.cards, "Loaded")
        start = time.perf_counter()
        self.timed("admin import_cards", self.appliance.upload, self.import_book, "loaded.vcf",
                   data)
        self.loaded["import"] = time.perf_counter() - start
        lists = []
        while time.monotonic() < stop_at and not self.plan.closing:
            self.timed("admin list_cards large book", self.appliance.api, "list_cards",
                       {"user": self.large_book})
            if self.last_ok:
                lists.append(self.last_ms / 1000)
            self.edit_users_card()
            card = {"name": {"family_name": "Added", "given_name": "R%d" % self.revision},
                    "note": "office-load added"}
            self.timed("admin add_card", self.appliance.api, "add_card",
                       {"user": self.large_book, "card": card})
            gevent.sleep(self.pause)
        self.loaded["list"] = statistics.median(lists) if lists else None
        self.loaded["lists"] = len(lists)

    def edit_users_card(self):
        """Changes the note of one card of a phone's user, a card that phone
        leaves alone, so the phone's next sync must bring it."""
        users = [u for u in self.plan.users if self.plan.admin_share.get(u)]
        if not users:
            return
        self.revision += 1
        user = users[self.revision % len(users)]
        found = self.timed("admin list_cards user's book", self.appliance.api, "list_cards",
                           {"user": user})
        share = self.plan.admin_share[user]
        records = [r for r in (found or {}).get("cards", []) if r.get("id") in share]
        if not records:
            return
        record = records[self.revision % len(records)]
        mark = "admin r%d" % self.revision
        record["note"] = "office-load " + mark
        record["resource_name"] = record["id"]
        expected = self.plan.expected[user]["contacts"]
        pending = self.plan.pending[user]
        pending[("contacts", record["id"])] = (expected.get(record["id"]), mark)
        self.timed("admin edit_card", self.appliance.api, "edit_card",
                   {"user": user, "card": record})
        del pending[("contacts", record["id"])]
        if self.last_ok:
            expected[record["id"]] = mark
