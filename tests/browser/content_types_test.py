#!/usr/bin/env python3
"""Today's content types through both real browsers.

Serves WebP, AVIF and SVG pictures (large and small ones, and an SVG that
states no size), an MP4 and a WebM clip (tests/data/media), JSON and a WOFF2
font from a server on 127.0.0.1, loads the page in Debian's firefox-esr and
chromium, headless, each with HOME and XDG_* in a temporary folder, then
checks that
  * `harvix-cli list BROWSER` gives each resource the code of its type;
  * `harvix-cli comb BROWSER` with a "pictures of at least 100 x 100" item
    above a catch-all keeps exactly the pictures large enough (and the SVG
    without a size) in the pictures folder, everything else in the other,
    each byte for byte and under its own type's extension;
  * `harvix-cli export BROWSER --warc` archives every resource: each
    record's block and payload digests hold, each body is the one served,
    and warcio (from the npm registry; not checked without node, while a
    failed install fails) lists every record with the same payload digests;
  * `harvix-cli save BROWSER ... --site-tree` puts each resource at its
    URL's path with the bytes served.
The pictures are written by harvix-mkcache (libwebp, libavif), the font by
woff2_compress from a font of fonts-dejavu-core.
Usage: content_types_test.py HARVIX_CLI HARVIX_MKCACHE
Exit 77 (skipped) when a browser or a tool is missing.
"""
import base64
import gzip
import hashlib
import http.server
import json
import os
import shutil
import subprocess
import sys
import tempfile

from browserlib import browser_env, run_quietly, screenshot_command, serve

HERE = os.path.dirname(os.path.abspath(__file__))
MEDIA = os.path.join(HERE, "..", "data", "media")
FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"

# path: (Content-Type, code, kept by the pictures item)
RESOURCES = {
    "/big.webp": ("image/webp", 19, True),
    "/small.webp": ("image/webp", 19, False),
    "/big.avif": ("image/avif", 20, True),
    "/small.avif": ("image/avif", 20, False),
    "/big.svg": ("image/svg+xml", 21, True),
    "/small.svg": ("image/svg+xml", 21, False),
    "/free.svg": ("image/svg+xml", 21, True),  # states no size: drawn at any size
    "/wide.png": ("image/png", 3, False),      # 120 x 80: too low
    "/clip.mp4": ("video/mp4", 22, False),
    "/clip.webm": ("video/webm", 23, False),
    "/data.json": ("application/json", 24, False),
    "/font.woff2": ("font/woff2", 25, False),
    "/index.html": ("text/html", 8, False),
}
EXTENSIONS = {19: "webp", 20: "avif", 21: "svg", 3: "png", 22: "mp4", 23: "webm", 24: "json",
              25: "woff2", 8: "html"}


def make_site(mkcache, work):
    def picture(kind, width, height):
        path = os.path.join(work, "picture")
        subprocess.run([mkcache, "--picture", kind, str(width), str(height), path], check=True,
                       stdout=subprocess.DEVNULL)
        return open(path, "rb").read()

    subprocess.run(["woff2_compress", shutil.copy(FONT, os.path.join(work, "font.ttf"))],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    bodies = {
        "/big.webp": picture("webp", 300, 200),
        "/small.webp": picture("webp", 50, 40),
        "/big.avif": picture("avif", 300, 200),
        "/small.avif": picture("avif", 50, 40),
        "/big.svg": picture("svg", 300, 200),
        "/small.svg": picture("svg", 50, 40),
        "/free.svg": b"<svg xmlns='http://www.w3.org/2000/svg'><circle r='9' cx='9' cy='9'/></svg>\n",
        "/wide.png": picture("png", 120, 80),
        "/clip.mp4": open(os.path.join(MEDIA, "clip.mp4"), "rb").read(),
        "/clip.webm": open(os.path.join(MEDIA, "clip.webm"), "rb").read(),
        "/data.json": json.dumps({"harvix": [1, 2, 3], "kind": "test"}).encode() + b"\n",
        "/font.woff2": open(os.path.join(work, "font.woff2"), "rb").read(),
    }
    # The clips, the data and the font come by synchronous requests, so that
    # they are in the cache before the page has loaded (a video element asks
    # for ranges, which no browser keeps as a whole entry).
    fetched = "".join("<script>var r=new XMLHttpRequest();r.open('GET','%s',false);r.send();</script>"
                      % path for path in ("/clip.mp4", "/clip.webm", "/data.json", "/font.woff2"))
    pictures = "".join("<img src=%s>" % path for path in RESOURCES if path.startswith("/")
                       and RESOURCES[path][0].startswith("image/"))
    bodies["/index.html"] = ("<!doctype html><html><head><title>types</title>%s</head><body>%s"
                             "</body></html>" % (fetched, pictures)).encode()
    return bodies


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    bodies = {}

    def do_GET(self):
        path = self.path.split("?")[0]
        body = self.bodies.get(path)
        if body is None:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.send_header("Content-Type", RESOURCES[path][0])
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "max-age=86400")
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def check_browser(word, cli, bodies, base, home):
    failures = []
    env = browser_env(home)
    run_quietly(screenshot_command(word, env, base + "/index.html"), env)

    listing = subprocess.run([cli, "list", word], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, timeout=60)
    if listing.returncode != 0:
        return ["list failed: " + listing.stderr]
    codes = {fields[5]: int(fields[1]) for fields in (line.split("\t") for line in listing.stdout.splitlines())}
    for path, (kind, code, _) in RESOURCES.items():
        if codes.get(base + path) != code:
            failures.append("%s (%s) listed with code %s, not %d" % (path, kind, codes.get(base + path), code))

    pictures_dir = os.path.join(home, "pictures")
    rest_dir = os.path.join(home, "rest")
    filter_file = os.path.join(home, "types.flt")
    with open(filter_file, "w") as f:
        f.write("[GENERAL]\nHarvixFilter=1\n\n"
                "[FILTER_0]\nContentType=30\nDisabled=0\nMinSize=0\nURL=127.0.0.1\nMinWeidth=100\n"
                "MinHeight=100\nDirectory=%s\nFileNameDummy=picture\n\n"
                "[FILTER_1]\nContentType=0\nDisabled=0\nMinSize=0\nURL=127.0.0.1\nMinWeidth=0\n"
                "MinHeight=0\nDirectory=%s\nFileNameDummy=file\n" % (pictures_dir, rest_dir))
    comb = subprocess.run([cli, "comb", word, "--filter", filter_file, "--one-copy", "--no-skip-duplicates"],
                          env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    if comb.returncode != 0:
        return failures + ["comb failed: " + comb.stderr]
    kept = {}  # bytes -> (folder, extension)
    for path in comb.stdout.splitlines():
        kept.setdefault(open(path, "rb").read(), []).append(
            (os.path.dirname(path), os.path.splitext(path)[1][1:]))
    for path, (kind, code, picture) in RESOURCES.items():
        want = (pictures_dir if picture else rest_dir, EXTENSIONS[code])
        if kept.get(bodies[path]) != [want]:
            failures.append("%s kept as %s, not once as %s" % (path, kept.get(bodies[path]), want))
    if len(os.listdir(pictures_dir)) != sum(1 for r in RESOURCES.values() if r[2]):
        failures.append("pictures folder holds %s" % sorted(os.listdir(pictures_dir)))
    print("%s: listed %d entries, kept %d files" % (word, len(codes), len(comb.stdout.splitlines())))
    return failures


def sha1_b32(data):
    return "sha1:" + base64.b32encode(hashlib.sha1(data).digest()).decode()


def warc_records(path):
    """The records of a WARC file (one gzip member each, or plain) as (headers, block)."""
    data = open(path, "rb").read()
    if path.endswith(".gz"):
        data = gzip.decompress(data)
    records = []
    at = 0
    while at < len(data):
        end = data.index(b"\r\n\r\n", at)
        lines = data[at:end].decode("utf-8").split("\r\n")
        headers = dict(line.split(": ", 1) for line in lines[1:])
        length = int(headers["Content-Length"])
        records.append((headers, data[end + 4:end + 4 + length]))
        at = end + 4 + length + 4  # the block, then CR LF CR LF
    return records


warcio_bin = None


def warcio_digests(work, archive):
    """The payload digests warcio's cdx-index gives, by URL; None without node.

    Raises RuntimeError, saying why, when node is there but warcio cannot be
    installed (no npm, or npm install fails) or cannot read the archive.
    """
    global warcio_bin
    if shutil.which("node") is None:
        return None
    if warcio_bin is None:
        if shutil.which("npm") is None:
            raise RuntimeError("node is installed but npm is not: warcio cannot be installed")
        try:
            subprocess.run(["npm", "install", "--no-audit", "--no-fund", "--loglevel=error", "--prefix",
                            os.path.join(work, "npm"), "warcio@2"], check=True, timeout=300,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        except subprocess.TimeoutExpired:
            raise RuntimeError("'npm install warcio@2' took over 300 s") from None
        except subprocess.CalledProcessError as failed:
            raise RuntimeError("'npm install warcio@2' failed (the npm registry must be "
                               "reachable): " + failed.stdout[-2000:]) from None
        warcio_bin = os.path.join(work, "npm", "node_modules", ".bin", "warcio")
    cdx = subprocess.run([warcio_bin, "cdx-index", archive], stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True, timeout=120)
    if cdx.returncode != 0:
        raise RuntimeError("warcio cdx-index cannot read the archive: " + cdx.stderr[-2000:])
    digests = {}
    for line in cdx.stdout.splitlines():
        fields = json.loads(line[line.index("{"):])
        digests[fields["url"]] = (fields["digest"], fields["status"])
    return digests


def check_archive(word, cli, bodies, base, home, env, work):
    failures = []
    archive = os.path.join(home, "cache.warc.gz")
    export = subprocess.run([cli, "export", word, "--warc", archive], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, timeout=120)
    if export.returncode != 0:
        return ["export failed: " + export.stderr]
    served = {}  # URL -> body, as archived
    for headers, block in warc_records(archive):
        if headers["WARC-Type"] != "response":
            continue
        url = headers["WARC-Target-URI"]
        if headers["WARC-Block-Digest"] != sha1_b32(block):
            failures.append("%s: block digest does not hold" % url)
        payload = block[block.index(b"\r\n\r\n") + 4:]
        if headers["WARC-Payload-Digest"] != sha1_b32(payload):
            failures.append("%s: payload digest does not hold" % url)
        served[url] = payload
    for path in RESOURCES:
        if served.get(base + path) != bodies[path]:
            failures.append("%s: not archived with the body served" % path)
    digests = None
    try:
        digests = warcio_digests(work, archive)
        if digests is None:
            print("%s: no node: the archive was not read with warcio" % word)
    except RuntimeError as problem:
        failures.append("%s: %s" % (word, problem))
    if digests is not None:
        for path in RESOURCES:
            got = digests.get(base + path)
            want = (sha1_b32(bodies[path]).split(":")[1], "200")
            if got is None or (got[0].split(":")[-1], got[1]) != want:
                failures.append("%s: warcio gives %s, not %s" % (path, got, want))

    # The site tree: each resource at its URL's path, as served.
    listing = subprocess.run([cli, "list", word], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True, timeout=60, check=True).stdout
    indexes = [line.split("\t")[0] for line in listing.splitlines()
               if line.split("\t")[5].startswith(base + "/")]
    tree = os.path.join(home, "site")
    save = subprocess.run([cli, "save", word] + indexes + ["--to", tree, "--site-tree"], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    if save.returncode != 0:
        return failures + ["save --site-tree failed: " + save.stderr]
    host = base.split("//")[1].replace(":", "_")
    for path in RESOURCES:
        place = os.path.join(tree, host, path.lstrip("/"))
        if not os.path.isfile(place) or open(place, "rb").read() != bodies[path]:
            failures.append("%s: not saved at %s" % (path, place))
    print("%s: archived %d responses, site tree of %d files" % (word, len(served), len(indexes)))
    return failures


def main():
    cli, mkcache = sys.argv[1], sys.argv[2]
    missing = [tool for tool in ("firefox-esr", "chromium", "woff2_compress") if shutil.which(tool) is None]
    if missing or not os.path.isfile(FONT):
        print("missing (scripts/deps installs them):", " ".join(missing) or FONT)
        return 77
    failures = []
    with tempfile.TemporaryDirectory(prefix="harvix-types-") as work:
        bodies = make_site(mkcache, work)
        Handler.bodies = bodies
        server, base = serve(Handler)
        try:
            for word in ("mozilla", "chromium"):
                home = os.path.join(work, word)
                os.makedirs(home)
                failures += ["%s: %s" % (word, failure) for failure in check_browser(word, cli, bodies, base, home)]
                failures += ["%s: %s" % (word, failure)
                             for failure in check_archive(word, cli, bodies, base, home, browser_env(home), work)]
        finally:
            server.shutdown()
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("PASS: both browsers' caches kept every type under its own extension, archived "
              "and saved at their URLs' paths")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
