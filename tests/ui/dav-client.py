#!/usr/bin/python3
"""What a client finds on the server with a user's password, as JSON:
the calendars (python3-caldav's discovery from the server address) and the
address books (a CardDAV PROPFIND of the user's home).

Usage: dav-client.py SERVER_URL USER PASSWORD
Exit status 0 with {"calendars": [...], "books": [...]}, 1 with
{"error": "..."} when the sign-in or the discovery fails."""
import json
import sys
import xml.etree.ElementTree as ET

import caldav
import requests

url, user, password = sys.argv[1:4]
try:
    client = caldav.DAVClient(url=url, username=user, password=password, ssl_verify_cert=False)
    calendars = [c.name for c in client.principal().calendars()]
    home = url.rstrip("/") + "/" + requests.utils.quote(user) + "/"
    answer = requests.request(
        "PROPFIND", home, auth=(user, password), verify=False, headers={"Depth": "1"},
        data='<?xml version="1.0"?><D:propfind xmlns:D="DAV:"><D:prop><D:resourcetype/>'
             '<D:displayname/></D:prop></D:propfind>')
    if answer.status_code != 207:
        raise RuntimeError("PROPFIND %s answered %d" % (home, answer.status_code))
    books = []
    ns = {"D": "DAV:", "C": "urn:ietf:params:xml:ns:carddav"}
    for response in ET.fromstring(answer.content).findall("D:response", ns):
        if response.find(".//D:resourcetype/C:addressbook", ns) is not None:
            books.append(response.find("D:href", ns).text)
    print(json.dumps({"calendars": calendars, "books": books}))
except Exception as error:  # every failure is the answer, as a client sees it
    print(json.dumps({"error": "%s: %s" % (type(error).__name__, error)}))
    sys.exit(1)
