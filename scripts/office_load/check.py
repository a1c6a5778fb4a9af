"""After the run: what each phone's user has in the store against what the
phones and the administrator wrote, and what each phone sees after one last
sync against the store."""

import collections

from office_load import dav
from office_load.seed import read_collection


def stored(root, user, kind):
    """{name: (uid, mark)} of the items in the collection's folder."""
    return {name: (uid, dav.mark_of(text))
            for name, (uid, text) in read_collection(root, user, kind).items()}


class Outcome:
    def __init__(self):
        self.lost = []      # an item written (or kept) that the store does not hold as written
        self.doubled = []   # an item the store holds that nobody left there, or a UID held twice
        self.unsure = 0     # writes whose answer never came: either state counts
        self.stale = []     # a phone's view after its last sync that differs from the store
        self.unsynced = 0   # phones without a last sync in time (their view is not compared)


def check(root, plan):
    outcome = Outcome()
    for user in plan.users:
        pending = plan.pending[user]
        outcome.unsure += len(pending)
        for kind, expected in plan.expected[user].items():
            held = stored(root, user, kind)
            for name in set(expected) | set(held):
                have = held.get(name, (None, None))[1]
                allowed = {expected.get(name)} | set(pending.get((kind, name), ()))
                if have in allowed:
                    continue
                (outcome.lost if name in expected else outcome.doubled).append(
                    "%s/%s/%s: store %s, written %s" % (user, kind, name, have, expected.get(name)))
            uids = collections.Counter(uid for uid, _ in held.values())
            for uid in [u for u, n in uids.items() if n > 1]:
                outcome.doubled.append("%s/%s: UID %s held twice" % (user, kind, uid))
    for phone in plan.phones:
        if not getattr(phone, "synced_last", False):
            outcome.unsynced += 1
            continue
        for kind in ("contacts", "calendar"):
            held = {name: mark for name, (_, mark) in stored(root, phone.user, kind).items()}
            seen = {name: mark for name, (_, mark) in phone.local[kind].items()}
            if held != seen:
                differ = sorted(set(held.items()) ^ set(seen.items()))[:3]
                outcome.stale.append("%s/%s: %s" % (phone.user, kind, differ))
    return outcome
