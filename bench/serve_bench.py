#!/usr/bin/env python3
"""Times `orrinfold serve` from saving a file to a browser receiving the reload event:
  - an include used by 200 pages of a generated medium site (target: under 300 ms),
  - one page of the example site (target: under 50 ms),
  - with REBUILD-BENCH: the fragment 200 of the 20,000 pages of rebuild_bench's large site
    include (50,000 files; for comparison, its own figures are ratios to `cp -r`).
Each figure is the median of a few saves. The event stream is read as a browser would.
Usage: serve_bench.py ORRINFOLD EXAMPLE-SITE [REBUILD-BENCH]"""
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SAVES = 7


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def medium_site(root, pages=200):
    """200 pages of about 12 KB, each reading one shared header and a footer, with assets."""
    os.makedirs(os.path.join(root, "include"))
    with open(os.path.join(root, "include", "header.inc"), "w") as f:
        f.write("<header><h1>Site</h1><nav>" + "<a href='/x.html'>link</a>" * 40 + "</nav></header>\n")
    with open(os.path.join(root, "include", "footer.inc"), "w") as f:
        f.write("<footer><!--#echo var='DOCUMENT_NAME' --></footer>\n")
    body = "<p>" + "Lorem ipsum dolor sit amet, consectetur adipiscing elit. " * 200 + "</p>\n"
    for n in range(pages):
        folder = os.path.join(root, f"section{n % 10}")
        os.makedirs(os.path.join(folder, "img"), exist_ok=True)
        with open(os.path.join(folder, f"page{n}.shtml"), "w") as f:
            f.write(f"<!DOCTYPE html><html><head><title>Page {n}</title></head><body>\n"
                    '<!--#include virtual="/include/header.inc" -->\n' + body +
                    '<!--#include virtual="/include/footer.inc" --></body></html>\n')
        with open(os.path.join(folder, "img", f"pic{n}.png"), "wb") as f:
            f.write(os.urandom(8192))


def open_stream(port):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.sendall(b"GET /__orrinfold/events HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: text/event-stream\r\n\r\n")
    sock.settimeout(10)
    buffered = b""
    while b"\ndata: " not in buffered:  # the headers, then the event a browser gets on connecting
        buffered += sock.recv(65536)
    return sock


def time_saves(port, path, edit):
    sock = open_stream(port)
    times = []
    for n in range(SAVES):
        time.sleep(0.4)  # let the last rebuild settle
        try:
            sock.setblocking(False)
            while sock.recv(65536):
                pass
        except BlockingIOError:
            pass
        sock.setblocking(True)
        start = time.monotonic()
        with open(path, "w") as f:
            f.write(edit(n))
        data = b""
        while b'"pages":["' not in data:
            data += sock.recv(65536)
        times.append((time.monotonic() - start) * 1000)
    sock.close()
    return statistics.median(times), max(times)


def measure(orrinfold, site, work, path, edit):
    port = free_port()
    env = dict(os.environ, XDG_CACHE_HOME=os.path.join(work, "cache"))
    serve = subprocess.Popen([orrinfold, "serve", "-q", "--port", str(port), site, os.path.join(work, "out")],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
    try:
        line = ""
        while "Watching" not in line:
            line = serve.stderr.readline()
            if not line:
                sys.exit("serve ended before watching")
        return time_saves(port, path, edit)
    finally:
        serve.terminate()
        serve.wait(timeout=20)


def main():
    orrinfold, example = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(dir="/dev/shm" if os.path.isdir("/dev/shm") else None) as work:
        site = os.path.join(work, "medium")
        medium_site(site)
        header = os.path.join(site, "include", "header.inc")
        with open(header) as f:
            text = f.read()
        median, worst = measure(orrinfold, site, os.path.join(work, "m"), header,
                                lambda n: text.replace("Site", f"Site {n}"))
        print(f"include used by 200 pages: median {median:.0f} ms, worst {worst:.0f} ms (target < 300 ms)")

        site = os.path.join(work, "example")
        shutil.copytree(example, site)
        page = os.path.join(site, "about.shtml")
        with open(page) as f:
            text = f.read()
        median, worst = measure(orrinfold, site, os.path.join(work, "e"), page,
                                lambda n: text.replace("</p>", f" {n}</p>", 1))
        print(f"one page of the example site: median {median:.0f} ms, worst {worst:.0f} ms (target < 50 ms)")

        if len(sys.argv) > 3:
            site = os.path.join(work, "large")
            subprocess.run([sys.argv[3], "--make-site", site], check=True, stdout=subprocess.DEVNULL)
            notice = os.path.join(site, "include", "notice.inc")
            median, worst = measure(orrinfold, site, os.path.join(work, "l"), notice,
                                    lambda n: f"<p class=\"notice\">Notice {n}</p>\n")
            print(f"include used by 200 of 20,000 pages (50,000 files): median {median:.0f} ms, worst {worst:.0f} ms")


if __name__ == "__main__":
    main()
