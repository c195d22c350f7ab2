#!/usr/bin/env python3
"""An independent messaging-center peer built on Python's plistlib.

  plist_peer.py client SOCKET NAME   send one request to SOCKET, print the reply root as JSON
  plist_peer.py server SOCKET        answer every request of one connection with
                                     {"reply": {"name": ..., "hasUserInfo": ..., "userInfo": ...}},
                                     or no reply for the message "silent"; prints "ready" once
                                     listening
"""
import json
import os
import plistlib
import socket
import struct
import sys


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
    if header is None:
        return None
    return plistlib.loads(recv_exact(sock, struct.unpack(">I", header)[0]))


def run_client(path, name):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as sock:
        sock.connect(path)
        send_frame(sock, {"name": name,
                          "userInfo": {"Label": "a.b", "isStart": True, "flag": 0}})
        print(json.dumps(recv_frame(sock), sort_keys=True))


def run_server(path):
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


if __name__ == "__main__":
    if sys.argv[1] == "client":
        run_client(sys.argv[2], sys.argv[3])
    else:
        run_server(sys.argv[2])
