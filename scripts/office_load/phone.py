"""One simulated phone of one user: discovery once, then every period a sync
of its address book and calendar (sync-collection with the token it holds,
multiget of what changed), and now and then a changed card with If-Match, a
new card or event, or a deleted card.

Each phone writes only its own user's items, and leaves the cards the
administrator edits alone, so that what the store must hold at the end is
known exactly (Plan.expected)."""

import random
import uuid

import gevent
from locust import HttpUser, constant_pacing, task

from office_load import dav
from office_load.seed import card_text, etag_of, event_text

MULTIGET_BATCH = 100


class Plan:
    """What the phones share: the run's settings and, per user, what the
    store must hold at the end ({kind: {name: mark}}) and the writes whose
    answer never came (either mark may then stand)."""

    def __init__(self, held, phones, period, writes, admin_share):
        self.users = list(held)[:phones]
        self.held = held
        self.period = period
        self.writes = writes
        self.admin_share = admin_share  # {user: set of card names the administrator edits}
        self.expected = {u: {kind: {name: dav.mark_of(text) for name, (_, text) in items.items()}
                             for kind, items in held[u].items()} for u in self.users}
        self.pending = {u: {} for u in self.users}
        self.next_user = 0
        self.phones = []
        self.closing = False
        self.busy = 0


class Phone(HttpUser):
    plan = None  # set by the run before the phones start
    password = None
    wait_time = constant_pacing(120)

    def on_start(self):
        plan = Phone.plan
        self.user = plan.users[plan.next_user % len(plan.users)]
        plan.next_user += 1
        plan.phones.append(self)
        self.auth = (self.user, Phone.password)
        self.rng = random.Random(self.user)
        self.revision = 0
        self.paths = {}
        self.tokens = {"contacts": "", "calendar": ""}
        # What the phone holds: {kind: {name: (etag, mark)}}, as it was before.
        self.local = {kind: {name: (etag_of(text), dav.mark_of(text))
                             for name, (_, text) in plan.held[self.user][kind].items()}
                      for kind in ("contacts", "calendar")}
        self.uids = {kind: {name: uid for name, (uid, _) in plan.held[self.user][kind].items()}
                     for kind in ("contacts", "calendar")}
        # Phones start spread over one period, as a day's phones are.
        gevent.sleep(self.rng.uniform(0, plan.period))
        if plan.closing:
            return
        plan.busy += 1
        try:
            self.discover()
            for kind in ("contacts", "calendar"):
                self.sync(kind)
        finally:
            plan.busy -= 1

    def request(self, kind, method, path, ok, **options):
        """One request counted under kind; the answer, or None on failure."""
        options.setdefault("auth", self.auth)
        # As long as nginx waits for the server: the run stays bounded.
        options.setdefault("timeout", 300)
        with self.client.request(method, path, name=kind, catch_response=True,
                                 allow_redirects=False, **options) as answer:
            if answer.status_code not in ok:
                answer.failure("%s %s answered %s" % (method, path, answer.status_code))
                return None
            answer.success()
            return answer

    def propfind(self, kind, path, body, depth):
        answer = self.request(kind, "PROPFIND", path, (207,), data=body, headers={
            "Depth": depth, "Content-Type": "application/xml; charset=utf-8"})
        return dav.Answer(answer.content) if answer is not None else None

    def discover(self):
        self.request("discovery well-known", "GET", "/.well-known/carddav", (301, 302, 308))
        found = self.propfind("discovery principal", "/", dav.PRINCIPAL, "0")
        principal = found and found.first_href("/", dav.PRINCIPAL_PROP)
        principal = principal or "/%s/" % self.user
        found = self.propfind("discovery home sets", principal, dav.HOME_SETS, "0")
        home = (found and found.first_href(principal, dav.BOOK_HOME)) or principal
        found = self.propfind("discovery collections", home, dav.COLLECTIONS, "1")
        for kind in ("contacts", "calendar"):
            self.paths[kind] = "%s%s/" % (home, kind)
        if found is not None:
            names = {href.rstrip("/").rsplit("/", 1)[-1] for href in found.items}
            for kind in ("contacts", "calendar"):
                if kind not in names:
                    self.environment.events.request.fire(
                        request_type="PROPFIND", name="discovery collections", response_time=0,
                        response_length=0, exception=RuntimeError("no %s in %s" % (kind, home)))

    def sync(self, kind, label=""):
        token = self.tokens[kind]
        answer = self.request(label + ("sync-collection" if token else "sync-collection first"),
                              "REPORT", self.paths[kind], (207,),
                              data=dav.sync_collection(token),
                              headers={"Content-Type": "application/xml; charset=utf-8"})
        if answer is None:
            self.tokens[kind] = ""
            return
        found = dav.Answer(answer.content)
        local = self.local[kind]
        changed = []
        for href, (code, _) in found.items.items():
            name = href.rstrip("/").rsplit("/", 1)[-1]
            if code == 404:
                local.pop(name, None)
            elif found.text(href, dav.ETAG) != local.get(name, (None,))[0]:
                changed.append(href)
        data_tag = dav.ADDRESS_DATA if kind == "contacts" else dav.CALENDAR_DATA
        for start in range(0, len(changed), MULTIGET_BATCH):
            hrefs = changed[start:start + MULTIGET_BATCH]
            got = self.request(label + "multiget", "REPORT", self.paths[kind], (207,),
                               data=dav.multiget(kind, hrefs),
                               headers={"Depth": "1",
                                        "Content-Type": "application/xml; charset=utf-8"})
            if got is None:
                return
            items = dav.Answer(got.content)
            for href in hrefs:
                name = href.rsplit("/", 1)[-1]
                if items.items.get(href, (0,))[0] == 404:
                    local.pop(name, None)
                else:
                    local[name] = (items.text(href, dav.ETAG),
                                   dav.mark_of(items.text(href, data_tag)))
        self.tokens[kind] = found.token

    def writable(self, kind):
        share = Phone.plan.admin_share.get(self.user, ()) if kind == "contacts" else ()
        return [name for name in self.local[kind] if name not in share]

    def put(self, kind, label, name, uid, condition):
        self.revision += 1
        mark = "p%s r%d" % (self.user[4:], self.revision)
        text = (card_text(uid, self.revision, mark) if kind == "contacts"
                else event_text(uid, self.revision, mark))
        pending = Phone.plan.pending[self.user]
        expected = Phone.plan.expected[self.user][kind]
        pending[(kind, name)] = (expected.get(name), mark)
        answer = self.request(label, "PUT", self.paths[kind] + name, (201, 204), data=text.encode(),
                              headers=dict(condition, **{
                                  "Content-Type": "text/vcard; charset=utf-8" if kind == "contacts"
                                  else "text/calendar; charset=utf-8"}))
        del pending[(kind, name)]
        if answer is not None:
            expected[name] = mark
            self.local[kind][name] = (answer.headers.get("ETag"), mark)
            self.uids[kind][name] = uid

    def delete(self, name):
        pending = Phone.plan.pending[self.user]
        expected = Phone.plan.expected[self.user]["contacts"]
        pending[("contacts", name)] = (expected.get(name), None)
        answer = self.request("DELETE", "DELETE", self.paths["contacts"] + name, (200, 204),
                              headers={"If-Match": self.local["contacts"][name][0]})
        del pending[("contacts", name)]
        if answer is not None:
            expected.pop(name, None)
            self.local["contacts"].pop(name, None)

    def change_something(self):
        roll = self.rng.random() / max(Phone.plan.writes, 1e-9)
        cards = self.writable("contacts")
        if roll < 0.5 and cards:
            name = self.rng.choice(cards)
            self.put("contacts", "PUT changed card", name, self.uids["contacts"][name],
                     {"If-Match": self.local["contacts"][name][0]})
        elif roll < 0.7:
            uid = str(uuid.UUID(int=self.rng.getrandbits(128), version=4))
            self.put("contacts", "PUT new card", uid + ".vcf", uid, {"If-None-Match": "*"})
        elif roll < 0.8 and cards:
            self.delete(self.rng.choice(cards))
        elif roll < 1.0:
            uid = str(uuid.UUID(int=self.rng.getrandbits(128), version=4))
            self.put("calendar", "PUT new event", uid + ".ics", uid, {"If-None-Match": "*"})

    @task
    def one_round(self):
        plan = Phone.plan
        if plan.closing or not self.paths:
            return
        plan.busy += 1
        try:
            for kind in ("contacts", "calendar"):
                self.sync(kind)
            self.change_something()
        finally:
            plan.busy -= 1
