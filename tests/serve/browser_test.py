#!/usr/bin/env python3
"""Drives headless Chromium through chromedriver with Selenium against `orrinfold serve` of a
copy of the example site: the page shows, an edit of
an included header reloads it with the new text, a broken directive shows the error overlay
with its location, and the fix takes the overlay away. Exits 77 (skipped) when the browser, its
driver or Selenium is not installed.
Usage: browser_test.py ORRINFOLD EXAMPLE-SITE"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
except ImportError:
    webdriver = None

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
    """A Selenium session with headless Chromium: just the calls this test needs."""

    def __init__(self, chromedriver):
        options = webdriver.ChromeOptions()
        for argument in ("--headless=new", "--disable-gpu", "--disable-dev-shm-usage", "--window-size=1024,768"):
            options.add_argument(argument)
        if os.geteuid() == 0:
            options.add_argument("--no-sandbox")  # Chromium's sandbox refuses to run as root (CI)
        if shutil.which("chromium"):
            options.binary_location = shutil.which("chromium")
        self.driver = webdriver.Chrome(service=Service(executable_path=chromedriver), options=options)

    def get(self, url):
        self.driver.get(url)

    def run(self, script):
        return self.driver.execute_script(script)

    def quit(self):
        self.driver.quit()


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
    if not chromedriver or not (shutil.which("chromium") or shutil.which("google-chrome")) or webdriver is None:
        print("skipped: chromium, chromedriver and Selenium are needed (scripts/install-deps.sh installs them)")
        return SKIP
    with tempfile.TemporaryDirectory() as work:
        site = os.path.join(work, "site")
        shutil.copytree(example, site)
        port = free_port()
        env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))
        env.pop("BROWSER", None)
        serve = subprocess.Popen([orrinfold, "serve", "-q", "--port", str(port), site, os.path.join(work, "out")],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        browser = None
        try:
            url = f"http://127.0.0.1:{port}/"
            wait_for("the server", lambda: urllib.request.urlopen(url + "index.shtml", timeout=2).status == 200)
            browser = Browser(chromedriver)
            check_site(browser, url, site)
        finally:
            if browser:
                browser.quit()
            serve.send_signal(signal.SIGINT)
            out, err = serve.communicate(timeout=20)
        if serve.returncode != 0 or "Stopped serving" not in err:
            sys.exit(f"serve did not stop cleanly after Ctrl-C (status {serve.returncode}):\n{out}{err}")
    print("ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
