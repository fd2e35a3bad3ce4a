#!/usr/bin/env python3
"""Seeded property-list fixtures for the service's property-list tests, with Python's plistlib as
the independent reference.

  plist_fixture.py generate --seed N --count K --out DIR
      Writes case_NNN.xml and case_NNN.bin (the same random tree in plistlib's XML and binary forms)
      and case_NNN.json: the value tree that the service's reader must give for it, computed here from
      the tree by the reader's rules (src/utility/hlx_plist.h), and the text that the first-value
      reader must give.
  plist_fixture.py compare EXPECTED ACTUAL [EXPECTED ACTUAL ...]
      Loads each pair of files with plistlib (either form) and compares the trees strictly (types
      included); exit status 0 when every pair is equal, 1 otherwise, with the first difference of each
      unequal pair (or the reason a file does not load) printed.

The expected tree, in JSON: {"t": kind, "v": value} with kind one of
  empty, string, int, double, bool, data (v: base64 of the bytes), date (v: "YYYY-MM-DDThh:mm:ssZ"),
  array (v: list of trees), dict (v: object of trees).
"""
import argparse
import base64
import datetime
import json
import os
import plistlib
import random
import sys

# Characters that XML text may hold and that make the XML writer and reader work: markup characters,
# entities, non-ASCII in two, three and four UTF-8 bytes, tabs and line feeds (no carriage returns:
# XML readers turn them into line feeds).
TEXT_PIECES = ["a", "b", "Z", "0", "9", " ", "  ", "\t", "\n", "<", ">", "&", "'", '"', "&amp;", "]]>",
               "\u00e9", "\u00fc", "\u4e2d", "\u6587", "\U0001F600", "\u20ac", "key", "plist", "/"]
# TinyXML keeps no text node made of these alone, so such a text reads as empty.
XML_BLANKS = " \t\n\r"


def random_text(rng, allow_blank=True):
    while True:
        count = rng.choice([0, 1, 1, 2, 3, 5, 8, 20])
        text = "".join(rng.choice(TEXT_PIECES) for _ in range(count))
        if allow_blank or text.strip(XML_BLANKS):
            return text


def random_value(rng, depth):
    kinds = ["string", "int", "float", "bool", "data", "date"]
    if depth < 4:
        kinds += ["array", "dict", "array", "dict"]
    kind = rng.choice(kinds)
    if kind == "string":
        return random_text(rng)
    if kind == "int":
        return rng.choice([0, 1, -1, 42, -42, 2 ** 31, -(2 ** 31) - 1, 2 ** 40 + 7, 2 ** 63 - 1, -(2 ** 63),
                           rng.randint(-(10 ** 12), 10 ** 12)])
    if kind == "float":
        return rng.choice([0.0, 1.5, -2.25, 3.141592653589793, 1e-7, 6.02214076e23, -1e100,
                           rng.uniform(-1e6, 1e6)])
    if kind == "bool":
        return rng.random() < 0.5
    if kind == "data":
        return bytes(rng.randrange(256) for _ in range(rng.choice([0, 1, 2, 3, 16, 57, 200])))
    if kind == "date":
        seconds = rng.randint(0, 40 * 365 * 86400)
        return datetime.datetime(1990, 1, 1) + datetime.timedelta(seconds=seconds)
    if kind == "array":
        return [random_value(rng, depth + 1) for _ in range(rng.choice([0, 1, 2, 4, 7]))]
    result = {}
    for _ in range(rng.choice([0, 1, 3, 6])):
        result[random_text(rng, allow_blank=rng.random() < 0.1)] = random_value(rng, depth + 1)
    return result


def random_top(rng):
    roll = rng.random()
    if roll < 0.7:
        value = random_value(rng, 0)
        while not isinstance(value, dict):
            value = random_value(rng, 0)
        return value
    if roll < 0.9:
        return [random_value(rng, 1) for _ in range(rng.choice([0, 1, 3, 5]))]
    return random_value(rng, 3)


def date_text(value):
    return value.strftime("%Y-%m-%dT%H:%M:%SZ")


def expected_tree(value, in_dictionary):
    """The reader's tree for a value, or None when its rules drop it."""
    if isinstance(value, bool):
        return {"t": "bool", "v": value}
    if isinstance(value, int):
        return {"t": "int", "v": value}
    if isinstance(value, float):
        return None if in_dictionary else {"t": "double", "v": value}
    if isinstance(value, str):
        return {"t": "string", "v": value} if value.strip(XML_BLANKS) else None
    if isinstance(value, bytes):
        if not in_dictionary or not value:
            return None
        return {"t": "data", "v": base64.b64encode(value).decode("ascii")}
    if isinstance(value, datetime.datetime):
        return {"t": "date", "v": date_text(value)} if in_dictionary else None
    if isinstance(value, list):
        items = [tree for tree in (expected_tree(item, False) for item in value) if tree is not None]
        return {"t": "array", "v": items} if items else {"t": "empty"}
    if isinstance(value, dict):
        entries = {}
        for key, item in value.items():
            if not key.strip(XML_BLANKS):
                continue  # a key without text drops its pair
            tree = expected_tree(item, True)
            if tree is not None:
                entries[key] = tree
        return {"t": "dict", "v": entries}
    raise TypeError(type(value))


def expected_first_value(top):
    """The first-value reader's text, or None where the library's own formatting decides it.

    The reader takes the second element below the top-level one whatever the elements are: for a
    dictionary the value of its first key (the writer sorts keys by their bytes), for an array its
    second element."""
    if isinstance(top, dict) and top:
        value = top[min(top, key=lambda key: key.encode("utf-8"))]
    elif isinstance(top, list) and len(top) >= 2:
        value = top[1]
    else:
        return ""
    if isinstance(value, bool) or isinstance(value, (list, dict)):
        return ""
    if isinstance(value, int):
        return str(value)
    if isinstance(value, str):
        return value if value.strip(XML_BLANKS) else ""
    if isinstance(value, datetime.datetime):
        return date_text(value)
    return None  # reals and data: their text is the library's choice


def generate(seed, count, out):
    rng = random.Random(seed)
    os.makedirs(out, exist_ok=True)
    for index in range(count):
        top = random_top(rng)
        stem = os.path.join(out, "case_%03d" % index)
        with open(stem + ".xml", "wb") as file:
            file.write(plistlib.dumps(top, fmt=plistlib.FMT_XML, sort_keys=True))
        with open(stem + ".bin", "wb") as file:
            file.write(plistlib.dumps(top, fmt=plistlib.FMT_BINARY, sort_keys=True))
        tree = expected_tree(top, False)
        wrapper = {"t": "array", "v": [tree]} if tree is not None else {"t": "empty"}
        with open(stem + ".json", "w", encoding="utf-8") as file:
            json.dump({"tree": wrapper, "first": expected_first_value(top)}, file, ensure_ascii=True)
    print(count)


def difference(a, b, where):
    if type(a) is not type(b):
        return "%s: %s against %s" % (where, type(a).__name__, type(b).__name__)
    if isinstance(a, dict):
        if sorted(a) != sorted(b):
            return "%s: keys %r against %r" % (where, sorted(a), sorted(b))
        for key in a:
            found = difference(a[key], b[key], "%s/%r" % (where, key))
            if found:
                return found
        return None
    if isinstance(a, list):
        if len(a) != len(b):
            return "%s: %d elements against %d" % (where, len(a), len(b))
        for index, (x, y) in enumerate(zip(a, b)):
            found = difference(x, y, "%s[%d]" % (where, index))
            if found:
                return found
        return None
    return None if a == b else "%s: %r against %r" % (where, a, b)


def load(path):
    with open(path, "rb") as file:
        return plistlib.load(file)


def compare(paths):
    if len(paths) % 2 != 0:
        print("compare takes pairs of files")
        return 2
    status = 0
    for expected_path, actual_path in zip(paths[0::2], paths[1::2]):
        try:
            found = difference(load(expected_path), load(actual_path), "")
        except Exception as error:  # a file that plistlib cannot read is a difference too
            found = "does not load: %s" % error
        if found:
            print("%s: %s" % (actual_path, found))
            status = 1
    return status


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    make = commands.add_parser("generate")
    make.add_argument("--seed", type=int, required=True)
    make.add_argument("--count", type=int, required=True)
    make.add_argument("--out", required=True)
    check = commands.add_parser("compare")
    check.add_argument("paths", nargs="+")
    arguments = parser.parse_args()
    if arguments.command == "generate":
        generate(arguments.seed, arguments.count, arguments.out)
        return 0
    return compare(arguments.paths)


if __name__ == "__main__":
    sys.exit(main())
