#!/usr/bin/python3
"""The package's storage plug-in answers exactly as Radicale's own storage on
the same folder, while cards are replaced, added and deleted underneath it
as the server and the contact store do (new file, rename into place), and
sees a card rewritten in place right after it was read."""

import os
import random
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "../../../appliance/package/files"))
import orva_radicale_storage  # noqa: E402
from radicale import config, storage  # noqa: E402


def card(uid, note):
    return ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%s\r\nFN:Person %s\r\nN:%s;Person;;;\r\n"
            "NOTE:%s\r\nEND:VCARD\r\n" % (uid, uid, uid, note))


class StorageTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="orva-storage-test-")
        self.book = os.path.join(self.folder, "collection-root", "alice", "contacts")
        os.makedirs(self.book)
        with open(os.path.join(self.book, ".Radicale.props"), "w") as out:
            out.write('{"tag": "VADDRESSBOOK"}')
        self.rng = random.Random(7)
        for i in range(30):
            self.write("c%d" % i, card("c%d" % i, "first"))

    def tearDown(self):
        shutil.rmtree(self.folder)

    def write(self, name, text, in_place=False):
        path = os.path.join(self.book, name)
        if in_place:
            with open(path, "r+") as out:
                out.write(text)
            return
        with open(path + ".tmp-new", "w") as out:
            out.write(text)
        os.replace(path + ".tmp-new", path)

    def storage(self, kind):
        configuration = config.load()
        configuration.update({"storage": {"filesystem_folder": self.folder, "type": kind}},
                             "test", privileged=True)
        return storage.load(configuration)

    @staticmethod
    def answers(store, uid):
        with store.acquire_lock("r", "alice"):
            book = next(iter(store.discover("/alice/contacts/", depth="0")))
            items = sorted((i.href, i.etag, i.uid, i.last_modified, i.serialize(), i.name,
                            i.component_name, i.time_range) for i in book.get_all())
            token, changed = book.sync("")
            return items, token, sorted(changed), book.etag, book.has_uid(uid)

    def test_same_answers_as_radicale_while_files_change(self):
        plain = self.storage("multifilesystem")
        remembering = self.storage("orva_radicale_storage")
        settled = orva_radicale_storage.SETTLED_NS
        orva_radicale_storage.SETTLED_NS = 0  # every file remembered at once
        try:
            for round_ in range(60):
                names = sorted(n for n in os.listdir(self.book) if not n.startswith("."))
                step = self.rng.choice(("replace", "replace", "add", "delete"))
                if step == "replace" and names:
                    name = self.rng.choice(names)
                    self.write(name, card(name, "round %d" % round_))
                elif step == "add":
                    self.write("n%d" % round_, card("n%d" % round_, "new"))
                elif names:
                    os.remove(os.path.join(self.book, self.rng.choice(names)))
                uid = self.rng.choice(names + ["absent"])
                self.assertEqual(self.answers(remembering, uid), self.answers(plain, uid),
                                 "round %d (%s)" % (round_, step))
        finally:
            orva_radicale_storage.SETTLED_NS = settled

    def test_a_card_rewritten_in_place_at_once_is_read_again(self):
        remembering = self.storage("orva_radicale_storage")
        before = self.answers(remembering, "c1")[0]
        self.write("c1", card("c1", "other"), in_place=True)  # same length, same inode
        after = self.answers(remembering, "c1")[0]
        self.assertIn("NOTE:other", dict((i[0], i[4]) for i in after)["c1"])
        self.assertNotEqual(before, after)


if __name__ == "__main__":
    unittest.main()
