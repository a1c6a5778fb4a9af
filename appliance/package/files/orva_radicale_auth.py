"""Radicale's sign-in for the package: the htpasswd file's bcrypt hashes.

Radicale's own htpasswd check fails the whole request (HTTP 500) when any
line it reads before the user's holds a hash in another format (MD5, SHA,
crypt, plain text) or no ':'. Here such a line signs nobody in, is logged
once (the user's name, never the hash), and every other user signs in as
before. The administration page reports those users and sets new passwords.
"""

import hmac

from radicale.auth import htpasswd
from radicale.log import logger


class Auth(htpasswd.Auth):

    def __init__(self, configuration):
        super().__init__(configuration)
        self._reported = set()

    def _report(self, user, why):
        if user not in self._reported:
            self._reported.add(user)
            logger.warning("Sign-in of %r refused: %s; set a new password on the "
                           "administration page", user, why)

    def login(self, login, password):
        try:
            with open(self._filename, encoding=self._encoding) as stream:
                lines = stream.read().splitlines()
        except OSError as error:
            raise RuntimeError("Failed to load htpasswd file %r: %s" %
                               (self._filename, error)) from error
        for line in lines:
            if not line.strip() or line.lstrip().startswith("#"):
                continue
            user, colon, stored = line.partition(":")
            if not colon:
                self._report(user, "its line has no ':'")
                continue
            # Both compared every time, as Radicale does, against timing.
            login_ok = hmac.compare_digest(user.encode(), login.encode())
            try:
                password_ok = self._verify(stored, password)
            except ValueError:
                self._report(user, "the stored password is not a bcrypt hash")
                continue
            if login_ok and password_ok:
                return login
        return ""
