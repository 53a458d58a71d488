#!/usr/bin/env python3
"""Loopback update server for tests: serves a release folder and injects
faults per path, logging every request it gets.

Rules file, one rule per line ("#" starts a comment):
    <path> status <code>          answer with that status; the body is the file
                                  (or a short HTML page when there is none)
    <path> cut <bytes>            announce the whole body, send only <bytes>,
                                  then close normally
    <path> reset <bytes>          send <bytes> of the body, then reset the
                                  connection (a read failure for the client)
    <path> extra <bytes>          send <bytes> more than Content-Length announces
    <path> pad <bytes>            append <bytes> of 0x5A to the body (announced)
    <path> slow <ms>              send the body in 1 KiB pieces, <ms> apart
    <path> trickle <n>            send the body <n> bytes a second, one byte at a
                                  time: never silent long, never done soon
    <path> sized <bytes>          serve <bytes> of generated data (no file needed)
    <path> then-live <serial>     once <path> (a file in a Door folder of a
                                  ruvo-pack server folder) is read, that Door link
                                  points to ../releases/<serial>/Door (six digits),
                                  swapped as a publish swaps it: another release is
                                  live for the next request
Several rules may name the same path; they combine.

Log: one line per request, tab-separated: method, path, User-Agent, every
Accept header joined by " | ", and Pragma ("-" for a header not sent), as
tools/update-server/nginx-serve.sh logs them.
"""
import argparse
import http.server
import os
import socket
import socketserver
import struct
import sys
import threading
import time
import urllib.parse


def load_rules(path):
    rules = {}
    if not path:
        return rules
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            url, fault, value = line.split()
            rules.setdefault(url, {})[fault] = int(value)
    return rules


# Byte i is (7i + i/256) mod 256: a pattern that repeats every 64 KiB, built
# once so that a 16 MiB body costs a copy, not a Python loop per byte.
GENERATED_PERIOD = bytes((i * 7 + (i >> 8)) & 0xFF for i in range(65536))


SWAP_LOCK = threading.Lock()


def make_live(door, serial):
    """Points the link `door` at release `serial`, in one rename, as ruvo-pack does."""
    target = "../releases/%06d/Door" % serial
    with SWAP_LOCK:
        if os.readlink(door) == target:
            return
        swap = door + ".swap"
        if os.path.lexists(swap):
            os.unlink(swap)
        os.symlink(target, swap)
        os.replace(swap, door)


def generated_body(size):
    whole, rest = divmod(size, len(GENERATED_PERIOD))
    return GENERATED_PERIOD * whole + GENERATED_PERIOD[:rest]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "RuvoTestServer/1"

    def log_message(self, fmt, *args):
        pass

    def record(self):
        accepts = " | ".join(self.headers.get_all("Accept") or [])
        fields = [self.command, self.path, self.headers.get("User-Agent", "-"), accepts or "-",
                  self.headers.get("Pragma", "-")]
        line = "\t".join(fields)
        with open(self.server.log_path, "a", encoding="utf-8") as log:
            log.write(line + "\n")

    def do_GET(self):
        self.record()
        path = urllib.parse.urlsplit(self.path).path
        rules = self.server.rules.get(path, {})
        status = rules.get("status", 200)
        body = None
        if "sized" in rules:
            body = generated_body(rules["sized"])
        else:
            local = os.path.join(self.server.root, urllib.parse.unquote(path).lstrip("/"))
            if ".." in local.split(os.sep):
                local = None
            if local and os.path.isfile(local):
                with open(local, "rb") as f:
                    body = f.read()
            # Swapped once the body is read and before it is sent, so the
            # client's next request already meets the other release.
            if local and "then-live" in rules:
                make_live(os.path.dirname(local), rules["then-live"])
        if body is None:
            if "status" not in rules:
                status = 404
            body = b"<html><body><h1>%d</h1></body></html>\n" % status
        body += b"\x5a" * rules.get("pad", 0)

        announced = len(body)
        if "extra" in rules:
            body += b"\xa5" * rules["extra"]
        if "cut" in rules or "reset" in rules:
            body = body[: rules.get("cut", rules.get("reset"))]

        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(announced))
        self.send_header("Connection", "close")
        self.end_headers()
        try:
            if "trickle" in rules:
                for i in range(len(body)):
                    self.wfile.write(body[i : i + 1])
                    self.wfile.flush()
                    time.sleep(1.0 / rules["trickle"])
            elif "slow" in rules:
                for i in range(0, len(body), 1024):
                    self.wfile.write(body[i : i + 1024])
                    self.wfile.flush()
                    time.sleep(rules["slow"] / 1000.0)
            else:
                self.wfile.write(body)
            self.wfile.flush()
            if "reset" in rules:
                # Let the client drain what was sent and block for more, then
                # reset: linger 0 makes close send RST instead of FIN.
                time.sleep(0.3)
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                self.server.reset_requests.add(id(self.connection))
        except (BrokenPipeError, ConnectionResetError):
            pass
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    reset_requests = set()

    def shutdown_request(self, request):
        # A reset connection must not send FIN first: close it at once.
        if id(request) in self.reset_requests:
            self.reset_requests.discard(id(request))
            self.close_request(request)
        else:
            super().shutdown_request(request)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder served (holds BRELM/...)")
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=80)
    parser.add_argument("--rules", help="fault rules file")
    parser.add_argument("--log", required=True, help="request log file (appended)")
    parser.add_argument("--max-seconds", type=float, default=1800, help="stop by itself after this long")
    args = parser.parse_args()
    if not args.bind.startswith("127.") and args.bind != "::1":
        sys.exit("the test server only listens on loopback")

    server = Server((args.bind, args.port), Handler)
    server.root = args.root
    server.rules = load_rules(args.rules)
    server.log_path = args.log
    server.timeout = 0.5
    print("READY %s:%d" % (args.bind, server.server_address[1]), flush=True)
    deadline = time.monotonic() + args.max_seconds
    while time.monotonic() < deadline:
        server.handle_request()


if __name__ == "__main__":
    main()
