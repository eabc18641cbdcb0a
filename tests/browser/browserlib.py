"""What the real-browser tests share: a home of their own for the browser,
the flags that keep a headless browser to the loopback site, and the
loopback server itself."""

import http.server
import os
import subprocess
import threading

# Headless Chromium that talks to nobody but the test's server.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--no-first-run", "--disable-gpu",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync"]


def browser_env(home):
    """The environment of a browser run whose home, XDG folders included, is `home`."""
    env = dict(os.environ)
    env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_CACHE_HOME=os.path.join(home, ".cache"), XDG_DATA_HOME=os.path.join(home, ".local/share"),
               XDG_RUNTIME_DIR=os.path.join(home, "run"))
    for name in ("XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"):
        os.makedirs(env[name], mode=0o700, exist_ok=True)
    return env


def chromium_command(env, *args):
    """chromium with the test's flags and its profile in the test's home."""
    return (["chromium"] + CHROMIUM_FLAGS +
            ["--user-data-dir=" + os.path.join(env["XDG_CONFIG_HOME"], "chromium")] + list(args))


def screenshot_command(word, env, url):
    """The browser (mozilla: firefox-esr, else chromium) loading `url` once for a screenshot."""
    shot = os.path.join(env["HOME"], "shot.png")
    if word in ("mozilla", "firefox"):
        return ["firefox-esr", "--headless", "--screenshot", shot, url]
    return chromium_command(env, "--screenshot=" + shot, url)


def run_quietly(args, env, timeout=180):
    subprocess.run(args, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=timeout,
                   check=True)


def serve(handler):
    """Starts `handler` on a free loopback port; returns the server and its base address."""
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d" % server.server_address[1]
