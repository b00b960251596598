#!/usr/bin/env python3
"""The demo bank: its pages, check document and component installers over HTTP and HTTPS on
loopback, built on the network tests' server (tests/fixtures/net/test_server.py).

    bank_server.py --dir DIR --root FOLDER [--root FOLDER ...] [--host 127.0.0.1]

DIR holds the TLS material that tests/fixtures/net/servers.sh makes (leaf.pem/leaf.key, for the
name "localhost", signed by DIR/root.pem). A request's path is looked up in each --root in turn (the
bank's own files first, then the installers the build made); a folder answers with its index.html.
Once both servers listen, DIR/state.txt holds "http_port=N", "https_port=N", "log=PATH" and "pid=N".
Every request is appended to DIR/requests.log as test_server.py describes.

Check documents (*.xml) are templates, filled in each time they are served:

    {{http_port}}  {{https_port}}           the servers' ports
    {{md5 PATH}} {{sha1 PATH}} {{sha256 PATH}}
                                            the digest of the file served at PATH, taken relative
                                            to the document's folder
    {{version PATH}}                        the file version (a.b.c.d) of the Windows program
                                            served at PATH, from its version resource

A placeholder that cannot be filled (an unknown name, a file that is not served) answers the
document's request with 500 and the reason, also printed on standard error: the bank never hands
out a document with a hole in it. Comments are served as written.
"""

import argparse
import hashlib
import os
import posixpath
import re
import shutil
import struct
import sys
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures", "net"))
import test_server  # noqa: E402

PLACEHOLDER = re.compile(r"\{\{\s*([a-z0-9_]+)(?:\s+([^\s{}]+))?\s*\}\}")
COMMENT = re.compile(r"(<!--.*?-->)", re.DOTALL)
DIGESTS = {"md5", "sha1", "sha256"}
FILE_ARGUMENTS = DIGESTS | {"version"}
# VS_FIXEDFILEINFO begins with this signature; the file version's four parts follow the
# structure's version field.
FIXED_FILE_INFO_SIGNATURE = struct.pack("<I", 0xFEEF04BD)


class TemplateError(Exception):
    pass


class BankHandler(test_server.Handler):
    server_version = "VelmoraDemoBank"

    def respond(self, parts):
        url_path = posixpath.normpath("/" + "/".join(urllib.parse.unquote(p) for p in parts if p))
        path = self.server.bank.find(url_path)
        if path is None:
            return self._send(404, b"not found", [("Content-Type", "text/plain")])
        if path.endswith(".xml"):
            try:
                body = self.server.bank.fill(url_path, path)
            except TemplateError as error:
                message = f"{url_path}: {error}"
                print(message, file=sys.stderr, flush=True)
                return self._send(500, message.encode("utf-8"), [("Content-Type", "text/plain; charset=utf-8")])
            return self._send(200, body, [("Content-Type", "text/xml; charset=utf-8")])
        self.send_response(200)
        self.send_header("Content-Length", str(os.path.getsize(path)))
        self.send_header("Content-Type", content_type(path))
        self.end_headers()
        if self.command != "HEAD":
            with open(path, "rb") as source:
                shutil.copyfileobj(source, self.wfile, 1 << 20)


def content_type(path):
    return {".html": "text/html; charset=utf-8", ".js": "application/javascript; charset=utf-8",
            ".exe": "application/octet-stream"}.get(os.path.splitext(path)[1], "application/octet-stream")


class Bank:
    """What the bank serves: URL paths over the root folders, and the filled-in templates."""

    def __init__(self, roots):
        self.roots = [os.path.abspath(root) for root in roots]
        self.ports = {}

    def find(self, url_path):
        """The file served at an absolute, normalised URL path; None when there is none."""
        segments = [s for s in url_path.split("/") if s]
        if any(s in (".", "..") or "\\" in s for s in segments):
            return None
        for root in self.roots:
            candidate = os.path.join(root, *segments)
            if os.path.isdir(candidate):
                candidate = os.path.join(candidate, "index.html")
            if os.path.isfile(candidate):
                return candidate
        return None

    def fill(self, url_path, path):
        with open(path, encoding="utf-8") as source:
            text = source.read()
        folder = posixpath.dirname(url_path)
        # Comments stay as written: they explain the placeholders.
        pieces = COMMENT.split(text)
        for i in range(0, len(pieces), 2):
            pieces[i] = PLACEHOLDER.sub(lambda match: self.value(folder, *match.groups()), pieces[i])
        return "".join(pieces).encode("utf-8")

    def value(self, folder, name, argument):
        if name in self.ports and argument is None:
            return str(self.ports[name])
        if name in FILE_ARGUMENTS and argument:
            target = self.find(posixpath.normpath(posixpath.join(folder, argument)))
            if target is None:
                raise TemplateError(f"{{{{{name} {argument}}}}}: no such file is served")
            if name == "version":
                version = file_version(target)
                if version is None:
                    raise TemplateError(f"{{{{version {argument}}}}}: the file has no version resource")
                return version
            return file_digest(target, name)
        raise TemplateError(f"unknown placeholder {{{{{name}{' ' + argument if argument else ''}}}}}")


def file_digest(path, kind):
    digest = hashlib.new(kind)
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def file_version(path):
    """"a.b.c.d" of a program's version resource (the first fixed file information in the file);
    None when there is none."""
    with open(path, "rb") as source:
        data = source.read()
    at = data.find(FIXED_FILE_INFO_SIGNATURE)
    if at < 0 or at + 16 > len(data):
        return None
    most, least = struct.unpack_from("<II", data, at + 8)
    return f"{most >> 16}.{most & 0xFFFF}.{least >> 16}.{least & 0xFFFF}"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--root", action="append", required=True)
    parser.add_argument("--host", default="127.0.0.1")
    options = parser.parse_args()
    missing = [root for root in options.root if not os.path.isdir(root)]
    if missing:
        parser.error("no such folder: " + ", ".join(missing))

    bank = Bank(options.root)
    log = os.path.join(options.dir, "requests.log")
    plain = test_server.make_server(options.host, log, handler=BankHandler)
    secure = test_server.make_server(options.host, log, test_server.tls_context(options.dir, "leaf"),
                                     handler=BankHandler)
    bank.ports = {"http_port": plain.server_address[1], "https_port": secure.server_address[1]}
    plain.bank = secure.bank = bank
    test_server.write_state(options.dir, [*bank.ports.items(), ("log", log), ("pid", os.getpid())])
    test_server.serve_until_stopped()
    return 0


if __name__ == "__main__":
    sys.exit(main())
