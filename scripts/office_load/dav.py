"""What a phone sends and reads: the WebDAV/CardDAV/CalDAV bodies of
discovery, sync-collection and multiget, and the multistatus answers."""

import re
import xml.etree.ElementTree as ElementTree

NS = {"D": "DAV:", "C": "urn:ietf:params:xml:ns:carddav",
      "K": "urn:ietf:params:xml:ns:caldav", "CS": "http://calendarserver.org/ns/"}
XML = '<?xml version="1.0" encoding="utf-8"?>'

PRINCIPAL = (XML + '<D:propfind xmlns:D="DAV:"><D:prop><D:current-user-principal/></D:prop>'
             '</D:propfind>')
HOME_SETS = (XML + '<D:propfind xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav" '
             'xmlns:K="urn:ietf:params:xml:ns:caldav"><D:prop><C:addressbook-home-set/>'
             '<K:calendar-home-set/><D:displayname/></D:prop></D:propfind>')
COLLECTIONS = (XML + '<D:propfind xmlns:D="DAV:" xmlns:CS="http://calendarserver.org/ns/" '
               'xmlns:K="urn:ietf:params:xml:ns:caldav"><D:prop><D:resourcetype/>'
               '<D:displayname/><CS:getctag/><D:sync-token/>'
               '<K:supported-calendar-component-set/></D:prop></D:propfind>')


def sync_collection(token):
    return (XML + '<D:sync-collection xmlns:D="DAV:"><D:sync-token>%s</D:sync-token>'
            '<D:sync-level>1</D:sync-level><D:prop><D:getetag/></D:prop>'
            '</D:sync-collection>' % token)


def multiget(kind, hrefs):
    if kind == "contacts":
        head = ('<C:addressbook-multiget xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">'
                '<D:prop><D:getetag/><C:address-data/></D:prop>')
        tail = "</C:addressbook-multiget>"
    else:
        head = ('<K:calendar-multiget xmlns:D="DAV:" xmlns:K="urn:ietf:params:xml:ns:caldav">'
                '<D:prop><D:getetag/><K:calendar-data/></D:prop>')
        tail = "</K:calendar-multiget>"
    return XML + head + "".join("<D:href>%s</D:href>" % h for h in hrefs) + tail


class Answer:
    """A multistatus answer: per href its status and properties (text)."""

    def __init__(self, body):
        self.root = ElementTree.fromstring(body)
        self.token = self.root.findtext("D:sync-token", "", NS)
        self.items = {}  # href -> (status code, {property tag: text})
        for response in self.root.findall("D:response", NS):
            href = response.findtext("D:href", "", NS)
            props, status = {}, response.findtext("D:status", "", NS)
            for propstat in response.findall("D:propstat", NS):
                if "200" not in propstat.findtext("D:status", "", NS):
                    continue
                status = propstat.findtext("D:status", "", NS)
                for prop in propstat.find("D:prop", NS):
                    props[prop.tag] = prop
            code = int(status.split()[1]) if status else 0
            self.items[href] = (code, props)

    def text(self, href, tag):
        prop = self.items.get(href, (0, {}))[1].get(tag)
        return None if prop is None else "".join(prop.itertext())

    def first_href(self, href, tag):
        prop = self.items.get(href, (0, {}))[1].get(tag)
        found = None if prop is None else prop.find("D:href", NS)
        return None if found is None else found.text


ETAG = "{DAV:}getetag"
ADDRESS_DATA = "{urn:ietf:params:xml:ns:carddav}address-data"
CALENDAR_DATA = "{urn:ietf:params:xml:ns:caldav}calendar-data"
PRINCIPAL_PROP = "{DAV:}current-user-principal"
BOOK_HOME = "{urn:ietf:params:xml:ns:carddav}addressbook-home-set"
CALENDAR_HOME = "{urn:ietf:params:xml:ns:caldav}calendar-home-set"
RESOURCETYPE = "{DAV:}resourcetype"

MARK = re.compile(r"(?:NOTE:office-load |SUMMARY:Meeting \d+ )([^\r\n]*)")


def mark_of(text):
    """The writer's mark an item carries: "seed", "p12 r3", "admin r7"."""
    found = MARK.search(text or "")
    return found.group(1) if found else None
