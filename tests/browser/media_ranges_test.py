#!/usr/bin/env python3
"""Media fetched in ranges, through both real browsers.

Serves a sound (a WAV made here) and a video (tests/data/media/clip.webm)
from a server on 127.0.0.1 that honours Range (206 Partial Content,
Accept-Ranges), and a longer sound whose first answer is cut off after a
third and whose later requests get nothing. Debian's chromium and
firefox-esr, headless, each with HOME and XDG_* in a temporary folder, play
them on a page; then
  * `harvix-cli comb BROWSER` keeps the two clips played to their end, each
    once and byte for byte as served;
  * nothing of the clip cut off is kept, and chromium's cache, which keeps
    its first third, has it counted as "incomplete media".
Usage: media_ranges_test.py HARVIX_CLI
Exit 77 (skipped) when a browser is missing.
"""
import http.server
import math
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading

from browserlib import browser_env, chromium_command, serve

HERE = os.path.dirname(os.path.abspath(__file__))
MEDIA = os.path.join(HERE, "..", "data", "media")


def wav(seconds, rate=8000):
    """An 8-bit mono WAV of a 440 Hz tone."""
    count = int(seconds * rate)
    data = bytes(int(128 + 100 * math.sin(2 * math.pi * 440 * i / rate)) & 0xFF for i in range(count))
    return (b"RIFF" + struct.pack("<I", 36 + count) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, rate, 1, 8) + b"data" + struct.pack("<I", count) + data)


BODIES = {
    "/clip.wav": ("audio/wav", wav(3.0)),
    "/clip.webm": ("video/webm", open(os.path.join(MEDIA, "clip.webm"), "rb").read()),
    "/cut.wav": ("audio/wav", wav(20.0)),
}
PAGE = b"""<!doctype html><html><head><title>media</title></head><body>
<audio id=a src="/clip.wav" autoplay></audio>
<video id=v src="/clip.webm" autoplay muted></video>
<audio src="/cut.wav" autoplay></audio>
<script>
var ended = 0;
// Firefox ends when its page closes its window (?close); chromium prints the page.
function finish() { if (location.search == '?close') window.close(); }
function done() { if (++ended == 2) { document.title = 'done'; setTimeout(finish, 2000); } }
document.getElementById('a').onended = done;
document.getElementById('v').onended = done;
setTimeout(finish, 30000);
</script></body></html>"""
FIREFOX_PREFS = """user_pref("media.autoplay.default", 0);
user_pref("media.autoplay.blocking_policy", 0);
user_pref("dom.allow_scripts_to_close_windows", true);
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
"""


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    cut_answered = False  # the cut clip has been answered once (per browser)
    lock = threading.Lock()

    def do_GET(self):
        path = self.path.partition("?")[0]
        if path == "/index.html":
            self.answer(200, "text/html", PAGE, [])
            return
        if path not in BODIES:
            self.answer(404, "text/plain", b"", [])
            return
        kind, body = BODIES[path]
        first, last = 0, len(body) - 1
        match = re.fullmatch(r"bytes=(\d*)-(\d*)", self.headers.get("Range", ""))
        if match and match.group(1):
            first = int(match.group(1))
            last = min(int(match.group(2)), last) if match.group(2) else last
        part = body[first:last + 1]
        status = 206 if match else 200
        extra = [("Content-Range", "bytes %d-%d/%d" % (first, last, len(body)))] if match else []
        if path == "/cut.wav":
            with Handler.lock:
                again = Handler.cut_answered
                Handler.cut_answered = True
            if again:  # the server has gone: no answer at all
                self.close_connection = True
                return
            # The length of the whole range is promised, a third is sent.
            self.answer(status, kind, part[:len(part) // 3], extra, len(part))
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        self.answer(status, kind, part, extra)

    def answer(self, status, kind, body, extra, length=None):
        self.send_response(status)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(body) if length is None else length))
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Cache-Control", "max-age=86400")
        self.send_header("Last-Modified", "Mon, 01 Jan 2024 00:00:00 GMT")
        self.send_header("ETag", '"%s"' % self.path.split("?")[0].strip("/"))
        for name, value in extra:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def log_message(self, *args):
        pass


def play(word, env, base):
    """Plays the page; returns what harvix-cli takes as --cache (none: found)."""
    if word == "mozilla":
        profile = os.path.join(env["HOME"], "profile")
        os.makedirs(profile)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            prefs.write(FIREFOX_PREFS)
        args = ["firefox-esr", "--headless", "--no-remote", "--profile", profile, base + "/index.html?close"]
        # The page closes its window when the clips have ended; Firefox then ends.
        subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                       check=True)
        return ["--cache", os.path.join(profile, "cache2")]
    args = chromium_command(env, "--autoplay-policy=no-user-gesture-required", "--virtual-time-budget=10000",
                            "--dump-dom", base + "/index.html")
    # The clips are fetched whole long before they have played.
    subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120,
                   check=True)
    return []


def check_browser(word, cli, base, home):
    env = browser_env(home)
    cache = play(word, env, base)
    listing = subprocess.run([cli, "list", word] + cache, env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, timeout=60)
    if listing.returncode != 0:
        return ["list failed: " + listing.stderr]
    failures = []
    folder = os.path.join(home, "kept")
    filter_file = os.path.join(home, "media.flt")
    with open(filter_file, "w") as f:
        f.write("[GENERAL]\nHarvixFilter=1\n\n[FILTER_0]\nContentType=0\nDisabled=0\nMinSize=0\n"
                "URL=127.0.0.1\nMinWeidth=0\nMinHeight=0\nDirectory=%s\nFileNameDummy=file\n" % folder)
    comb = subprocess.run([cli, "comb", word, "--filter", filter_file, "--no-skip-duplicates"] + cache,
                          env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    if comb.returncode != 0:
        return ["comb failed: " + comb.stderr]
    kept = [open(path, "rb").read() for path in comb.stdout.splitlines()]
    for path in ("/clip.wav", "/clip.webm"):
        count = kept.count(BODIES[path][1])
        if count != 1:
            failures.append("%s kept %d times, not once as served" % (path, count))
    cut = BODIES["/cut.wav"][1]
    if any(len(data) > 1000 and cut.startswith(data) for data in kept):
        failures.append("a piece of the clip cut off was kept")
    if word == "chromium" and "incomplete media" not in listing.stderr:
        failures.append("the clip cut off is not counted as incomplete media: " + listing.stderr)
    print("%s: listed %d entries, kept %d files; %s" % (word, len(listing.stdout.splitlines()), len(kept),
                                                       listing.stderr.strip().replace("\n", "; ")))
    return failures


def main():
    cli = sys.argv[1]
    missing = [tool for tool in ("firefox-esr", "chromium") if shutil.which(tool) is None]
    if missing:
        print("missing (scripts/deps installs them):", " ".join(missing))
        return 77
    failures = []
    with tempfile.TemporaryDirectory(prefix="harvix-media-") as work:
        server, base = serve(Handler)
        try:
            for word in ("mozilla", "chromium"):
                home = os.path.join(work, word)
                os.makedirs(home)
                Handler.cut_answered = False
                failures += ["%s: %s" % (word, failure) for failure in check_browser(word, cli, base, home)]
        finally:
            server.shutdown()
    for failure in failures:
        print("FAIL:", failure)
    if not failures:
        print("PASS: both browsers' media fetched in ranges kept whole, the clip cut off not at all")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
