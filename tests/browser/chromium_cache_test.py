#!/usr/bin/env python3
"""Headless Chromium against a loopback site, then Harvix on what it cached.

Serves pictures (PNG, JPEG, GIF; one over 2 MB), HTML, CSS, a gzip- and a
br-encoded script, a redirect and a 404 from a server on 127.0.0.1, loads the
page in Debian's chromium with HOME and XDG_* in a temporary folder, then
checks that
  * `harvix-cli list chromium` (discovery, no --cache) lists every cached
    resource with its stored size, and nothing that was not a 200;
  * each entry's last use comes from the cache's index, written as Chromium
    closed, within the run;
  * it does so too for a profile run with the split cache switched off
    (keys "1/0/<url>", as Chromium-based apps and older profiles have them);
  * `harvix-cli comb chromium` keeps files byte-identical to what was served,
    decoded;
  * the block-file reader reads the GPU cache Chromium wrote in the same kind
    of run: the entries the index counts, reached through the hash table, are
    the entries its rankings list names, with the same keys and stream sizes.
Usage: chromium_cache_test.py HARVIX_CLI HARVIX_MKCHROMECACHE
"""
import csv
import gzip
import io
import http.server
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

from browserlib import browser_env, chromium_command, run_quietly, serve


def png(width, height, seed, stored=False):
    rng = random.Random(seed)
    raw = b"".join(b"\0" + bytes(rng.getrandbits(8) for _ in range(width * 3)) for _ in range(height))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 0 if stored else 6)) + chunk(b"IEND", b""))


def gif(width, height):
    return (b"GIF89a" + struct.pack("<HH", width, height) + b"\x80\x00\x00" + b"\xff\x00\x00\x00\x00\xff"
            + b"\x2c\x00\x00\x00\x00" + struct.pack("<HH", width, height) + b"\x00\x02\x02\x44\x01\x00\x3b")


def jpeg(width, height, padding):
    sof = b"\xff\xc0" + struct.pack(">HBHHB", 17, 8, height, width, 3) + b"\x01\x11\x00\x02\x11\x01\x03\x11\x01"
    return b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00" + sof + b"\x00" * padding + b"\xff\xd9"


def site():
    script = ("// app\n" + "var total = 0; for (var i = 0; i < 10; i++) { total += i; }\n" * 200).encode()
    brscript = ("// brotli\n" + "document.title = 'harvix ' + 42;\n" * 300).encode()
    br = subprocess.run(["brotli", "-c", "-q", "9"], input=brscript, stdout=subprocess.PIPE, check=True).stdout
    files = {
        "/small.png": ("image/png", png(32, 24, 1), None, None),
        "/big.png": ("image/png", png(900, 800, 2, stored=True), None, None),  # over 2 MB
        "/photo.jpg": ("image/jpeg", jpeg(640, 480, 30000), None, None),
        "/anim.gif": ("image/gif", gif(16, 16), None, None),
        "/style.css": ("text/css", b"body { color: #123456; }\n" * 40, None, None),
        "/app.js": ("application/javascript", gzip.compress(script), "gzip", script),
        "/br.js": ("application/javascript", br, "br", brscript),
    }
    page = ("<!doctype html><html><head><title>t</title><link rel=stylesheet href=/style.css>"
            "<script src=/app.js></script><script src=/br.js></script></head><body>"
            "<img src=/small.png><img src=/big.png><img src=/photo.jpg><img src=/anim.gif>"
            "<img src=/moved.png><img src=/missing.png></body></html>").encode()
    files["/index.html"] = ("text/html", page, None, None)
    return files


class Handler(http.server.BaseHTTPRequestHandler):
    files = {}

    def do_GET(self):
        if self.path == "/moved.png":
            self.send_response(302)
            self.send_header("Location", "/small.png")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        found = self.files.get(self.path)
        if found is None:
            body = b"not here"
            self.send_response(404)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        kind, body, encoding, _ = found
        self.send_response(200)
        self.send_header("Content-Type", kind)
        if encoding:
            self.send_header("Content-Encoding", encoding)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "max-age=86400")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def run_chromium(env, url, extra):
    run_quietly(chromium_command(env, "--screenshot=" + os.path.join(env["HOME"], "shot.png"), *extra, url),
                env, timeout=120)


def rankings_keys(folder):
    """Keys and stream sizes through the rankings nodes (data_0), not the hash table."""
    data0 = open(os.path.join(folder, "data_0"), "rb").read()
    blockfiles = {}
    def block(addr):
        number = (addr >> 16) & 0xFF
        if number not in blockfiles:
            blockfiles[number] = open(os.path.join(folder, "data_%d" % number), "rb").read()
        size = {1: 36, 2: 256, 3: 1024, 4: 4096}[(addr >> 28) & 7]
        count = ((addr >> 24) & 3) + 1
        start = 8192 + (addr & 0xFFFF) * size
        return blockfiles[number][start:start + count * size]
    used = struct.unpack_from("<i", data0, 16)[0]
    found = {}
    for i in range(used):
        contents = struct.unpack_from("<I", data0, 8192 + 36 * i + 24)[0]
        if not contents & 0x80000000:
            continue
        store = block(contents)
        key_len = struct.unpack_from("<i", store, 32)[0]
        sizes = struct.unpack_from("<4i", store, 40)
        found[store[96:96 + key_len].hex()] = list(sizes)
    return found


def list_cache(cli, env, files, base, failures, label):
    """`harvix-cli list chromium` must name every served file with its size, and no other status."""
    listing = subprocess.run([cli, "list", "chromium"], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, timeout=60)
    if listing.returncode != 0:
        failures.append(label + ": list failed: " + listing.stderr)
    listed = {}
    for line in listing.stdout.splitlines():
        fields = line.split("\t")
        listed[fields[5]] = fields
    for path, (kind, body, encoding, _) in files.items():
        fields = listed.get(base + path)
        if fields is None:
            failures.append("%s: not listed: %s (%s)" % (label, path, listing.stderr.strip()))
            continue
        if int(fields[2]) != len(body):
            failures.append("%s: %s: size %s, served %d" % (label, path, fields[2], len(body)))
        if not fields[4].startswith("Default/Cache/Cache_Data/") or not fields[4].endswith("_0"):
            failures.append("%s: %s: data file %s" % (label, path, fields[4]))
    for url in listed:
        if url.endswith("/missing.png") or url.endswith("/moved.png") or url.endswith("favicon.ico"):
            failures.append(label + ": listed though not a 200: " + url)
    return listed


def check_last_use(cli, env, started, failures):
    """Chromium's index, written as it closed, gives every entry its last use."""
    listing = subprocess.run([cli, "list", "chromium", "--format", "csv"], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
    rows = list(csv.DictReader(io.StringIO(listing.stdout)))
    if not rows:
        failures.append("csv listing empty: " + listing.stderr)
    for row in rows:
        used = row["last_used"]
        if not used or not started - 2 <= int(used) <= time.time() + 2:
            failures.append("%s: last use %r, run started at %d" % (row["url"], used, started))


def main():
    cli, inspector = sys.argv[1], sys.argv[2]
    if shutil.which("chromium") is None or shutil.which("brotli") is None:
        print("chromium or brotli missing (scripts/deps installs them)")
        return 77
    files = site()
    Handler.files = files
    server, base = serve(Handler)
    failures = []
    with tempfile.TemporaryDirectory(prefix="harvix-chromium-") as home:
        env = browser_env(home)
        started = int(time.time())
        run_chromium(env, base + "/index.html", [])
        cache = os.path.join(env["XDG_CACHE_HOME"], "chromium", "Default", "Cache", "Cache_Data")
        if not os.path.isdir(cache):
            print("chromium wrote no cache at", cache)
            return 1
        listed = list_cache(cli, env, files, base, failures, "split cache")
        check_last_use(cli, env, started, failures)

        # The same site in a profile of its own with the split cache switched off.
        plain_env = browser_env(os.path.join(home, "plain"))
        run_chromium(plain_env, base + "/index.html",
                     ["--disable-gpu", "--disable-features=SplitCacheByNetworkIsolationKey"])
        plain = list_cache(cli, plain_env, files, base, failures, "split cache off")
        print("split cache off: listed %d entries" % len(plain))

        out = os.path.join(home, "kept")
        filter_file = os.path.join(home, "all.flt")
        with open(filter_file, "w") as f:
            f.write("[GENERAL]\nHarvixFilter=1\n\n[FILTER_0]\nContentType=0\nDisabled=0\nMinSize=0\nURL=\n"
                    "MinWeidth=0\nMinHeight=0\nDirectory=%s\nFileNameDummy=file\n" % out)
        comb = subprocess.run([cli, "comb", "chromium", "--filter", filter_file, "--no-one-copy",
                               "--no-skip-duplicates"], env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=120)
        if comb.returncode != 0:
            failures.append("comb failed: " + comb.stderr)
        kept = [open(p, "rb").read() for p in comb.stdout.splitlines() if p]
        for path, (kind, body, encoding, decoded) in files.items():
            want = decoded if decoded is not None else body
            if want not in kept:
                failures.append("no byte-identical kept file for " + path)

        # A block-file cache Chromium writes itself: the GPU cache of a run that draws with WebGL.
        gl_page = ("<canvas id=c width=64 height=64></canvas><script>var g=document.getElementById('c')"
                   ".getContext('webgl');var s=g.createShader(g.VERTEX_SHADER);g.shaderSource(s,'attribute vec2 p;"
                   "void main(){gl_Position=vec4(p,0.,1.);}');g.compileShader(s);var f=g.createShader("
                   "g.FRAGMENT_SHADER);g.shaderSource(f,'precision mediump float;void main(){gl_FragColor="
                   "vec4(1.,0.,0.,1.);}');g.compileShader(f);var q=g.createProgram();g.attachShader(q,s);"
                   "g.attachShader(q,f);g.linkProgram(q);g.useProgram(q);g.drawArrays(g.TRIANGLES,0,3);</script>")
        files["/gl.html"] = ("text/html", gl_page.encode(), None, None)
        run_chromium(env, base + "/gl.html", ["--use-angle=swiftshader", "--enable-unsafe-swiftshader"])
        gpu = os.path.join(env["XDG_CONFIG_HOME"], "chromium", "Default", "GPUCache")
        if not os.path.isfile(os.path.join(gpu, "index")):
            failures.append("chromium wrote no GPU cache")
        else:
            counted = struct.unpack_from("<i", open(os.path.join(gpu, "index"), "rb").read(), 8)[0]
            inspected = subprocess.run([inspector, "--inspect", gpu], stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, text=True, timeout=60)
            read = {}
            for line in inspected.stdout.splitlines():
                key, *sizes = line.split("\t")
                read[key] = [int(s) for s in sizes]
            if inspected.returncode != 0 or inspected.stderr:
                failures.append("block-file reader: " + inspected.stderr)
            if counted == 0 or len(read) != counted:
                failures.append("GPU cache: index counts %d entries, reader found %d" % (counted, len(read)))
            if read != rankings_keys(gpu):
                failures.append("GPU cache: hash-table walk and rankings list differ")
            print("GPU cache: %d entries read" % len(read))
        print("listed %d entries, kept %d files" % (len(listed), len(kept)))
    server.shutdown()
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
