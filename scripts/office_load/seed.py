"""Users, books and calendars written straight into the store's files, in the
layout the store and the server share, with the server's item cache and sync
history entries beside the cards, as a store in use for a while has them.

Every card has the shape the server itself writes (its own serialisation), so
its cache entry can be made without parsing it; a sample of entries is checked
against the server's own code, and when one differs no entry is written at
all (the server then builds them on first read)."""

import concurrent.futures
import hashlib
import json
import os
import pickle
import random
import uuid

import bcrypt

COLLECTIONS = "var/packages/Tessaro/var/collections"
USERS = "var/packages/Tessaro/var/users"
HTPASSWD = "var/packages/Tessaro/target/etc/users.htpasswd"
BOOK_PROPS = '{"D:displayname": "Contacts", "tag": "VADDRESSBOOK"}'
CALENDAR_PROPS = json.dumps({"C:supported-calendar-component-set": "VEVENT,VTODO",
                             "D:displayname": "Calendar", "tag": "VCALENDAR"},
                            separators=(",", ":"))
# The host's own cost for new passwords.
BCRYPT_COST = 10
PASSWORD = "pw-office"
# What a root was seeded with, so that later runs may use it again.
SEEDED = "office-load.json"


def user_name(index):
    return "user%04d" % index


def card_text(uid, index, note="seed"):
    """A card in the server's own serialisation (properties after VERSION and
    UID in name order, no line longer than 75 octets)."""
    return ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s\r\n"
            "ADR;TYPE=WORK:;;%d Main Street;Springfield;IL;62701;USA\r\n"
            "EMAIL;TYPE=INTERNET:given%d.family%d@example.org\r\n"
            "FN:Given%d Family%d\r\nN:Family%d;Given%d;;;\r\n"
            "NOTE:office-load %s\r\nORG:Example Corp;Sales\r\n"
            "TEL;TYPE=CELL:+1 555 %07d\r\nTITLE:Engineer\r\nEND:VCARD\r\n" %
            (uid, index, index, index, index, index, index, index, note, index))


def event_text(uid, index, note="seed"):
    return ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//office-load//EN\r\nBEGIN:VEVENT\r\n"
            "UID:%s\r\nDTSTART:20261208T%02d0000Z\r\nDTEND:20261208T%02d3000Z\r\n"
            "DTSTAMP:20260101T000000Z\r\nSUMMARY:Meeting %d %s\r\nEND:VEVENT\r\n"
            "END:VCALENDAR\r\n" % (uid, 8 + index % 10, 8 + index % 10, index, note))


def etag_of(text):
    """The server's ETag of an item stored in its own serialisation."""
    return '"%s"' % hashlib.sha256(text.encode()).hexdigest()


class CacheMaker:
    """Makes the server's item cache entry of a card without parsing it: the
    fields that do not depend on the card are taken from one card parsed by
    the server's code, and a sample is checked in full."""

    def __init__(self):
        from radicale import item as radicale_item
        from radicale import storage
        self._item = radicale_item
        self._version = storage.CACHE_VERSION
        probe = self.parsed(card_text(str(uuid.uuid4()), 1))
        self._rest = probe[4:]
        self.usable = self.made(card_text(probe[1], 1), probe[1]) == probe

    def cache_hash(self, raw):
        return hashlib.sha256(self._version + raw).hexdigest()

    def parsed(self, text):
        items = self._item.read_components(text)
        self._item.check_and_sanitize_items(items, tag="VADDRESSBOOK")
        item = self._item.Item(collection_path="probe", vobject_item=items[0])
        return (self.cache_hash(text.encode()), item.uid, item.etag, item.serialize(),
                item.name, item.component_name, *item.time_range)

    def made(self, text, uid):
        return (self.cache_hash(text.encode()), uid, etag_of(text), text) + self._rest

    def check(self, samples):
        self.usable = self.usable and all(self.parsed(t) == self.made(t, u) for u, t in samples)
        return self.usable


def write_file(path, data, mode=0o600):
    with open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode), "wb") as out:
        out.write(data if isinstance(data, bytes) else data.encode())


def make_book(folder, cards, cache):
    """Writes the cards ({href: text}) and, when usable, their cache entries."""
    os.makedirs(folder, 0o700, exist_ok=True)
    write_file(os.path.join(folder, ".Radicale.props"), BOOK_PROPS)
    entries = os.path.join(folder, ".Radicale.cache", "item")
    history = os.path.join(folder, ".Radicale.cache", "history")
    if cache is not None:
        os.makedirs(entries, 0o700, exist_ok=True)
        os.makedirs(history, 0o700, exist_ok=True)
    for href, (uid, text) in cards.items():
        write_file(os.path.join(folder, href), text)
        if cache is not None:
            write_file(os.path.join(entries, href), pickle.dumps(cache.made(text, uid)))
            # The sync history the server keeps of an item it has served.
            etag = etag_of(text)
            started = etag_of(os.urandom(16).hex() + "/" + etag).strip('"')
            write_file(os.path.join(history, href), pickle.dumps([etag, started]))


def make_calendar(folder, events):
    os.makedirs(folder, 0o700, exist_ok=True)
    write_file(os.path.join(folder, ".Radicale.props"), CALENDAR_PROPS)
    for href, (_, text) in events.items():
        write_file(os.path.join(folder, href), text)


def map_user(root, user):
    guid = str(uuid.uuid4())
    for side in ("by-name", "by-guid"):
        os.makedirs(os.path.join(root, USERS, side), 0o700, exist_ok=True)
    write_file(os.path.join(root, USERS, "by-guid", guid), user)
    write_file(os.path.join(root, USERS, "by-name", user), guid)


def seed(root, users, cards, events, seed_number, warm):
    """Writes users 0..users-1 with their books and calendars and a password
    for each, and the server's cache entries for the first warm users (the
    books the run reads); True when those could be written."""
    cache = CacheMaker()
    sample = [(u, card_text(u, i)) for i, u in ((i, str(uuid.uuid4())) for i in range(50))]
    if not cache.check(sample):
        cache = None
    base = os.path.join(root, COLLECTIONS, "collection-root")

    def one_user(index):
        user = user_name(index)
        rng = random.Random(seed_number * 100003 + index)
        book = {}
        for k in range(cards):
            uid = str(uuid.UUID(int=rng.getrandbits(128), version=4))
            book[uid] = (uid, card_text(uid, index * cards + k))
        calendar = {}
        for k in range(events):
            uid = str(uuid.UUID(int=rng.getrandbits(128), version=4))
            calendar[uid + ".ics"] = (uid, event_text(uid, k))
        make_book(os.path.join(base, user, "contacts"), book, cache if index < warm else None)
        make_calendar(os.path.join(base, user, "calendar"), calendar)
        map_user(root, user)
    # Creating files waits on the file system more than on Python: several
    # users at once take a third of the time.
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        list(pool.map(one_user, range(users)))
    # One hash of the host's cost for every user: each check costs what a real
    # one does, without minutes of hashing before the run.
    hashed = bcrypt.hashpw(PASSWORD.encode(), bcrypt.gensalt(BCRYPT_COST)).decode()
    with open(os.path.join(root, HTPASSWD), "a") as out:
        for index in range(users):
            out.write("%s:%s\n" % (user_name(index), hashed))
    with open(os.path.join(root, SEEDED), "w") as out:
        json.dump({"users": users, "cards": cards, "events": events}, out)
    return cache is not None


def seeded_as(root):
    """The sizes a root was seeded with, or None."""
    try:
        with open(os.path.join(root, SEEDED)) as stream:
            return json.load(stream)
    except (OSError, ValueError):
        return None


def read_collection(root, user, kind):
    """{name: (uid, text)} of the items in one of the user's collections,
    in name order."""
    folder = os.path.join(root, COLLECTIONS, "collection-root", user, kind)
    items = {}
    for name in sorted(os.listdir(folder)):
        if name.startswith("."):
            continue
        with open(os.path.join(folder, name), encoding="utf-8", errors="replace",
                  newline="") as stream:
            text = stream.read()
        uid = next((line[4:] for line in text.replace("\r\n ", "").splitlines()
                    if line.startswith("UID:")), None)
        items[name] = (uid, text)
    return items


def read_state(root, users):
    """What the store holds for each user now: {user: {kind: {name: (uid,
    text)}}} (a root may serve several runs, each starting from the last)."""
    return {user: {kind: read_collection(root, user, kind) for kind in ("contacts", "calendar")}
            for user in users}


if __name__ == "__main__":
    # Run as a program of its own, out of the load's cooperative threads
    # (gevent), so that the threads that create files really run at once.
    import sys
    ROOT, COUNTS = sys.argv[1], [int(a) for a in sys.argv[2:7]]
    print(json.dumps(seed(ROOT, *COUNTS)))
