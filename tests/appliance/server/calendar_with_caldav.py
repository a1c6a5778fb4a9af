#!/usr/bin/python3
"""Reads one calendar of the real server with python3-caldav, as a CalDAV
client does, and prints one JSON object by UID: the item's kind and, for
each of its components in order, the properties a client shows (summary,
start, end or due, recurrence rule and id, exceptions, time zone names).
usage: calendar_with_caldav.py URL USER PASSWORD CALENDAR"""
import json
import sys

import caldav

SHOWN = ("summary", "dtstart", "dtend", "due", "duration", "rrule", "recurrence-id", "exdate",
         "status", "completed", "location", "description", "priority", "transp")


def shown(value):
    if isinstance(value, list):
        return [shown(v) for v in value]
    if hasattr(value, "isoformat"):
        text = value.isoformat()
        zone = getattr(value, "tzinfo", None)
        return text + (" " + str(zone) if zone is not None and "+" not in text[-6:] and
                       "-" not in text[-6:] else "")
    return str(value)


def main():
    url, user, password, name = sys.argv[1:5]
    client = caldav.DAVClient(url=url, username=user, password=password)
    calendar = client.calendar(url="%s/%s/%s/" % (url, user, name))
    items = {}
    for item in calendar.objects(load_objects=True):
        components = []
        for component in item.vobject_instance.components():
            if component.name == "VTIMEZONE":
                continue
            fields = {"kind": component.name}
            for key in SHOWN:
                lines = component.contents.get(key, [])
                if lines:
                    fields[key] = [shown(line.value) for line in lines]
            components.append(fields)
        items[str(item.icalendar_component.get("uid"))] = components
    print(json.dumps(items, ensure_ascii=False, sort_keys=True, indent=1))


if __name__ == "__main__":
    main()
