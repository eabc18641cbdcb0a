#!/usr/bin/env bash
# Real-browser test of the cache2 reader: Debian's firefox-esr, headless, in a
# throw-away home, loads a page from a loopback site this script serves
# (PNG, JPEG and GIF pictures of known sizes, one picture over 2 MB, HTML,
# CSS, a script sent gzip-encoded and one sent br-encoded, a redirect and a
# 404). Then harvix-cli must find the cache by discovery, list every resource
# served whole with status 200, and a comb that takes everything must keep
# files byte-identical to what was served, decoded.
#
# Usage: firefox_cache2.sh HARVIX_CLI HARVIX_MKCACHE
# Exit 77 (skipped) when firefox-esr or brotli is not installed.
set -euo pipefail

cli=$(realpath "$1")
mkcache=$(realpath "$2")
command -v firefox-esr >/dev/null || { echo "firefox-esr is not installed"; exit 77; }
command -v brotli >/dev/null || { echo "brotli is not installed"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/harvix-ff-XXXXXX")
server_pid=
cleanup() {
    if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache"
mkdir -p "$HOME" "$work/site" "$work/served" "$work/out"

# The site. served/ holds each resource as the browser should finally see it.
site="$work/site"
"$mkcache" --picture png 120 80 "$site/small.png"
"$mkcache" --picture jpeg 64 48 "$site/photo.jpg"
"$mkcache" --picture gif 33 21 "$site/anim.gif"
python3 - "$site" <<'PY'
import os, random, struct, sys, zlib
site = sys.argv[1]
# A PNG of noise, stored without compression: 1000 x 760 RGB, over 2 MB.
w, h = 1000, 760
rng = random.Random(11)
raw = b"".join(b"\0" + rng.randbytes(w * 3) for _ in range(h))
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(raw, 0)) + chunk(b"IEND", b""))
open(os.path.join(site, "big.png"), "wb").write(png)
open(os.path.join(site, "style.css"), "w").write(
    "body { background: #eee; }\n" + "".join(".c%d { color: #%06x; }\n" % (i, i * 977) for i in range(400)))
open(os.path.join(site, "app.js"), "w").write(
    "".join("var gzipped%d = %d;\n" % (i, i * i) for i in range(3000)))
open(os.path.join(site, "lib.js"), "w").write(
    "".join("function brotli%d() { return %d; }\n" % (i, i) for i in range(3000)))
open(os.path.join(site, "index.html"), "w").write("""<!DOCTYPE html>
<html><head><title>cache2</title>
<link rel="stylesheet" href="style.css">
<script src="app.js"></script><script src="lib.js"></script>
</head><body><h1>Harvix cache2 test</h1>
<img src="small.png"><img src="photo.jpg"><img src="anim.gif"><img src="big.png">
<img src="moved.png"><img src="missing.png">
</body></html>
""")
PY
gzip -9 -n -c "$site/app.js" > "$site/app.js.gz"
brotli -q 11 -c "$site/lib.js" > "$site/lib.js.br"
for f in index.html small.png photo.jpg anim.gif big.png style.css app.js lib.js; do
    cp "$site/$f" "$work/served/$f"
done

cat > "$work/server.py" <<'PY'
import http.server, os, socketserver, sys
site, port_file, log_file = sys.argv[1], sys.argv[2], sys.argv[3]
TYPES = {".html": "text/html", ".png": "image/png", ".jpg": "image/jpeg", ".gif": "image/gif",
         ".css": "text/css", ".js": "text/javascript"}
ENCODED = {"/app.js": ("app.js.gz", "gzip"), "/lib.js": ("lib.js.br", "br")}
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def log_message(self, fmt, *args):
        with open(log_file, "a") as log:
            log.write("%s %s\n" % (self.command, fmt % args))
    def send_body(self, status, body, kind, encoding=None):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "max-age=86400")
        if encoding:
            self.send_header("Content-Encoding", encoding)
        self.end_headers()
        self.wfile.write(body)
    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/favicon.ico" or path == "/missing.png":
            return self.send_body(404, b"not found", "text/plain")
        if path == "/moved.png":
            self.send_response(301)
            self.send_header("Location", "/small.png")
            self.send_header("Content-Length", "0")
            self.send_header("Cache-Control", "max-age=86400")
            self.end_headers()
            return
        if path in ENCODED:
            name, coding = ENCODED[path]
            accepted = self.headers.get("Accept-Encoding", "")
            if coding in [c.strip().split(";")[0] for c in accepted.split(",")]:
                with open(os.path.join(site, name), "rb") as f:
                    return self.send_body(200, f.read(), TYPES[".js"], coding)
        name = os.path.basename(path) or "index.html"
        full = os.path.join(site, name)
        if not os.path.isfile(full):
            return self.send_body(404, b"not found", "text/plain")
        with open(full, "rb") as f:
            self.send_body(200, f.read(), TYPES.get(os.path.splitext(name)[1], "application/octet-stream"))
class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
server = Server(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + ".tmp", port_file)
server.serve_forever()
PY
python3 "$work/server.py" "$site" "$work/port" "$work/requests.log" &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")
base="http://127.0.0.1:$port"

timeout 180 firefox-esr --headless --screenshot "$work/shot.png" "$base/index.html" \
    >"$work/firefox.log" 2>&1 || { cat "$work/firefox.log"; echo "firefox-esr failed"; exit 1; }

echo "requests served:"; sort "$work/requests.log" | uniq -c

fail=0
# Listing by discovery: every resource served whole with status 200.
"$cli" list mozilla >"$work/list.txt" 2>"$work/list.err" || { cat "$work/list.err"; exit 1; }
cat "$work/list.txt"
for f in index.html small.png photo.jpg anim.gif big.png style.css app.js lib.js; do
    if ! cut -f6 "$work/list.txt" | grep -qx "$base/$f"; then
        echo "FAIL: $base/$f is not listed"; fail=1
    fi
done
for f in moved.png missing.png; do
    if cut -f6 "$work/list.txt" | grep -qx "$base/$f"; then
        echo "FAIL: $base/$f is listed"; fail=1
    fi
done
# The data-file column names the entry file, 40 hexadecimal digits.
if cut -f5 "$work/list.txt" | grep -qvE '^[0-9A-F]{40}$'; then
    echo "FAIL: a data-file column is not an entry file name"; fail=1
fi
# The size column is the stored (encoded) size.
gz_size=$(stat -c %s "$site/app.js.gz")
if ! awk -F'\t' -v u="$base/app.js" -v s="$gz_size" '$6 == u && $3 == s {ok=1} END {exit !ok}' "$work/list.txt"; then
    echo "FAIL: app.js is not listed with its stored size $gz_size"; fail=1
fi

# A comb with a filter that takes everything.
cat > "$work/all.flt" <<FLT
[GENERAL]
HarvixFilter=1
Hint=everything

[FILTER_0]
ContentType=0
Disabled=0
MinSize=0
URL=
MinWeidth=0
MinHeight=0
Directory=$work/out
FileNameDummy=file
FLT
"$cli" comb mozilla --filter "$work/all.flt" --one-copy --no-skip-duplicates \
    >"$work/kept.txt" 2>"$work/comb.err" || { cat "$work/comb.err"; exit 1; }
cat "$work/comb.err"
for f in index.html small.png photo.jpg anim.gif big.png style.css app.js lib.js; do
    found=0
    while IFS= read -r kept; do
        if cmp -s "$kept" "$work/served/$f"; then found=1; break; fi
    done <"$work/kept.txt"
    if [ $found = 0 ]; then echo "FAIL: no kept file equals $f as served (decoded)"; fail=1; fi
done
if [ "$(wc -l <"$work/kept.txt")" -ne 8 ]; then
    echo "FAIL: expected 8 kept files:"; cat "$work/kept.txt"; fail=1
fi
[ $fail = 0 ] && echo "PASS: firefox-esr's cache2 listed and combed"
exit $fail
