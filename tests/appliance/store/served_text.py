"""A card text taken apart property by property, as the module reads it, so
that a stored card and the text the CardDAV server serves for it can be
compared: same properties (name and group in any letter case), same
parameters (names in any letter case, values as listed), same values once
unescaped. Escapes are those of vCard 3.0 ("\\\\", "\\,", "\\;", "\\n", "\\N");
any other backslash stands for itself. Base64 values compare as their bytes;
N, ADR and ORG as their components, CATEGORIES and the components of N and
ADR as their lists; empty items and components at the end of a list count
for nothing (the server drops them, and pads N to five components and ADR
to seven). A VERSION:3.0 that the server adds to a card without one counts
for nothing either: the module reads every card as 3.0."""
import base64
import binascii

ESCAPED = {"\\": "\\", ",": ",", ";": ";", "n": "\n", "N": "\n"}
STRUCTURED = {"N", "ADR", "ORG"}


def unfolded(text):
    lines = []
    for line in text.replace("\r\n", "\n").split("\n"):
        if line[:1] in (" ", "\t") and lines:
            lines[-1] += line[1:]
        elif line:
            lines.append(line)
    return lines


def split_unescaped(value, separator):
    parts, start, i = [], 0, 0
    while i < len(value):
        if value[i] == "\\":
            i += 1
        elif value[i] == separator:
            parts.append(value[start:i])
            start = i + 1
        i += 1
    parts.append(value[start:])
    return parts


def unescaped(value):
    out, i = [], 0
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value) and value[i + 1] in ESCAPED:
            out.append(ESCAPED[value[i + 1]])
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def parameter_values(text):
    """The values of name=v1,"v2",... as a tuple, quotes removed."""
    values, current, quoted = [], [], False
    for c in text:
        if c == '"':
            quoted = not quoted
        elif c == "," and not quoted:
            values.append("".join(current))
            current = []
        else:
            current.append(c)
    values.append("".join(current))
    return tuple(values)


def content_line(line):
    """(name, group, parameters, value text) of an unfolded line."""
    quoted, colon = False, -1
    for i, c in enumerate(line):
        if c == '"':
            quoted = not quoted
        elif c == ":" and not quoted:
            colon = i
            break
    head, value = line[:colon], line[colon + 1:]
    pieces, current, quoted = [], [], False
    for c in head:
        if c == '"':
            quoted = not quoted
        if c == ";" and not quoted:
            pieces.append("".join(current))
            current = []
        else:
            current.append(c)
    pieces.append("".join(current))
    group, _, name = pieces[0].rpartition(".")
    # A parameter named twice lists the values of both (TYPE=a;TYPE=b).
    parameters = {}
    for piece in pieces[1:]:
        key, equals, rest = piece.partition("=")
        if not equals:
            key, rest = ("ENCODING", "b") if key == "BASE64" else ("", key)
        values = parameter_values(rest)
        values = parameters.get(key.upper(), ()) + values
        if key.upper() == "ENCODING":  # ENCODING=b;BASE64 names one coding
            values = tuple(sorted(set(v.upper() for v in values)))
        parameters[key.upper()] = values
    return name.upper(), group.upper(), tuple(sorted(parameters.items())), value


def without_empty_end(items):
    while len(items) > 1 and items[-1] in ("", ()):
        items.pop()
    return items


def listed(value):
    return tuple(without_empty_end([unescaped(item) for item in split_unescaped(value, ",")]))


def properties(text):
    """The card's properties as comparable tuples, in a fixed order."""
    found = []
    for line in unfolded(text):
        name, group, parameters, value = content_line(line)
        if "B" in dict(parameters).get("ENCODING", ()):
            try:
                read = base64.b64decode(value, validate=True)
            except (binascii.Error, ValueError):
                read = ("undecodable", value)
        elif name in STRUCTURED:
            parts = split_unescaped(value, ";")
            if name != "ORG":
                parts = [listed(part) for part in parts]
            read = tuple(without_empty_end([unescaped(part) for part in parts]))
        elif name == "CATEGORIES":
            read = listed(value)
        else:
            read = unescaped(value)
        found.append((name, group, parameters, repr(read)))
    return sorted(found)


def difference(stored, served):
    """None when the served text holds the stored card's properties, else the
    first property that differs, as (stored, served)."""
    mine, theirs = properties(stored), properties(served)
    added_version = ("VERSION", "", (), repr("3.0"))
    if added_version in theirs and not any(p[0] == "VERSION" for p in mine):
        theirs.remove(added_version)
    if mine == theirs:
        return None
    for a, b in zip(mine + [None] * len(theirs), theirs + [None] * len(mine)):
        if a != b:
            return (a, b)
    return None
