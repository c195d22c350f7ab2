#!/usr/bin/env python3
"""Python's plistlib as an independent peer: `write DIR` (the sample of tests/plist_sample.h
as DIR/sample.xml and .bplist) and `check FILE`."""
import datetime
import plistlib
import sys


def sample():
    return {
        "string": "hello <&> world", "empty": "", "unicode": "h\u00e9llo \u2713 \U0001F600",
        "int": 42, "negative": -1, "int64_min": -2**63, "int64_max": 2**63 - 1,
        "uint64_max": 2**64 - 1, "wide": 1 << 40, "real": 3.25, "tiny": -1e-300,
        "date": datetime.datetime(2020, 2, 29, 12, 34, 56), "data": bytes(range(256)),
        "no_data": b"", "yes": True, "no": False, "array": [1, "two", [], {}],
        "nested": {"b": {"a": [{"c": 1}]}},
    }


def same(a, b):
    """Equality that also compares key order and tells booleans from integers."""
    if type(a) is not type(b):
        return False
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    return a == b


def main(command, path):
    if command == "write":
        for name, fmt in (("sample.xml", plistlib.FMT_XML), ("sample.bplist", plistlib.FMT_BINARY)):
            with open(f"{path}/{name}", "wb") as f:
                plistlib.dump(sample(), f, fmt=fmt, sort_keys=False)
    elif command == "check":
        with open(path, "rb") as f:
            got = plistlib.load(f)
        if not same(got, sample()):
            print(repr(got))
            return 1
    return 0


sys.exit(main(*sys.argv[1:]))
