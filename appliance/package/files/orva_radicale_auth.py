"""Radicale's sign-in for the package: the htpasswd file's bcrypt hashes.

A sign-in costs one bcrypt check at most, and none once verified:

- the users file is read once and again only when it changes (its inode,
  size or time), by line feeds only, into a table looked up by name;
- an unknown name is checked against a dummy hash of the same cost, so it
  takes as long as a wrong password;
- a verified sign-in is remembered for a few minutes under a salted SHA-256
  of name, stored hash and password (no password is kept), and forgotten
  when the users file changes;
- each client address has a few failed sign-ins to spend, refilled slowly;
  once they are spent its requests are refused before any hash is made,
  unless they carry a sign-in verified before;
- sign-ins not verified before take one core at most, and only a few wait
  for it: others are refused at once, so that a flood of new addresses
  neither takes the processor nor Radicale's connections from users whose
  sign-in is remembered.

Names are compared as people read them: the name as typed first, then its
canonical caseless form (NFD of the case-folded NFD), so "José" in NFC or
NFD and "BJØRN" for "Bjørn" sign in the stored user.

A line whose hash is not bcrypt (MD5, SHA, crypt, plain text) signs nobody
in and is logged once (the user's name, never the hash); every other user
signs in as before. The administration page reports those users.
"""

import base64
import collections
import hashlib
import hmac
import ipaddress
import os
import re
import threading
import time
import unicodedata

from passlib.hash import bcrypt
from radicale import httputils
from radicale.auth import htpasswd
from radicale.log import logger

# Seconds a verified sign-in is remembered; 0 turns the memory off.
CACHE_SECONDS = float(os.environ.get("ORVA_SIGNIN_CACHE_SECONDS", "300"))
CACHE_ENTRIES = 10000
# Failed sign-ins an address may spend at once, and seconds until one more
# (tests that sign in wrongly on purpose from one address raise the first).
FAILURES_AT_ONCE = int(os.environ.get("ORVA_SIGNIN_FAILURES_AT_ONCE", "5"))
SECONDS_PER_FAILURE = 12.0
ADDRESSES = 4096
HASHES_AT_ONCE = 1
WAITING_AT_MOST = 4
# A refused request is answered after this long: a client that loops costs a
# few requests a second, not hundreds, and holds a connection briefly.
REFUSAL_SECONDS = 0.25
DEFAULT_COST = 10

_BCRYPT = re.compile(r"^\$2[aby]\$(0[4-9]|[12][0-9]|3[01])\$[./A-Za-z0-9]{53}$")


def name_key(name):
    """The form two names share when people read them as one."""
    return unicodedata.normalize(
        "NFD", unicodedata.normalize("NFD", name).casefold())


class UsersFile:
    """The users of the htpasswd file: [(name, hash)] in file order."""

    def __init__(self, path, encoding):
        self.path = path
        self.encoding = encoding
        self.signature = None
        self.exact = {}
        self.folded = {}
        self.cost = DEFAULT_COST

    @staticmethod
    def signature_of(status):
        return (status.st_dev, status.st_ino, status.st_size,
                status.st_mtime_ns)

    def changed(self):
        return self.signature_of(os.stat(self.path)) != self.signature

    def load(self):
        with open(self.path, "rb") as stream:
            self.signature = self.signature_of(os.fstat(stream.fileno()))
            data = stream.read()
        self.exact, self.folded, costs = {}, {}, []
        # Line feeds only: U+2028, U+0085 and the like are part of a name.
        for raw in data.split(b"\n"):
            line = raw.decode(self.encoding, errors="replace")
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            name, colon, stored = line.partition(":")
            stored = stored.strip() if colon else None
            self.exact.setdefault(name, stored)
            self.folded.setdefault(name_key(name), name)
            if stored and _BCRYPT.match(stored):
                costs.append(int(stored[4:6]))
        if costs:
            self.cost = max(set(costs), key=costs.count)

    def find(self, login):
        """(stored name, stored hash or None) or (None, None)."""
        if login in self.exact:
            return login, self.exact[login]
        name = self.folded.get(name_key(login))
        if name is None:
            return None, None
        return name, self.exact[name]


class FailureLimit:
    """Failed sign-ins per client address, as a bucket refilled slowly."""

    def __init__(self):
        # address: [failures left, since when, refusal logged]
        self._buckets = collections.OrderedDict()

    def _level(self, address, now):
        tokens, since, _ = self._buckets.get(address, (FAILURES_AT_ONCE, now, 0))
        return min(FAILURES_AT_ONCE,
                   tokens + (now - since) / SECONDS_PER_FAILURE)

    def refuses(self, address):
        """True while the address has no failure left to spend."""
        bucket = self._buckets.get(address)
        if bucket is None or self._level(address, time.monotonic()) >= 1:
            return False
        if not bucket[2]:
            bucket[2] = 1
            logger.warning("Sign-ins from %s are refused for a while: too "
                           "many failed sign-ins", address)
        return True

    def take(self, address):
        """Spends one failure; False when none is left."""
        if self.refuses(address):
            return False
        now = time.monotonic()
        self._put(address, self._level(address, now) - 1, now)
        return True

    def give_back(self, address):
        now = time.monotonic()
        self._put(address, self._level(address, now) + 1, now)

    def _put(self, address, tokens, now):
        self._buckets.pop(address, None)
        if tokens < FAILURES_AT_ONCE:
            self._buckets[address] = [tokens, now, 0]
        while len(self._buckets) > ADDRESSES:
            self._buckets.popitem(last=False)


def client_address(environ):
    """The client as nginx saw it; an IPv6 client by its /64 network."""
    address = environ.get("REMOTE_ADDR", "")
    forwarded = environ.get("HTTP_X_FORWARDED_FOR", "")
    # nginx appends the address it was connected from: the last one holds.
    if forwarded and address in ("127.0.0.1", "::1"):
        address = forwarded.split(",")[-1].strip()
    try:
        parsed = ipaddress.ip_address(address)
    except ValueError:
        return address
    if parsed.version == 6:
        if parsed.ipv4_mapped is not None:
            return str(parsed.ipv4_mapped)
        return str(ipaddress.ip_network(address + "/64", strict=False))
    return str(parsed)


class Auth(htpasswd.Auth):

    def __init__(self, configuration):
        super().__init__(configuration)
        self._lock = threading.Lock()
        self._users = UsersFile(self._filename, self._encoding)
        self._verified = collections.OrderedDict()
        self._salt = os.urandom(16)
        self._limit = FailureLimit()
        self._dummies = {}
        self._reported = set()
        self._request = threading.local()
        self._hashing = threading.Semaphore(HASHES_AT_ONCE)
        self._waiting = 0

    def _report(self, user, why):
        if user not in self._reported:
            self._reported.add(user)
            logger.warning("Sign-in of %r refused: %s; set a new password on "
                           "the administration page", user, why)

    def _current_users(self):
        """The table, read again when the file changed. With the lock."""
        try:
            if self._users.signature is None or self._users.changed():
                self._users.load()
                self._verified.clear()
        except OSError as error:
            raise RuntimeError("Failed to load htpasswd file %r: %s" %
                               (self._filename, error)) from error
        return self._users

    def _key(self, name, stored, password):
        digest = hashlib.sha256(self._salt)
        for part in (name, stored, password):
            data = part.encode("utf-8", errors="surrogatepass")
            digest.update(len(data).to_bytes(8, "big") + data)
        return digest.digest()

    def _remembered(self, login, password):
        """(stored name, its hash, cache key); the key is remembered or not."""
        name, stored = self._current_users().find(login)
        if not stored:
            return name, stored, None
        key = self._key(name, stored, password)
        expiry = self._verified.get(key)
        if expiry is not None and expiry < time.monotonic():
            del self._verified[key]
        return name, stored, key

    def _dummy(self, cost):
        with self._lock:
            dummy = self._dummies.get(cost)
        if dummy is None:
            dummy = bcrypt.using(rounds=cost).hash(os.urandom(16).hex())
            with self._lock:
                self._dummies[cost] = dummy
        return dummy

    def get_external_login(self, environ):
        # Radicale asks this first, on the request's own thread: the client's
        # address is kept for login(), and a sign-in that would need a hash
        # now refused is refused here, before any hash (403 after a short
        # delay, without a new challenge).
        address = client_address(environ)
        self._request.address = address
        authorization = environ.get("HTTP_AUTHORIZATION", "")
        if not authorization.startswith("Basic"):
            return ()
        with self._lock:
            if (not self._limit.refuses(address) and
                    self._waiting < HASHES_AT_ONCE + WAITING_AT_MOST):
                return ()
        try:
            login, password = httputils.decode_request(
                self.configuration, environ, base64.b64decode(
                    authorization[len("Basic"):].strip().encode("ascii"))
            ).split(":", 1)
            with self._lock:
                key = self._remembered(login, password)[2]
                if key is not None and key in self._verified:
                    return ()
        except ValueError:
            return ()
        time.sleep(REFUSAL_SECONDS)
        return ("", "")

    def login(self, login, password):
        address = getattr(self._request, "address", "")
        with self._lock:
            name, stored, key = self._remembered(login, password)
            if key is not None and key in self._verified:
                return name
            if not self._limit.take(address):
                return ""
            cost = self._users.cost
            self._waiting += 1
        try:
            with self._hashing:
                verified = self._check(name, stored, password, cost)
        finally:
            with self._lock:
                self._waiting -= 1
        if not verified:
            return ""
        with self._lock:
            self._limit.give_back(address)
            if CACHE_SECONDS > 0:
                self._verified[key] = time.monotonic() + CACHE_SECONDS
                while len(self._verified) > CACHE_ENTRIES:
                    self._verified.popitem(last=False)
        return name

    def _check(self, name, stored, password, cost):
        """One bcrypt check: of the user's hash, or of a dummy of its cost."""
        checkable = stored is not None and _BCRYPT.match(stored) is not None
        if name is not None and not checkable:
            self._report(name, "its line has no ':'" if stored is None else
                         "the stored password is not a bcrypt hash")
        try:
            # Unknown names and unusable hashes cost as much as a user.
            return self._verify(stored if checkable else self._dummy(cost),
                                password) and checkable
        except ValueError:
            return False
