#!/usr/bin/env python3
"""Writes the calendar server's XML property list from its JSON configuration.

The JSON configuration holds the settings under "general_setting"; the
property list is a dictionary with these keys:

  HTTPPort             integer, 1..65535   <- general_setting.HTTPPort
  SSLPort              integer, 1..65535   <- general_setting.SSLPort
  EnableSSL            boolean             <- general_setting.EnableSSL
  RedirectHTTPToHTTPS  boolean             <- general_setting.RedirectHTTPToHTTPS
  RealmName            string              <- general_setting.realmName
                                              (default: "Tessaro Calendar Server")

Absolute paths are appliance paths: when ORVA_ROOT is set they are resolved
under it. The property list is replaced atomically; on any error it is left
as it was and the exit status is 1.
"""

import argparse
import json
import os
import plistlib
import sys
import tempfile

DEFAULT_REALM = "Tessaro Calendar Server"


class ConfError(Exception):
    pass


def under_root(path):
    root = os.environ.get("ORVA_ROOT", "")
    root = root.rstrip("/")
    if root and os.path.isabs(path):
        return root + path
    return path


def read_settings(json_path):
    try:
        with open(json_path, "rb") as stream:
            conf = json.loads(stream.read().decode("utf-8"))
    except OSError as error:
        raise ConfError("cannot read %s: %s" % (json_path, error.strerror or error))
    except (UnicodeDecodeError, ValueError) as error:
        raise ConfError("%s is not valid JSON: %s" % (json_path, error))
    if not isinstance(conf, dict):
        raise ConfError("%s does not hold a JSON object" % json_path)
    settings = conf.get("general_setting")
    if not isinstance(settings, dict):
        raise ConfError('%s has no "general_setting" object' % json_path)
    return settings


def port(settings, key):
    value = settings.get(key)
    # bool is an int in Python; a port never is one.
    if isinstance(value, bool) or not isinstance(value, int) or not 1 <= value <= 65535:
        raise ConfError('"%s" must be an integer from 1 to 65535, not %r' % (key, value))
    return value


def flag(settings, key):
    value = settings.get(key)
    if not isinstance(value, bool):
        raise ConfError('"%s" must be true or false, not %r' % (key, value))
    return value


def property_list(settings):
    realm = settings.get("realmName", DEFAULT_REALM)
    if not isinstance(realm, str) or not realm:
        raise ConfError('"realmName" must be a non-empty string')
    return {
        "HTTPPort": port(settings, "HTTPPort"),
        "SSLPort": port(settings, "SSLPort"),
        "EnableSSL": flag(settings, "EnableSSL"),
        "RedirectHTTPToHTTPS": flag(settings, "RedirectHTTPToHTTPS"),
        "RealmName": realm,
    }


def write_atomic(path, data):
    folder = os.path.dirname(path) or "."
    try:
        mode = os.stat(path).st_mode & 0o7777
    except FileNotFoundError:
        mode = 0o644
    except OSError as error:
        raise ConfError("cannot look at %s: %s" % (path, error.strerror or error))
    try:
        fd, temp = tempfile.mkstemp(dir=folder, prefix="." + os.path.basename(path) + ".")
    except OSError as error:
        raise ConfError("cannot write in %s: %s" % (folder, error.strerror or error))
    try:
        with os.fdopen(fd, "wb") as stream:
            stream.write(data)
            stream.flush()
            os.fsync(stream.fileno())
        os.chmod(temp, mode)
        os.replace(temp, path)
    except OSError as error:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise ConfError("cannot write %s: %s" % (path, error.strerror or error))


def main(argv):
    parser = argparse.ArgumentParser(
        prog="orva_calendar_conf_dump.py",
        description=__doc__,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dump", nargs=2, metavar=("JSON", "PLIST"), required=True,
                        help="read the JSON configuration and write the property list")
    args = parser.parse_args(argv)
    json_path, plist_path = (under_root(path) for path in args.dump)
    try:
        data = plistlib.dumps(property_list(read_settings(json_path)), fmt=plistlib.FMT_XML)
        write_atomic(plist_path, data)
    except ConfError as error:
        print("orva_calendar_conf_dump.py: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
