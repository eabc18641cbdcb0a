#!/usr/bin/env python3
"""Service-worker caches (the Cache API) of both real browsers, then Harvix.

A loopback site on 127.0.0.1 (a secure context) registers a service worker
that puts pictures (PNG, one of several snappy chunks) and JSON (one sent
gzip-encoded) into two named caches, and one JSON response it makes itself.
The page holds its load event on an image the server sends only once the
worker is ready, so that the headless browser's screenshot run quits
cleanly after the caches are written. For Debian's chromium and
firefox-esr, each with HOME and XDG_* in a temporary folder:
  * `harvix-cli list BROWSER` lists every cached response of the store, its
    data file naming the store's own folder;
  * `harvix-cli comb BROWSER` keeps each of them byte-identical to what the
    page received (a gzip-encoded response decoded, Firefox's snappy framing
    undone);
  * Firefox's cache folder (caches.sqlite, its WAL, the morgue) has the same
    listing and bytes after the reading as before.
Usage: service_worker_caches_test.py HARVIX_CLI
"""
import gzip
import hashlib
import http.server
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import zlib

from browserlib import browser_env, run_quietly, screenshot_command, serve


def png(width, height, seed):
    rng = random.Random(seed)
    raw = b"".join(b"\0" + bytes(rng.getrandbits(8) for _ in range(width * 3)) for _ in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 0)) + chunk(b"IEND", b""))


FEED = json.dumps({"items": [{"id": i, "title": "item %d" % i} for i in range(400)]}).encode()
MADE = b'{"made": "by the worker"}'
WORKER = b"""
self.addEventListener('install', e => e.waitUntil((async () => {
  const pictures = await caches.open('pictures-v1');
  await pictures.addAll(['/small.png', '/big.png']);
  const feeds = await caches.open('feeds');
  await feeds.addAll(['/feed.json', '/feed-gz.json']);
  await feeds.put('/made.json', new Response('""" + MADE + b"""',
                  {headers: {'Content-Type': 'application/json'}}));
  self.skipWaiting();
})()));
self.addEventListener('activate', e => e.waitUntil(self.clients.claim()));
"""
PAGE = b"""<!doctype html><title>worker</title><script>
navigator.serviceWorker.register('/sw.js').then(() => navigator.serviceWorker.ready)
  .then(() => fetch('/ready?ok')).catch(e => fetch('/ready?' + encodeURIComponent(e)));
</script><img src="/hold.png">"""

# path -> (type, bytes sent, Content-Encoding, bytes the page receives)
SITE = {
    "/small.png": ("image/png", png(40, 30, 1), None),
    "/big.png": ("image/png", png(320, 240, 2), None),  # over 64 KiB: several snappy chunks
    "/feed.json": ("application/json", FEED, None),
    "/feed-gz.json": ("application/json", gzip.compress(FEED), "gzip"),
    "/sw.js": ("text/javascript", WORKER, None),
    "/index.html": ("text/html", PAGE, None),
}
STORED = {
    "/small.png": SITE["/small.png"][1],
    "/big.png": SITE["/big.png"][1],
    "/feed.json": FEED,
    "/feed-gz.json": FEED,
    "/made.json": MADE,
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    ready = threading.Event()

    def send(self, kind, body, encoding=None):
        self.send_response(200)
        self.send_header("Content-Type", kind)
        if encoding:
            self.send_header("Content-Encoding", encoding)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/ready":
            Handler.ready.set()
            return self.send("text/plain", b"ok")
        if path == "/hold.png":
            Handler.ready.wait(60)
            return self.send("image/png", SITE["/small.png"][1])
        if path not in SITE:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        kind, body, encoding = SITE[path]
        self.send(kind, body, encoding)

    def log_message(self, *args):
        pass


def run_browser(browser, env, url):
    Handler.ready.clear()
    run_quietly(screenshot_command(browser, env, url), env)
    return Handler.ready.is_set()


def snapshot(folder):
    """Every file below `folder` with its size and digest."""
    found = {}
    for top, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder)] = hashlib.sha256(f.read()).hexdigest()
    return found


def check_browser(cli, browser, base, home, failures):
    env = browser_env(home)
    if not run_browser(browser, env, base + "/index.html"):
        failures.append(browser + ": the service worker never became ready")
        return
    store_mark = "Service Worker/CacheStorage/" if browser == "chromium" else "/cache/morgue/"
    guarded = None
    if browser == "firefox":
        storage = os.path.join(env["XDG_CONFIG_HOME"], "mozilla", "firefox")
        caches = [top for top, _, names in os.walk(storage) if "caches.sqlite" in names]
        if not caches:
            failures.append("firefox: no caches.sqlite written")
            return
        guarded = caches[0]
        before = snapshot(guarded)

    listing = subprocess.run([cli, "list", browser], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, timeout=60)
    if listing.returncode != 0:
        failures.append("%s: list failed: %s" % (browser, listing.stderr))
    stored = {}
    for line in listing.stdout.splitlines():
        fields = line.split("\t")
        if store_mark in fields[4]:
            stored[fields[5][len(base):]] = fields
    for path in STORED:
        if path not in stored:
            failures.append("%s: %s not listed from the store (%s)" % (browser, path, listing.stderr.strip()))
    for path in stored:
        if path not in STORED:
            failures.append("%s: listed from the store though never put there: %s" % (browser, path))

    out = os.path.join(home, "kept")
    filter_file = os.path.join(home, "all.flt")
    with open(filter_file, "w") as f:
        f.write("[GENERAL]\nHarvixFilter=1\n\n[FILTER_0]\nContentType=0\nDisabled=0\nMinSize=0\nURL=\n"
                "MinWeidth=0\nMinHeight=0\nDirectory=%s\nFileNameDummy=file\n" % out)
    comb = subprocess.run([cli, "comb", browser, "--filter", filter_file, "--no-one-copy",
                           "--no-skip-duplicates"], env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True, timeout=120)
    if comb.returncode != 0:
        failures.append("%s: comb failed: %s" % (browser, comb.stderr))
    kept = [p for p in comb.stdout.splitlines() if p]
    # One kept file per listed entry, in order: the store's are those of its rows.
    rows = listing.stdout.splitlines()
    if len(kept) != len(rows):
        failures.append("%s: %d entries listed, %d kept" % (browser, len(rows), len(kept)))
    else:
        for row, path in zip(rows, kept):
            fields = row.split("\t")
            want = STORED.get(fields[5][len(base):]) if store_mark in fields[4] else None
            if want is not None and open(path, "rb").read() != want:
                failures.append("%s: kept %s differs from what the page received" % (browser, fields[5]))
    if guarded is not None and snapshot(guarded) != before:
        failures.append("firefox: the cache folder changed while it was read")
    print("%s: %d listed from the store, %d kept in all" % (browser, len(stored), len(kept)))


def main():
    cli = sys.argv[1]
    browsers = [b for b in ("chromium", "firefox") if shutil.which(b if b == "chromium" else "firefox-esr")]
    if not browsers:
        print("neither chromium nor firefox-esr is installed (scripts/deps installs them)")
        return 77
    server, base = serve(Handler)
    failures = []
    with tempfile.TemporaryDirectory(prefix="harvix-sw-") as home:
        for browser in browsers:
            check_browser(cli, browser, base, os.path.join(home, browser), failures)
    server.shutdown()
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
