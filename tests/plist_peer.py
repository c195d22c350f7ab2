"""Python's plistlib as an independent peer of our property-list codecs.

  plist_peer.py write DIR   writes the sample as DIR/sample.xml and DIR/sample.bplist
  plist_peer.py check FILE  exits 0 when FILE holds the sample, key order included

The sample is the one in tests/plist_sample.h.
"""
import datetime
import plistlib
import sys


def sample():
    return {
        "string": "hello <&> world",
        "empty": "",
        "unicode": "h\u00e9llo \u2713 \U0001F600",
        "int": 42,
        "negative": -1,
        "int64_min": -2**63,
        "int64_max": 2**63 - 1,
        "uint64_max": 2**64 - 1,
        "wide": 1 << 40,
        "real": 3.25,
        "tiny": -1e-300,
        "date": datetime.datetime(2020, 2, 29, 12, 34, 56),
        "data": bytes(range(256)),
        "no_data": b"",
        "yes": True,
        "no": False,
        "array": [1, "two", [], {}],
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


def main():
    command, path = sys.argv[1], sys.argv[2]
    if command == "write":
        for name, fmt in (("sample.xml", plistlib.FMT_XML), ("sample.bplist", plistlib.FMT_BINARY)):
            with open(f"{path}/{name}", "wb") as f:
                plistlib.dump(sample(), f, fmt=fmt, sort_keys=False)
        return 0
    with open(path, "rb") as f:
        got = plistlib.load(f)
    if same(got, sample()):
        return 0
    print(repr(got))
    return 1


sys.exit(main())
