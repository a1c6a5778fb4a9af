"""Radicale's own file storage for the package, with what it learns from each
card or event file remembered while the file stays the same.

A sync, a PROPFIND of a book's ctag and the UID check of a new card each go
through every item of the collection: Radicale reads each file, hashes it and
loads its cache entry, for 1,000 cards a few hundred milliseconds of one
core, every time. Here each item's UID, ETag, kind and time range, and each
item's sync history, are kept in memory under the identity of the file they
came from (inode, size, change times); the item's text is still read, the
usual way, only when an answer needs it. A file that changed, whoever
changed it (this server, another process of it, the contact store), has
another identity and is read again; a file changed within the last seconds
is not remembered yet, since its times could still repeat.

Radicale loads it as a storage plug-in: [storage] type = orva_radicale_storage.
"""

import os
import threading
import time

from radicale import item as radicale_item
from radicale import pathutils
from radicale.storage import multifilesystem

# Seconds after its last change before a file is remembered: longer than the
# file system's time resolution, so a later change always shows.
SETTLED_NS = 2 * 10**9
# Files remembered at most, per kind (an item and its history take about
# 1.4 KB together: 300,000 cards of books in use, some 400 MB); past it the
# memory starts afresh.
MAX_REMEMBERED = 300000


def _identity(path):
    """The file's identity and state, or None when it is missing or changed
    too recently to be told apart from a change to come."""
    try:
        stat = os.stat(path)
    except OSError:
        return None
    if time.time_ns() - max(stat.st_ctime_ns, stat.st_mtime_ns) < SETTLED_NS:
        return None
    return (stat.st_ino, stat.st_size, stat.st_mtime_ns, stat.st_ctime_ns)


class _Memory:
    """Values by file path, each valid while the file has the same identity."""

    def __init__(self):
        self._lock = threading.Lock()
        self._values = {}

    def get(self, path, identity):
        with self._lock:
            found = self._values.get(path)
        return found[1] if found is not None and found[0] == identity else None

    def put(self, path, identity, value):
        with self._lock:
            if len(self._values) >= MAX_REMEMBERED:
                self._values.clear()
            self._values[path] = (identity, value)


class _Item(radicale_item.Item):
    """An item whose text is read from its file, the usual way, on first use.
    Made for every item of a collection at each sync: it sets the fields of
    Radicale's item directly, without checking again the collection's path
    that the collection itself already checked."""

    def __init__(self, load, collection, href, last_modified, etag, uid, name, component_name,
                 time_range):  # pylint: disable=super-init-not-called
        self._collection_path = collection.path
        self.collection = collection
        self.href = href
        self.last_modified = last_modified
        self._text = None
        self._vobject_item = None
        self._etag = etag
        self._uid = uid
        self._name = name
        self._component_name = component_name
        self._time_range = time_range
        self._load = load

    def serialize(self):
        if self._text is None and self._vobject_item is None:
            self._text = self._load().serialize()
        return super().serialize()

    @property
    def vobject_item(self):
        self.serialize()
        return super().vobject_item


class Collection(multifilesystem.Collection):

    def _remembered_item(self, href):
        path = os.path.join(self._filesystem_path, href)
        memory = self._storage._orva_items
        identity = _identity(path)
        known = memory.get(path, identity) if identity is not None else None
        if known is None:
            item = self._get(href, verify_href=False)
            if item is not None and identity is not None:
                memory.put(path, identity, (item.last_modified, item.etag, item.uid, item.name,
                                            item.component_name, item.time_range))
            return item
        last_modified, etag, uid, name, component_name, time_range = known
        return _Item(lambda: self._get(href, verify_href=False), collection=self, href=href,
                     last_modified=last_modified, etag=etag, uid=uid, name=name,
                     component_name=component_name, time_range=time_range)

    def get_all(self):
        for href in self._list():
            item = self._remembered_item(href)
            if item is not None:
                yield item

    def _update_history_etag(self, href, item):
        path = os.path.join(self._filesystem_path, ".Radicale.cache", "history", href)
        memory = self._storage._orva_history
        etag = item.etag if item else ""
        identity = _identity(path)
        known = memory.get(path, identity) if identity is not None else None
        if known is not None and known[0] == etag:
            return known[1]
        history_etag = super()._update_history_etag(href, item)
        identity = _identity(path)
        if identity is not None:
            memory.put(path, identity, (etag, history_etag))
        return history_etag


    def _get_deleted_history_hrefs(self):
        # The same names in the same order as Radicale's, with one listing
        # of the collection instead of a look-up per history entry.
        history_folder = os.path.join(self._filesystem_path, ".Radicale.cache", "history")
        try:
            entries = list(os.scandir(history_folder))
        except FileNotFoundError:
            return
        present = {entry.name for entry in os.scandir(self._filesystem_path) if entry.is_file()}
        for entry in entries:
            href = entry.name
            if href not in present and pathutils.is_safe_filesystem_path_component(href):
                yield href


class Storage(multifilesystem.Storage):

    _collection_class = Collection

    def __init__(self, configuration):
        super().__init__(configuration)
        self._orva_items = _Memory()
        self._orva_history = _Memory()
