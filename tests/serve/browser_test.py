#!/usr/bin/env python3
"""Drives headless Chromium through chromedriver (the W3C WebDriver protocol, spoken here over
plain HTTP) against `orrinfold serve` of a copy of the example site: the page shows, an edit of
an included header reloads it with the new text, a broken directive shows the error overlay
with its location, and the fix takes the overlay away. Exits 77 (skipped) when no browser or
driver is installed.
Usage: browser_test.py ORRINFOLD EXAMPLE-SITE"""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

SKIP = 77


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for(what, check, timeout=15.0):
    deadline = time.monotonic() + timeout
    while True:
        try:
            result = check()
            if result:
                return result
        except (OSError, ValueError):
            pass
        if time.monotonic() > deadline:
            sys.exit(f"timed out waiting for {what}")
        time.sleep(0.05)


class Browser:
    """A WebDriver session: just the calls this test needs."""

    def __init__(self, driver_port):
        self.base = f"http://127.0.0.1:{driver_port}"
        args = ["--headless=new", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1024,768"]
        if os.geteuid() == 0:
            args.append("--no-sandbox")  # Chromium's sandbox refuses to run as root (CI)
        chrome = {"args": args}
        if shutil.which("chromium"):
            chrome["binary"] = shutil.which("chromium")
        session = self.call("POST", "/session",
                            {"capabilities": {"alwaysMatch": {"goog:chromeOptions": chrome}}})
        self.session = f"/session/{session['sessionId']}"

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request(self.base + path, data=data, method=method,
                                         headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(request, timeout=60) as response:
            return json.load(response)["value"]

    def get(self, url):
        self.call("POST", self.session + "/url", {"url": url})

    def run(self, script):
        return self.call("POST", self.session + "/execute/sync", {"script": script, "args": []})

    def quit(self):
        self.call("DELETE", self.session)


OVERLAY = """var host = document.querySelector('orrinfold-overlay');
return host && host.shadowRoot ? host.shadowRoot.textContent : null;"""


def check_site(browser, url, site):
    header = os.path.join(site, "include", "header.inc")
    with open(header, encoding="utf-8") as f:
        original = f.read()

    browser.get(url)
    if "Millbrook Astronomy Club" not in browser.run("return document.body.innerText"):
        sys.exit("the home page does not show the club's name")
    wait_for("the live-reload stream", lambda: browser.run(
        "var s = document.querySelector('script[data-page]'); return !!s;"))
    time.sleep(0.3)  # the event stream connects

    # An edited include: the page reloads (the marker set in this document goes) with the new text.
    browser.run("window.orrinfoldMarker = 1; return 0")
    with open(header, "w", encoding="utf-8") as f:
        f.write(original.replace("Millbrook Astronomy Club</span>", "Millbrook Star Club</span>"))
    wait_for("the page to reload with the edited header", lambda: browser.run(
        "return !window.orrinfoldMarker && document.body.innerText.indexOf('Millbrook Star Club') >= 0"))

    # A broken directive: the overlay names where it is.
    broken = original.replace('<span class="club">', '<!--#include virtual="/include/missing.inc" --><span class="club">')
    with open(header, "w", encoding="utf-8") as f:
        f.write(broken)
    text = wait_for("the error overlay", lambda: browser.run(OVERLAY))
    if "include/header.inc:11:1" not in text or "error" not in text or "included from" not in text:
        sys.exit(f"the overlay does not locate the error: {text!r}")

    # The fix takes it away.
    with open(header, "w", encoding="utf-8") as f:
        f.write(original)
    wait_for("the overlay to go", lambda: browser.run(OVERLAY) is None and browser.run(
        "return document.body.innerText.indexOf('Millbrook Astronomy Club') >= 0"))


def main():
    orrinfold, example = sys.argv[1], sys.argv[2]
    chromedriver = shutil.which("chromedriver")
    if not chromedriver or not (shutil.which("chromium") or shutil.which("google-chrome")):
        print("skipped: chromium and chromedriver are needed (scripts/install-deps.sh installs them)")
        return SKIP
    with tempfile.TemporaryDirectory() as work:
        site = os.path.join(work, "site")
        shutil.copytree(example, site)
        port, driver_port = free_port(), free_port()
        env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))
        env.pop("BROWSER", None)
        serve = subprocess.Popen([orrinfold, "serve", "-q", "--port", str(port), site, os.path.join(work, "out")],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        driver = subprocess.Popen([chromedriver, f"--port={driver_port}"], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        browser = None
        try:
            url = f"http://127.0.0.1:{port}/"
            wait_for("the server", lambda: urllib.request.urlopen(url + "index.shtml", timeout=2).status == 200)
            wait_for("chromedriver", lambda: urllib.request.urlopen(
                f"http://127.0.0.1:{driver_port}/status", timeout=2).status == 200)
            browser = Browser(driver_port)
            check_site(browser, url, site)
        finally:
            if browser:
                browser.quit()
            driver.terminate()
            driver.wait(timeout=10)
            serve.send_signal(signal.SIGINT)
            out, err = serve.communicate(timeout=20)
        if serve.returncode != 0 or "Stopped serving" not in err:
            sys.exit(f"serve did not stop cleanly after Ctrl-C (status {serve.returncode}):\n{out}{err}")
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
