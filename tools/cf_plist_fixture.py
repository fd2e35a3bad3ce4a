#!/usr/bin/env python3
"""Property-list fixtures and checks for the CoreFoundation library's tests, with Python's plistlib as
the independent reference.

  generate --seed S --count N --dir D
      Writes N seeded random trees (plus fixed edge cases after them) as D/case_<i>.bin (binary) and,
      except for trees holding UIDs (which XML cannot carry), D/case_<i>.xml, both by plistlib.
      Prints the total number of cases.
  check --dir D --count N
      For every case, reads the library's output D/out_<i>.bin (and D/out_<i>.xml when the case has
      XML) with plistlib and compares it with the tree plistlib reads from the matching input file:
      types and values must match exactly (floats bit for bit). The XML output must also equal, byte
      for byte, what plistlib writes for the same tree with sorted keys. Prints one line per
      mismatch; exit status 1 when there is any.
  dump --file F
      Prints ascii() of what plistlib reads from F, or "ERROR <exception name>".

Only the standard library is used.
"""

import argparse
import datetime
import os
import plistlib
import random
import struct
import sys

# Characters that XML 1.0 and plistlib both carry: no control characters but tab and newline (a raw
# carriage return would come back as a newline), nothing from the surrogate range, no U+FFFE/U+FFFF.
ALPHABET = (
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
    " \t\n&<>\"';:/\\=?!#%$-_.,"
    "\u00e9\u00df\u00fc\u0416\u4e2d\u6587\u20ac\u2603"
    "\U0001f600\U00010348"
)

INT_EDGES = [
    0, 1, 14, 15, 16, 127, 128, 255, 256, 65535, 65536, 2**31 - 1, 2**31, 2**32 - 1, 2**32,
    2**53 + 1, 2**63 - 1, 2**63, 2**64 - 1, -1, -128, -129, -2**31, -2**63,
]

FLOAT_EDGES = [
    0.0, -0.0, 1.0, -1.0, 0.1, 0.5, 2.1, 1e15, 1e16, 123456789012345678.0, 1e-4, 1e-5, 1.5e300,
    5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, float("inf"), float("-inf"), 3.0e-7,
    1234.5678,
]

EPOCH = datetime.datetime(2001, 1, 1)


def random_string(rng, max_len=12):
    return "".join(rng.choice(ALPHABET) for _ in range(rng.randint(0, max_len)))


def random_float(rng):
    pick = rng.random()
    if pick < 0.3:
        return rng.choice(FLOAT_EDGES)
    if pick < 0.6:
        return round(rng.uniform(-1e6, 1e6), rng.randint(0, 6))
    while True:
        value = struct.unpack(">d", rng.getrandbits(64).to_bytes(8, "big"))[0]
        if value == value:  # no NaN: it never compares equal
            return value


def random_int(rng):
    pick = rng.random()
    if pick < 0.4:
        return rng.choice(INT_EDGES)
    if pick < 0.7:
        return rng.randint(-1000, 100000)
    return rng.randint(-2**63, 2**64 - 1)


def random_date(rng):
    pick = rng.random()
    if pick < 0.2:
        return EPOCH
    if pick < 0.6:
        seconds = rng.randint(-3 * 10**9, 3 * 10**9)
    else:
        seconds = rng.randint(-63113904000, 252423993599)  # years 1 to 9999
    return EPOCH + datetime.timedelta(seconds=seconds)


def random_leaf(rng):
    kind = rng.randrange(7)
    if kind == 0:
        return random_string(rng)
    if kind == 1:
        return random_int(rng)
    if kind == 2:
        return random_float(rng)
    if kind == 3:
        return rng.random() < 0.5
    if kind == 4:
        return bytes(rng.getrandbits(8) for _ in range(rng.choice([0, 1, 2, 3, 20, 57, 150])))
    if kind == 5:
        return random_date(rng)
    return random_string(rng, 40)


def random_tree(rng, depth):
    if depth <= 0 or rng.random() < 0.35:
        return random_leaf(rng)
    if rng.random() < 0.5:
        return [random_tree(rng, depth - 1) for _ in range(rng.randint(0, 7))]
    result = {}
    for _ in range(rng.randint(0, 7)):
        result[random_string(rng, 8)] = random_tree(rng, depth - 1)
    return result


def nested(value, levels):
    for _ in range(levels):
        value = [value]
    return value


def edge_cases():
    """Fixed trees after the random ones: (tree, has_xml)."""
    cases = [
        ({"b": 1, "a": 2, "B": 3, "A": 4, "\u00e9": 5, "z": 6, "": 7, "aa": 8, "a b": 9, "\u4e2d": 10,
          "\U0001f600": 11, "\uffe0": 12}, True),
        (INT_EDGES, True),
        (FLOAT_EDGES, True),
        ("top-level string with <markup> & \U0001f600", True),
        (nested("deep", 40), True),
        ({"empty dict": {}, "empty array": [], "empty string": "", "empty data": b""}, True),
        ([datetime.datetime(1, 1, 1), datetime.datetime(1900, 2, 28, 23, 59, 59),
          datetime.datetime(2000, 2, 29, 12, 0, 0), datetime.datetime(9999, 12, 31, 23, 59, 59)], True),
        # 300 distinct objects need two-byte references; 70000 need four-byte references and offsets.
        ([i * 7 - 1000 for i in range(300)], True),
        (["item %d" % i for i in range(70000)], True),
        ({"$objects": [plistlib.UID(0), plistlib.UID(255), plistlib.UID(256), plistlib.UID(70000),
                       plistlib.UID(2**40)], "$top": {"root": plistlib.UID(1)}}, False),
    ]
    return cases


def write_cases(seed, count, directory):
    rng = random.Random(seed)
    cases = [(random_tree(rng, 6), True) for _ in range(count)]
    cases += edge_cases()
    for index, (tree, has_xml) in enumerate(cases):
        with open(os.path.join(directory, "case_%d.bin" % index), "wb") as out:
            out.write(plistlib.dumps(tree, fmt=plistlib.FMT_BINARY, sort_keys=False))
        if has_xml:
            with open(os.path.join(directory, "case_%d.xml" % index), "wb") as out:
                out.write(plistlib.dumps(tree, fmt=plistlib.FMT_XML, sort_keys=True))
    print(len(cases))


def describe_difference(expected, actual, path):
    """None when equal with the same types (floats bit for bit), else a text naming the place."""
    if type(expected) is not type(actual):
        return "%s: type %s != %s" % (path, type(expected).__name__, type(actual).__name__)
    if isinstance(expected, float):
        if struct.pack(">d", expected) != struct.pack(">d", actual):
            return "%s: %r != %r" % (path, expected, actual)
        return None
    if isinstance(expected, list):
        if len(expected) != len(actual):
            return "%s: length %d != %d" % (path, len(expected), len(actual))
        for index, (left, right) in enumerate(zip(expected, actual)):
            found = describe_difference(left, right, "%s[%d]" % (path, index))
            if found:
                return found
        return None
    if isinstance(expected, dict):
        if set(expected) != set(actual):
            return "%s: keys %r != %r" % (path, sorted(expected), sorted(actual))
        for key in expected:
            found = describe_difference(expected[key], actual[key], "%s[%r]" % (path, key))
            if found:
                return found
        return None
    if expected != actual:
        return "%s: %r != %r" % (path, expected, actual)
    return None


def check_cases(directory, count):
    failures = 0
    for index in range(count):
        # Each output is compared with the input it was made from: plistlib's binary writer merges
        # equal scalars, and 0.0 == -0.0 in Python, so the binary input may hold 0.0 where the XML
        # input holds -0.0.
        pairs = [("case_%d.bin" % index, "out_%d.bin" % index, plistlib.FMT_BINARY)]
        if os.path.exists(os.path.join(directory, "case_%d.xml" % index)):
            pairs.append(("case_%d.xml" % index, "out_%d.xml" % index, plistlib.FMT_XML))
        for source_name, name, fmt in pairs:
            with open(os.path.join(directory, source_name), "rb") as source:
                original = plistlib.loads(source.read())
            try:
                with open(os.path.join(directory, name), "rb") as produced:
                    data = produced.read()
                loaded = plistlib.loads(data, fmt=fmt)
            except Exception as error:  # any failure to read is a finding
                print("%s: unreadable: %s: %s" % (name, type(error).__name__, error))
                failures += 1
                continue
            difference = describe_difference(original, loaded, "root")
            if difference:
                print("%s: %s" % (name, difference))
                failures += 1
            elif fmt == plistlib.FMT_XML:
                reference = plistlib.dumps(original, fmt=plistlib.FMT_XML, sort_keys=True)
                if data != reference:
                    at = next((i for i, (a, b) in enumerate(zip(data, reference)) if a != b),
                              min(len(data), len(reference)))
                    print("%s: XML differs from plistlib's at byte %d: %r vs %r" %
                          (name, at, data[max(0, at - 30):at + 30], reference[max(0, at - 30):at + 30]))
                    failures += 1
    print("checked %d cases, %d mismatches" % (count, failures))
    return 1 if failures else 0


def dump(path):
    try:
        with open(path, "rb") as source:
            print(ascii(plistlib.loads(source.read())))
    except Exception as error:
        print("ERROR %s" % type(error).__name__)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    generate = sub.add_parser("generate")
    generate.add_argument("--seed", type=int, required=True)
    generate.add_argument("--count", type=int, required=True)
    generate.add_argument("--dir", required=True)
    check = sub.add_parser("check")
    check.add_argument("--dir", required=True)
    check.add_argument("--count", type=int, required=True)
    dumper = sub.add_parser("dump")
    dumper.add_argument("--file", required=True)
    args = parser.parse_args()
    if args.command == "generate":
        write_cases(args.seed, args.count, args.dir)
        return 0
    if args.command == "check":
        return check_cases(args.dir, args.count)
    dump(args.file)
    return 0


if __name__ == "__main__":
    sys.exit(main())
