#!/usr/bin/env python3
"""Python's plistlib as an independent peer: `write DIR` (the sample of tests/plist_sample.h
as DIR/sample.xml and .bplist), `check FILE`, `client SOCKET NAME` (prints the reply as JSON),
`server SOCKET` (echoes name and userInfo back; no reply for "silent")."""
import datetime
import json
import os
import plistlib
import socket
import struct
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


def send_frame(sock, root):
    payload = plistlib.dumps(root, fmt=plistlib.FMT_BINARY, sort_keys=False)
    sock.sendall(struct.pack(">I", len(payload)) + payload)


def recv_exact(sock, size):
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def recv_frame(sock):
    header = recv_exact(sock, 4)
    return None if header is None else plistlib.loads(recv_exact(sock, struct.unpack(">I", header)[0]))


def serve(path):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as listener:
        listener.bind(path)
        listener.listen(1)
        print("ready", flush=True)
        conn, _ = listener.accept()
        with conn:
            while (request := recv_frame(conn)) is not None:
                if request["name"] == "silent":
                    send_frame(conn, {})
                    continue
                reply = {"name": request["name"], "hasUserInfo": "userInfo" in request}
                if "userInfo" in request:
                    reply["userInfo"] = request["userInfo"]
                send_frame(conn, {"reply": reply})
    os.unlink(path)


def main(command, path, *rest):
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
    elif command == "client":
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as sock:
            sock.connect(path)
            send_frame(sock, {"name": rest[0], "userInfo": {"Label": "a.b", "isStart": True, "flag": 0}})
            print(json.dumps(recv_frame(sock), sort_keys=True))
    else:
        serve(path)
    return 0


sys.exit(main(*sys.argv[1:]))
