#!/usr/bin/env python3
"""Converts the example site with --rename-pages html --check-links and serves the output
with python3 -m http.server, as a static host would: "/", "/news/" and every page must be
served, and no local link may lead nowhere.
Usage: static_host_test.py ORRINFOLD EXAMPLE-SITE"""
import http.client
import os
import socket
import subprocess
import sys
import tempfile
import time


def main():
    orrinfold, site = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as work:
        out = os.path.join(work, "out")
        run = subprocess.run([orrinfold, "--rename-pages", "html", "--check-links", "-q", site, out],
                             capture_output=True, text=True)
        summary = run.stdout.strip().splitlines()[-1] if run.stdout.strip() else ""
        if run.returncode != 0 or not summary.endswith("; 0 broken links"):
            sys.exit(f"conversion failed or found broken links:\n{run.stdout}{run.stderr}")
        # A UTF-16 page is rewritten too, and stays UTF-16.
        with open(os.path.join(out, "intl", "index.html"), "rb") as page:
            wide = page.read()
        if not wide.startswith(b"\xff\xfe") or 'href="/index.html"' not in wide.decode("utf-16"):
            sys.exit("intl/index.html: its link to the renamed home page was not rewritten")
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        server = subprocess.Popen([sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1",
                                   "--directory", out], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            pages = ["/", "/news/"] + sorted("/" + os.path.relpath(os.path.join(folder, name), out)
                                             for folder, _, names in os.walk(out) for name in names
                                             if name.endswith(".html"))
            for attempt in range(100):
                try:
                    http.client.HTTPConnection("127.0.0.1", port, timeout=5).request("HEAD", "/")
                    break
                except OSError:
                    time.sleep(0.05)
            for page in pages:
                connection = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
                connection.request("GET", page)
                response = connection.getresponse()
                body = response.read()
                if response.status != 200 or not body:
                    sys.exit(f"{page}: HTTP {response.status}")
            print(f"{len(pages)} pages served, no broken links")
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    main()
